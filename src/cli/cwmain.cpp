// SPDX-License-Identifier: GPL-3.0-or-later
#include "audiofile.h"
#include "commandline.h"
#include "cwstream.h"
#include "descriptordevice.h"
#include "doubtfulmark.h"
#include "linetimestamp.h"
#include "stationcommand.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <algorithm>
#include <array>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>
#include <vector>

#include <unistd.h>

namespace tovrin3 {

namespace {

using namespace Qt::StringLiterals;

constexpr const char *ProgramName = "tovrin3-cw";
const QByteArray StandardInputName = "-";
constexpr double LowestRawRate = morse::LowestSampleRate;
constexpr double HighestRawRate = morse::HighestSampleRate;
// Line times are written with a four-digit year.
constexpr int LatestStartYear = 9999;
constexpr qint64 RawReadSize = 16 * 1024;

ProgramDescription cwProgram()
{
    return {
        .name = QString::fromLatin1(ProgramName),
        .synopsis = u"[OPTION...] [FILE...]"_s,
        .description =
            u"Copies the Morse code (CW) in each audio FILE and writes the text to standard "
            u"output, one line per transmission. A FILE is read by its content: WAV, FLAC, Ogg "
            u"Vorbis or Ogg Opus, 4 kHz to 192 kHz, any number of channels. With no FILE, or "
            u"when FILE is -, reads raw signed 16-bit little-endian mono samples from standard "
            u"input, as an SDR program writes them, and writes each line as soon as its "
            u"transmission ends."_s,
        .epilogue =
            u"Example: rtl_fm -M usb -f FREQUENCY -s 48k - | tovrin3-cw --raw-rate 48000 "
            u"--timestamps - | tovrin3-decode --format csv\n\n"
            u"A beacon frame whose digits are doubtful is written with a mark after them, as "
            u"in QT7XMRKT3HKD 9001400I0C6A00A503 [DOUBTFUL:CONFIDENCE=0.42]; tovrin3-decode and "
            u"the window skip such a line.\n\n"
            u"With --log or --submit the frames copied are also kept in the station log, at the "
            u"time they were heard (on standard input) or the recording's start plus their "
            u"offset (--start, else the recording's date tag or a time in its file name), and "
            u"with --submit sent to the SiDS servers of conf.ini, as tovrin3-decode does. The "
            u"lines written do not change.\n\n"
            u"Exit status: 0 when every input was copied, 1 when an input could not be read or "
            u"was found damaged (the lines copied before the damage are still written), the "
            u"output could not be written or the station log could not be written, 2 for a wrong "
            u"option or station settings that are missing or wrong."_s,
        .version = QString::fromLatin1(TOVRIN3_VERSION),
    };
}

struct Settings
{
    std::optional<double> rawRate;
    bool timestamps = false;
    bool logs = false; // --log, --submit or --submit-dry-run
    std::optional<QDateTime> start;
    bool verbose = false;
    std::vector<QByteArray> inputs;
};

struct Options
{
    QCommandLineOption rawRate{u"raw-rate"_s,
                               u"the sample rate of standard input, 4000 to 192000 (needed "
                               u"there)"_s,
                               u"HZ"_s};
    QCommandLineOption timestamps{
        u"timestamps"_s, u"begin each line with the UTC time of its first element and a '|', "
                         u"as tovrin3-decode --format csv or json reads it: on standard input "
                         u"the time its samples arrived, in a FILE --start plus its offset"_s};
    QCommandLineOption start{u"start"_s,
                             u"the UTC time the recording began, as 2026-12-06T18:57:44Z (for "
                             u"--timestamps, --log and --submit)"_s,
                             u"TIME"_s};
    QCommandLineOption verbose{u"verbose"_s,
                               u"report on standard error the pitch and speed the copy locks on"_s};
};

// The time in any form tovrin3-decode reads before a frame line, "2026-12-06T18:57:44Z" and the
// like.
std::optional<QDateTime> utcTime(const QString &text)
{
    Timestamp timestamp;
    if (!timestamp.read(text))
        return std::nullopt;
    const QDateTime time = QDateTime::fromString(timestamp.text(), Qt::ISODateWithMs);
    if (!time.isValid() || time.toUTC().date().year() > LatestStartYear)
        return std::nullopt;
    return time.toUTC();
}

// Reads the option values; returns the usage error, if any.
std::optional<QString> takeValues(const QCommandLineParser &parser, const Options &options,
                                  Settings &settings)
{
    settings.timestamps = parser.isSet(options.timestamps);
    settings.verbose = parser.isSet(options.verbose);
    if (settings.inputs.empty())
        settings.inputs.push_back(StandardInputName);
    if (parser.isSet(options.rawRate)) {
        bool isNumber = false;
        const double rate = parser.value(options.rawRate).toDouble(&isNumber);
        // Written so that a rate that is no number (nan) fails too.
        if (!isNumber || !(rate >= LowestRawRate && rate <= HighestRawRate))
            return u"--raw-rate takes a rate from 4000 to 192000 Hz, not '%1'"_s.arg(
                parser.value(options.rawRate));
        settings.rawRate = rate;
    }
    if (parser.isSet(options.start)) {
        settings.start = utcTime(parser.value(options.start));
        if (!settings.start)
            return u"--start takes a UTC time up to the year 9999 such as 2026-12-06T18:57:44Z, "
                   u"not '%1'"_s.arg(parser.value(options.start));
    }
    return std::nullopt;
}

// The rules that tie the options to the inputs; returns the usage error, if any.
std::optional<QString> checkCombination(const Settings &settings)
{
    const auto standardInputs = std::ranges::count(settings.inputs, StandardInputName);
    const bool readsStandardInput = standardInputs > 0;
    const bool readsFiles = standardInputs < std::ssize(settings.inputs);
    if (readsStandardInput && !settings.rawRate)
        return u"raw samples on standard input need their rate: --raw-rate HZ"_s;
    if (settings.start && !settings.timestamps && !settings.logs)
        return u"--start only serves --timestamps, --log and --submit"_s;
    if (settings.timestamps && readsFiles && !settings.start)
        return u"--timestamps on a FILE needs --start TIME, the UTC time the recording began"_s;
    if (settings.start && settings.inputs.size() > 1)
        return u"--start gives the beginning of one recording; name one FILE"_s;
    return std::nullopt;
}

// Standard error: messages, and while a file is read a progress line when a person watches.
class StatusLine
{
public:
    StatusLine() : m_showsProgress(::isatty(STDERR_FILENO) == 1) {}

    void progress(const QByteArray &name, double fraction)
    {
        const int percent = static_cast<int>(fraction * 100.0);
        if (!m_showsProgress || percent == m_percent)
            return;
        m_percent = percent;
        std::fprintf(stderr, "\r%s: %s: %d %%\033[K", ProgramName, name.constData(), percent);
        std::fflush(stderr);
    }

    void clearProgress()
    {
        if (m_percent >= 0)
            std::fputs("\r\033[K", stderr);
        m_percent = -1;
    }

    void report(const QByteArray &name, const QString &message)
    {
        clearProgress();
        std::fprintf(stderr, "%s: %s: %s\n", ProgramName, name.constData(), qPrintable(message));
    }

    void reportLock(const QByteArray &name, const morse::CwLock &lock, double seconds)
    {
        const QString at = QStringLiteral("%1 s").arg(seconds, 0, 'f', 1);
        if (lock.pitchHz <= 0.0)
            report(name, at + QStringLiteral(": lost the signal"));
        else
            report(name, at + QStringLiteral(": locked on %1 Hz, %2 WPM")
                                  .arg(qRound(lock.pitchHz))
                                  .arg(qRound(lock.wordsPerMinute)));
    }

private:
    const bool m_showsProgress;
    int m_percent = -1;
};

enum class Outcome
{
    Copied,
    InputFailed,
    WriteFailed
};

class Copier
{
public:
    Copier(const Settings &settings, station::StationCommand &station)
        : m_settings(settings), m_station(station)
    {
    }

    Outcome copyFile(const QByteArray &name);
    Outcome copyStandardInput();
    int writeFailureStatus() const;

private:
    Outcome copyStream();
    // A time past the year 9999 cannot be written: the input fails there instead of giving
    // lines without their time.
    Outcome writeLine(const QByteArray &name, const QString &text, const QDateTime &time)
    {
        if (m_settings.timestamps && time.isValid() &&
            time.toUTC().date().year() > LatestStartYear) {
            m_status.report(name, u"the line times run past the year 9999: --start is too late"_s);
            return Outcome::InputFailed;
        }
        const QByteArray line = cwOutputLine(text, m_settings.timestamps ? time : QDateTime());
        return m_output.write(line) == line.size() ? Outcome::Copied : Outcome::WriteFailed;
    }

    const Settings &m_settings;
    station::StationCommand &m_station;
    DescriptorDevice m_output{STDOUT_FILENO, QIODevice::WriteOnly,
                              DescriptorDevice::Ownership::Borrowed};
    StatusLine m_status;
};

// A file is demodulated to its end before its lines are written; a file found damaged part way
// through still gives the lines copied before the damage, then the error.
Outcome Copier::copyFile(const QByteArray &name)
{
    const auto progress = [&](double fraction) {
        m_status.progress(name, fraction);
        return true;
    };
    const auto lockChanged = [&](const morse::CwLock &lock, double seconds) {
        if (m_settings.verbose)
            m_status.reportLock(name, lock, seconds);
    };
    const morse::AudioFileCopy copy = morse::copyAudioFile(name, progress, lockChanged);
    m_status.clearProgress();
    m_station.recordingCopied(name, copy.lines);
    for (const morse::CopiedLine &line : copy.lines) {
        const QDateTime time =
            m_settings.start ? timeInto(*m_settings.start, line.startSeconds) : QDateTime();
        const Outcome written =
            writeLine(name, copiedLineText(line.text, line.doubtful, line.frameConfidence), time);
        if (written != Outcome::Copied)
            return written;
    }
    if (!copy.error.isEmpty()) {
        m_status.report(name, copy.error);
        return Outcome::InputFailed;
    }
    return Outcome::Copied;
}

// A demodulator whose library fails (out of memory) fails the input with the reason; the lines
// written before stay.
Outcome Copier::copyStandardInput()
{
    try {
        return copyStream();
    } catch (const std::exception &failure) {
        m_status.report(StandardInputName, QString::fromLocal8Bit(failure.what()));
        return Outcome::InputFailed;
    }
}

Outcome Copier::copyStream()
{
    DescriptorDevice input(STDIN_FILENO, QIODevice::ReadOnly,
                           DescriptorDevice::Ownership::Borrowed);
    const SystemUtcClock clock;
    RawStreamCopier copier(*m_settings.rawRate, clock, m_settings.start);
    morse::CwLockWatch lockWatch;
    QByteArray bytes(RawReadSize, Qt::Uninitialized);
    for (;;) {
        const qint64 count = input.read(bytes.data(), bytes.size());
        if (count < 0) {
            m_status.report(StandardInputName, input.errorString());
            return Outcome::InputFailed;
        }
        if (count == 0)
            copier.finish();
        else
            copier.write(QByteArrayView(bytes.constData(), count));
        if (m_settings.verbose)
            if (const auto lock = lockWatch.update(copier.demodulator()))
                m_status.reportLock(StandardInputName, *lock, copier.secondsRead());
        for (const TimedLine &line : copier.takeLines()) {
            m_station.lineHeard(StandardInputName, line.copied, line.startTime);
            if (const Outcome written = writeLine(StandardInputName, line.text, line.startTime);
                written != Outcome::Copied)
                return written;
        }
        if (count == 0)
            return Outcome::Copied;
    }
}

// A reader that closed the pipe early wants no more output and needs no message about it.
int Copier::writeFailureStatus() const
{
    if (m_output.systemError() != EPIPE)
        std::fprintf(stderr, "%s: standard output: %s\n", ProgramName,
                     qPrintable(m_output.errorString()));
    return Failure;
}

int copyInputs(const Settings &settings, station::StationCommand &station)
{
    Copier copier(settings, station);
    int status = Success;
    for (const QByteArray &name : settings.inputs) {
        const Outcome outcome =
            name == StandardInputName ? copier.copyStandardInput() : copier.copyFile(name);
        if (outcome == Outcome::WriteFailed)
            return copier.writeFailureStatus();
        if (outcome == Outcome::InputFailed)
            status = Failure;
    }
    return status;
}

} // namespace

} // namespace tovrin3

int main(int argc, char **argv)
{
    using namespace tovrin3;
    using namespace Qt::StringLiterals;
    // A closed pipe then shows as a failed write, which ends the program quietly.
    std::signal(SIGPIPE, SIG_IGN);
    CommandLine commandLine(cwProgram());
    const Options options;
    commandLine.addOption(options.rawRate, u"a rate from 4000 to 192000 Hz"_s);
    commandLine.addOption(options.timestamps);
    commandLine.addOption(options.start, u"a UTC time such as 2026-12-06T18:57:44Z"_s);
    commandLine.addOption(options.verbose);
    const station::StationOptions stationOptions;
    for (const QCommandLineOption &option :
         {stationOptions.log, stationOptions.submit, stationOptions.dryRun})
        commandLine.addOption(option);
    if (const std::optional<int> status = commandLine.parse(CommandLine::arguments(argc, argv)))
        return *status;
    Settings settings;
    settings.inputs = commandLine.positionalBytes(argc, argv);
    std::optional<QString> usageError = takeValues(commandLine.parser(), options, settings);
    station::StationCommand station(commandLine.parser(), stationOptions,
                                    int(settings.inputs.size()), QString::fromLatin1(ProgramName));
    settings.logs = std::ranges::any_of(
        std::array{&stationOptions.log, &stationOptions.submit, &stationOptions.dryRun},
        [&](const QCommandLineOption *option) { return commandLine.parser().isSet(*option); });
    if (!usageError)
        usageError = station.usageError();
    if (!usageError)
        usageError = checkCombination(settings);
    if (usageError)
        return commandLine.rejectUsage(*usageError);
    if (const std::optional<int> status = station.begin())
        return *status;
    return station.finish(copyInputs(settings, station));
}
