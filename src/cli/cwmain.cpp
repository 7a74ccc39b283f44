#include "audiofile.h"
#include "cwstream.h"
#include "descriptordevice.h"
#include "linetimestamp.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <optional>

#include <unistd.h>

namespace tovrin3 {

namespace {

constexpr const char *ProgramName = "tovrin3-cw";
const QString StandardInputName = QStringLiteral("-");
constexpr double LowestRawRate = 8000.0;
constexpr double HighestRawRate = 192000.0;
constexpr qint64 RawReadSize = 16 * 1024;

enum ExitStatus : int
{
    Success = 0,
    Failure = 1,
    UsageError = 2
};

struct Settings
{
    std::optional<double> rawRate;
    bool timestamps = false;
    std::optional<QDateTime> start;
    bool verbose = false;
    QStringList inputs;
};

struct CommandLine
{
    enum class Action
    {
        Copy,
        ShowHelp,
        ShowVersion,
        RejectUsage
    };
    Action action = Action::Copy;
    QString usageError;
    Settings settings;
};

CommandLine rejectUsage(const QString &message)
{
    return {CommandLine::Action::RejectUsage, message, {}};
}

// The time in any form tovrin3-decode reads before a frame line, "2026-12-06T18:57:44Z" and the
// like.
std::optional<QDateTime> utcTime(const QString &text)
{
    Timestamp timestamp;
    if (!timestamp.read(text))
        return std::nullopt;
    QDateTime time = QDateTime::fromString(timestamp.text(), Qt::ISODateWithMs);
    if (!time.isValid())
        return std::nullopt;
    return time.toUTC();
}

std::optional<CommandLine> takeValues(const QCommandLineParser &parser, Settings &settings)
{
    if (parser.isSet(QStringLiteral("raw-rate"))) {
        bool isNumber = false;
        const double rate = parser.value(QStringLiteral("raw-rate")).toDouble(&isNumber);
        if (!isNumber || rate < LowestRawRate || rate > HighestRawRate)
            return rejectUsage(QStringLiteral("--raw-rate takes a rate from 8000 to 192000 Hz, "
                                              "not '%1'")
                                   .arg(parser.value(QStringLiteral("raw-rate"))));
        settings.rawRate = rate;
    }
    if (parser.isSet(QStringLiteral("start"))) {
        settings.start = utcTime(parser.value(QStringLiteral("start")));
        if (!settings.start)
            return rejectUsage(QStringLiteral("--start takes a UTC time such as "
                                              "2026-12-06T18:57:44Z, not '%1'")
                                   .arg(parser.value(QStringLiteral("start"))));
    }
    return std::nullopt;
}

// The rules that tie the options to the inputs.
std::optional<CommandLine> checkCombination(const Settings &settings)
{
    const bool readsStandardInput = settings.inputs.contains(StandardInputName);
    const bool readsFiles = settings.inputs.count(StandardInputName) < settings.inputs.size();
    if (readsStandardInput && !settings.rawRate)
        return rejectUsage(QStringLiteral("raw samples on standard input need their rate: "
                                          "--raw-rate HZ"));
    if (settings.start && !settings.timestamps)
        return rejectUsage(QStringLiteral("--start only serves --timestamps"));
    if (settings.timestamps && readsFiles && !settings.start)
        return rejectUsage(QStringLiteral("--timestamps on a FILE needs --start TIME, the UTC "
                                          "time the recording began"));
    if (settings.start && settings.inputs.size() > 1)
        return rejectUsage(QStringLiteral("--start gives the beginning of one recording; name "
                                          "one FILE"));
    return std::nullopt;
}

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOptions({
        {QStringLiteral("raw-rate"), QString(), QStringLiteral("HZ")},
        {QStringLiteral("timestamps"), QString()},
        {QStringLiteral("start"), QString(), QStringLiteral("TIME")},
        {QStringLiteral("verbose"), QString()},
        {QStringLiteral("help"), QString()},
        {QStringLiteral("version"), QString()},
    });
    if (!parser.parse(arguments))
        return rejectUsage(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        return {CommandLine::Action::ShowHelp, {}, {}};
    if (parser.isSet(QStringLiteral("version")))
        return {CommandLine::Action::ShowVersion, {}, {}};
    CommandLine commandLine;
    Settings &settings = commandLine.settings;
    settings.timestamps = parser.isSet(QStringLiteral("timestamps"));
    settings.verbose = parser.isSet(QStringLiteral("verbose"));
    settings.inputs = parser.positionalArguments();
    if (settings.inputs.isEmpty())
        settings.inputs.append(StandardInputName);
    if (auto rejected = takeValues(parser, settings))
        return *rejected;
    if (auto rejected = checkCombination(settings))
        return *rejected;
    return commandLine;
}

void printUsage()
{
    std::printf(
        "Usage: %s [OPTION...] [FILE...]\n"
        "Copies the Morse code (CW) in each audio FILE and writes the text to standard output,\n"
        "one line per transmission. A FILE is read by its content: WAV, FLAC, Ogg Vorbis or Ogg\n"
        "Opus, 8 kHz to 192 kHz, any number of channels. With no FILE, or when FILE is -, reads\n"
        "raw signed 16-bit little-endian mono samples from standard input, as an SDR program\n"
        "writes them, and writes each line as soon as its transmission ends.\n"
        "\n"
        "  --raw-rate HZ     the sample rate of standard input, 8000 to 192000 (needed there)\n"
        "  --timestamps      begin each line with the UTC time of its first element and a '|',\n"
        "                    as tovrin3-decode --format csv or json reads it; on standard input\n"
        "                    the time a sample arrived, in a FILE --start plus its offset\n"
        "  --start TIME      the UTC time the recording began, 2026-12-06T18:57:44Z\n"
        "  --verbose         report on standard error the pitch and speed the copy locks on\n"
        "  --help            show this help and exit\n"
        "  --version         show the version and exit\n"
        "\n"
        "Example: rtl_fm -M usb -f FREQUENCY -s 48k - |\n"
        "           %s --raw-rate 48000 --timestamps - | tovrin3-decode --format csv\n"
        "\n"
        "Exit status: 0 when every input was copied, 1 when an input could not be read or\n"
        "the output could not be written, 2 for a wrong option.\n",
        ProgramName, ProgramName);
}

void printVersion()
{
    std::printf("%s %s\n", ProgramName, TOVRIN3_VERSION);
}

void printUsageError(const QString &message)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", ProgramName,
                 qPrintable(message), ProgramName);
}

// Standard error: messages, and while a file is read a progress line when a person watches.
class StatusLine
{
public:
    StatusLine() : m_showsProgress(::isatty(STDERR_FILENO) == 1) {}

    void progress(const QString &name, double fraction)
    {
        const int percent = static_cast<int>(fraction * 100.0);
        if (!m_showsProgress || percent == m_percent)
            return;
        m_percent = percent;
        std::fprintf(stderr, "\r%s: %s: %d %%\033[K", ProgramName, qPrintable(name), percent);
        std::fflush(stderr);
    }

    void clearProgress()
    {
        if (m_percent >= 0)
            std::fputs("\r\033[K", stderr);
        m_percent = -1;
    }

    void report(const QString &name, const QString &message)
    {
        clearProgress();
        std::fprintf(stderr, "%s: %s: %s\n", ProgramName, qPrintable(name), qPrintable(message));
    }

    void reportLock(const QString &name, const morse::CwLock &lock, double seconds)
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
    explicit Copier(const Settings &settings) : m_settings(settings) {}

    Outcome copyFile(const QString &name);
    Outcome copyStandardInput();
    int writeFailureStatus() const;

private:
    bool writeLine(const QString &text, const QDateTime &time)
    {
        const QByteArray line = cwOutputLine(text, m_settings.timestamps ? time : QDateTime());
        return m_output.write(line) == line.size();
    }

    const Settings &m_settings;
    DescriptorDevice m_output{STDOUT_FILENO, QIODevice::WriteOnly,
                              DescriptorDevice::Ownership::Borrowed};
    StatusLine m_status;
};

// A file is demodulated to its end before its lines are written, so that a file found damaged
// part way through writes nothing.
Outcome Copier::copyFile(const QString &name)
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
    if (!copy.error.isEmpty()) {
        m_status.report(name, copy.error);
        return Outcome::InputFailed;
    }
    for (const morse::CopiedLine &line : copy.lines) {
        const QDateTime time =
            m_settings.start ? timeInto(*m_settings.start, line.startSeconds) : QDateTime();
        if (!writeLine(line.text, time))
            return Outcome::WriteFailed;
    }
    return Outcome::Copied;
}

Outcome Copier::copyStandardInput()
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
        for (const TimedLine &line : copier.takeLines())
            if (!writeLine(line.text, line.startTime))
                return Outcome::WriteFailed;
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

int copyInputs(const Settings &settings)
{
    Copier copier(settings);
    int status = Success;
    for (const QString &name : settings.inputs) {
        const Outcome outcome = name == StandardInputName ? copier.copyStandardInput()
                                                          : copier.copyFile(name);
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
    // A closed pipe then shows as a failed write, which ends the program quietly.
    std::signal(SIGPIPE, SIG_IGN);
    const QCoreApplication application(argc, argv);
    const CommandLine commandLine = parseCommandLine(QCoreApplication::arguments());
    switch (commandLine.action) {
    case CommandLine::Action::ShowHelp:
        printUsage();
        return Success;
    case CommandLine::Action::ShowVersion:
        printVersion();
        return Success;
    case CommandLine::Action::RejectUsage:
        printUsageError(commandLine.usageError);
        return UsageError;
    case CommandLine::Action::Copy:
        break;
    }
    return copyInputs(commandLine.settings);
}
