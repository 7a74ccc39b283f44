// SPDX-License-Identifier: GPL-3.0-or-later
#include "audiofile.h"
#include "commandline.h"
#include "cwstream.h"
#include "descriptordevice.h"
#include "framerecords.h"
#include "inputcontent.h"
#include "linediagnostics.h"
#include "logexport.h"
#include "stationcommand.h"
#include "streamdecoding.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tovrin3 {

namespace {

using namespace Qt::StringLiterals;

constexpr const char *ProgramName = "tovrin3-decode";
constexpr const char *StandardInputName = "-";
// The strict check named at least one line.
constexpr int ProblemsFound = 3;
constexpr const char *NeitherTextNorAudio =
    "neither text nor an audio recording (raw samples are read by tovrin3-cw --raw-rate)";

ProgramDescription decoderProgram()
{
    return {
        .name = QString::fromLatin1(ProgramName),
        .synopsis = u"[OPTION...] [FILE...]"_s,
        .description =
            u"Decodes the KAMO TOVRIN-III CW beacon frames in each FILE and writes every frame "
            u"to standard output. Each FILE is one beacon text, its frames numbered from 1. "
            u"A FILE whose content is audio (told by its first bytes, also in a pipe) is first "
            u"copied to text lines as tovrin3-cw copies it; text is UTF-8, or UTF-16 with a "
            u"byte-order mark. With no FILE, or when FILE is -, reads standard input."_s,
        .epilogue =
            u"With csv and json a line may begin with the UTC time its frame was received and "
            u"a '|', as in 2026-12-06T18:57:44Z|QT7XMRKT3HKD 900140010C6A00A503 (a space for "
            u"the T and fractions of a second are fine); a line with a '|' after anything else "
            u"is not a frame there. The report format reads every line as the window does.\n\n"
            u"A frame tovrin3-cw marks doubtful, as in QT7XMRKT3HKD 9001400I0C6A00A503 "
            u"[DOUBTFUL:CONFIDENCE=0.42], is left out unless --keep-doubtful is given. CSV and "
            u"JSON end in a confidence column when an input is audio or with --keep-doubtful.\n\n"
            u"Exit status: 0 when every input was decoded, 1 when an input could not be read, "
            u"was neither text nor audio or was damaged audio, or the output could not be "
            u"written, 2 for a wrong option, 3 when --strict named a "
            u"line."_s,
        .version = QString::fromLatin1(TOVRIN3_VERSION),
    };
}

struct DecodeRequest
{
    OutputFormat format = OutputFormat::Report;
    bool strict = false;
    bool keepDoubtful = false;
    std::vector<QByteArray> inputs;
};

std::optional<OutputFormat> formatNamed(const QString &name)
{
    if (name == u"report")
        return OutputFormat::Report;
    if (name == u"csv")
        return OutputFormat::Csv;
    if (name == u"json")
        return OutputFormat::Json;
    return std::nullopt;
}

void reportError(const QByteArray &name, const QString &reason)
{
    std::fprintf(stderr, "%s: %s: %s\n", ProgramName, name.constData(), qPrintable(reason));
}

// One input as named, opened by the bytes of its name, its first bytes read to tell what it
// holds.
struct Input
{
    QByteArray name;
    std::unique_ptr<QIODevice> device;
    QByteArray head; // read from the device already
    InputContent content = InputContent::Utf8Text;
    // A regular file named by the user, which can be opened again by its name. Standard input
    // never is, even when the shell redirected a file to it: its head is read already.
    bool isNamedFile = false;
};

// Whether the first bytes already tell text: a line of it has ended, and no NUL came (the
// headers of recordings hold NUL bytes in their first few dozen), or a UTF-16 byte-order mark.
bool isToldText(QByteArrayView head)
{
    if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF"))
        return true;
    return (head.contains('\n') || head.contains('\r')) && !head.contains('\0');
}

// Reads until the content can be told: a first line of text, AudioCheckSize bytes, or the
// input's end. A pipe that delivers a text line by line is not held up beyond its first line.
bool readHead(Input &input)
{
    input.head.reserve(TextCheckSize);
    while (input.head.size() < AudioCheckSize && !isToldText(input.head)) {
        const qsizetype start = input.head.size();
        input.head.resize(TextCheckSize);
        const qint64 count = input.device->read(input.head.data() + start, TextCheckSize - start);
        input.head.resize(start + std::max<qint64>(count, 0));
        if (count < 0) {
            reportError(input.name, input.device->errorString());
            return false;
        }
        if (count == 0)
            break;
    }
    input.content = inputContent(input.head);
    return true;
}

// Null after an error, which is reported.
std::optional<Input> openInput(const QByteArray &name)
{
    Input input{name, nullptr, {}, InputContent::Utf8Text, false};
    int descriptor = STDIN_FILENO;
    auto ownership = DescriptorDevice::Ownership::Borrowed;
    if (name != StandardInputName) {
        descriptor = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0) {
            reportError(name, QString::fromLocal8Bit(std::strerror(errno)));
            return std::nullopt;
        }
        ownership = DescriptorDevice::Ownership::Owned;
    }
    struct stat status
    {
    };
    input.isNamedFile =
        name != StandardInputName && ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
    input.device = std::make_unique<DescriptorDevice>(descriptor, QIODevice::ReadOnly, ownership);
    if (!readHead(input))
        return std::nullopt;
    return input;
}

// A recording that is no named file (a pipe, a FIFO, standard input) is first copied to a
// temporary file: the audio library needs to seek.
morse::AudioFileCopy copyRecording(Input &input)
{
    morse::AudioFileReader reader;
    if (input.isNamedFile) {
        reader.open(input.name);
        return morse::copyAudio(reader);
    }
    auto copy = std::make_unique<QTemporaryFile>();
    if (!copy->open() || copy->write(input.head) != input.head.size())
        return {{}, QStringLiteral("cannot copy the stream: %1").arg(copy->errorString()), false};
    QByteArray chunk(DefaultChunkSize, Qt::Uninitialized);
    for (;;) {
        const qint64 count = input.device->read(chunk.data(), chunk.size());
        if (count < 0)
            return {{}, input.device->errorString(), false};
        if (count == 0)
            break;
        if (copy->write(chunk.constData(), count) != count)
            return {
                {}, QStringLiteral("cannot copy the stream: %1").arg(copy->errorString()), false};
    }
    copy->seek(0);
    reader.open(std::move(copy));
    return morse::copyAudio(reader);
}

// A reader that closed the pipe early wants no more output and needs no message about it.
int reportWriteFailure(const DescriptorDevice &output)
{
    if (output.systemError() != EPIPE)
        reportError("standard output", output.errorString());
    return Failure;
}

// The CSV header row comes once, before the rows of all inputs.
bool writeTableStart(const DecodeSettings &settings, DescriptorDevice &output)
{
    if (settings.format != OutputFormat::Csv)
        return true;
    QByteArray header;
    appendCsvHeader(header, settings.source.has_value(), settings.withConfidence);
    return output.write(header) == header.size();
}

enum class InputOutcome
{
    Decoded,
    Failed,
    WriteFailed
};

InputOutcome decodeInput(Input &input, DescriptorDevice &output, const DecodeSettings &settings,
                         station::StationCommand &station)
{
    if (input.content == InputContent::Unknown) {
        reportError(input.name, QString::fromLatin1(NeitherTextNorAudio));
        return InputOutcome::Failed;
    }
    if (input.content == InputContent::Recording) {
        const morse::AudioFileCopy copy = copyRecording(input);
        station.recordingCopied(input.name, copy.lines);
        if (!decodeCopiedLines(copy.lines, output, settings))
            return InputOutcome::WriteFailed;
        if (copy.error.isEmpty())
            return InputOutcome::Decoded;
        reportError(input.name, copy.error);
        return InputOutcome::Failed;
    }
    DecodeSettings textSettings = settings;
    textSettings.encoding =
        input.content == InputContent::Utf16Text ? QStringConverter::Utf16 : QStringConverter::Utf8;
    input.device =
        station.watch(std::move(input.device), input.name, input.head, textSettings.encoding);
    switch (decodeStream(*input.device, output, textSettings, DefaultChunkSize, input.head)) {
    case StreamOutcome::Decoded:
        return InputOutcome::Decoded;
    case StreamOutcome::ReadFailed:
        reportError(input.name, input.device->errorString());
        return InputOutcome::Failed;
    case StreamOutcome::NotText:
        reportError(input.name, QString::fromLatin1(NeitherTextNorAudio));
        return InputOutcome::Failed;
    case StreamOutcome::WriteFailed:
        break;
    }
    return InputOutcome::WriteFailed;
}

// Every input is looked at before the first output, as CSV and JSON carry a confidence column
// when any input is a recording. Named files are opened again when their turn comes, so that
// any number of them can be named. Standard input named again is read only at its turn, after
// the first has read it to its end, as cat reads it: looking at it early would take the bytes
// after the first one's head away from the first.
std::vector<std::optional<Input>> openInputs(const std::vector<QByteArray> &names)
{
    std::vector<std::optional<Input>> inputs;
    bool standardInputOpened = false;
    for (const QByteArray &name : names) {
        if (name == StandardInputName && standardInputOpened) {
            inputs.push_back(Input{name, nullptr, {}, InputContent::Utf8Text, false});
            continue;
        }
        standardInputOpened = standardInputOpened || name == StandardInputName;
        std::optional<Input> input = openInput(name);
        if (input && input->isNamedFile)
            input->device.reset();
        inputs.push_back(std::move(input));
    }
    return inputs;
}

int decodeInputs(const DecodeRequest &request, station::StationCommand &station)
{
    DescriptorDevice output(STDOUT_FILENO, QIODevice::WriteOnly,
                            DescriptorDevice::Ownership::Borrowed);
    DescriptorDevice errors(STDERR_FILENO, QIODevice::WriteOnly,
                            DescriptorDevice::Ownership::Borrowed);
    LineDiagnostics diagnostics(errors);
    std::vector<std::optional<Input>> inputs = openInputs(request.inputs);
    const bool anyRecording = std::ranges::any_of(inputs, [](const std::optional<Input> &input) {
        return input && input->content == InputContent::Recording;
    });
    DecodeSettings settings{request.format, request.strict ? &diagnostics : nullptr, {}};
    settings.keepDoubtful = request.keepDoubtful;
    settings.withConfidence =
        request.format != OutputFormat::Report && (anyRecording || request.keepDoubtful);
    // Rows and blocks from several inputs say which input they come from.
    const bool withSource = request.inputs.size() > 1;
    if (withSource)
        settings.source = QString();
    if (!writeTableStart(settings, output))
        return reportWriteFailure(output);
    int status = Success;
    for (std::optional<Input> &input : inputs) {
        if (input && !input->device)
            input = openInput(input->name);
        if (!input) {
            status = Failure;
            continue;
        }
        diagnostics.setInputName(input->name);
        if (withSource)
            settings.source = QFile::decodeName(input->name);
        switch (decodeInput(*input, output, settings, station)) {
        case InputOutcome::Decoded:
            break;
        case InputOutcome::Failed:
            status = Failure;
            break;
        case InputOutcome::WriteFailed:
            return reportWriteFailure(output);
        }
        input.reset();
    }
    return status == Success && diagnostics.count() > 0 ? ProblemsFound : status;
}

// The options that read the station log back instead of decoding input.
struct HistoryOptions
{
    QCommandLineOption fromLog{
        u"from-log"_s,
        u"write the frames of the station log instead of decoding input, in time order, "
        u"with the columns of a timestamped file and a \"source\" column; each frame is "
        u"numbered in its pass"_s};
    QCommandLineOption passes{u"passes"_s,
                              u"list the station log's passes instead (start, end, frames, "
                              u"battery voltage range, sources); frames more than 10 minutes "
                              u"apart belong to different passes"_s};
    QCommandLineOption since{u"since"_s,
                             u"with --from-log or --passes, the frames received at or after "
                             u"TIME (ISO 8601, UTC when it names no zone, or a date)"_s,
                             u"TIME"_s};
    QCommandLineOption until{
        u"until"_s, u"with --from-log or --passes, the frames received before TIME"_s, u"TIME"_s};
    QList<QCommandLineOption> all() const { return {fromLog, passes, since, until}; }
};

// --from-log and --passes: the log is read, nothing is decoded. A log that does not exist yet
// holds no frames.
int readLog(const CommandLine &commandLine, const HistoryOptions &options, OutputFormat format,
            bool keepDoubtful, bool hasInputs)
{
    const QCommandLineParser &parser = commandLine.parser();
    const bool listPasses = parser.isSet(options.passes);
    const QString name = listPasses ? u"--passes"_s : u"--from-log"_s;
    if (hasInputs)
        return commandLine.rejectUsage(name + u" reads the station log and takes no FILE"_s);
    for (const QString &other :
         {u"log"_s, u"submit"_s, u"submit-dry-run"_s, u"flush"_s, u"start"_s, u"strict"_s})
        if (parser.isSet(other))
            return commandLine.rejectUsage(name + u" does not go with --"_s + other);
    history::TimeRange range;
    for (const auto &[option, bound] :
         {std::pair{&options.since, &range.sinceMs}, std::pair{&options.until, &range.untilMs}}) {
        if (!parser.isSet(*option))
            continue;
        *bound = utcTimeFromText(parser.value(*option));
        if (!*bound)
            return commandLine.rejectUsage(
                u"--%1 takes a time such as 2026-12-06T18:57:44Z or 2026-12-06, not '%2'"_s.arg(
                    option->names().constFirst(), parser.value(*option)));
    }
    DescriptorDevice output(STDOUT_FILENO, QIODevice::WriteOnly,
                            DescriptorDevice::Ownership::Borrowed);
    history::HistoryLog log;
    const QString path = station::StationLog::defaultPath();
    const bool exists = QFileInfo::exists(path);
    if (exists && !log.open(path)) {
        std::fprintf(stderr, "%s: %s\n", ProgramName, qPrintable(log.errorString()));
        return Failure;
    }
    LogExportOutcome outcome = LogExportOutcome::Written;
    if (exists)
        outcome = listPasses ? writePasses(log, range, format, output)
                             : writeLoggedFrames(log, range, format, keepDoubtful, output);
    else if (format == OutputFormat::Csv) {
        QByteArray header = listPasses ? QByteArray("start,end,frames,battery_voltage_min_v,"
                                                    "battery_voltage_max_v,sources\n")
                                       : QByteArray();
        if (!listPasses)
            appendCsvHeader(header, true, keepDoubtful);
        if (output.write(header) != header.size())
            outcome = LogExportOutcome::WriteFailed;
    }
    switch (outcome) {
    case LogExportOutcome::Written:
        return Success;
    case LogExportOutcome::ReadFailed:
        std::fprintf(stderr, "%s: %s\n", ProgramName, qPrintable(log.errorString()));
        return Failure;
    case LogExportOutcome::WriteFailed:
        break;
    }
    return reportWriteFailure(output);
}

} // namespace

} // namespace tovrin3

int main(int argc, char **argv)
{
    using namespace tovrin3;
    using namespace Qt::StringLiterals;
    // A closed pipe then shows as a failed write, which ends the program quietly.
    std::signal(SIGPIPE, SIG_IGN);
    CommandLine commandLine(decoderProgram());
    const QCommandLineOption formatOption(
        u"format"_s,
        u"how to write the frames:\n"
        u"  report  the window's report (the default)\n"
        u"  csv     a table: a header row, then a row per frame\n"
        u"  json    JSON Lines: an object per frame, one per line"_s,
        u"FORMAT"_s, u"report"_s);
    const QCommandLineOption keepDoubtfulOption(
        u"keep-doubtful"_s,
        u"decode the frames marked doubtful too (see tovrin3-cw), which are left out "
        u"otherwise; csv and json then give every frame's confidence"_s);
    const QCommandLineOption strictOption(
        u"strict"_s, u"name on standard error every line that is not a frame, every temperature "
                     u"with mixed sign bits and every kill-switch byte above 3; empty lines and "
                     u"lines of white space are not named"_s);
    commandLine.addOption(formatOption, u"report, csv or json"_s);
    commandLine.addOption(keepDoubtfulOption);
    commandLine.addOption(strictOption);
    const station::StationOptions stationOptions;
    for (const QCommandLineOption &option : stationOptions.all())
        commandLine.addOption(option);
    const HistoryOptions historyOptions;
    for (const QCommandLineOption &option : historyOptions.all())
        commandLine.addOption(option);
    if (const std::optional<int> status = commandLine.parse(CommandLine::arguments(argc, argv)))
        return *status;

    const QCommandLineParser &parser = commandLine.parser();
    const QString formatName = parser.value(formatOption);
    const std::optional<OutputFormat> format = formatNamed(formatName);
    if (!format)
        return commandLine.rejectUsage(u"unknown format '"_s + formatName +
                                       u"': use report, csv or json"_s);
    DecodeRequest request{*format, parser.isSet(strictOption), parser.isSet(keepDoubtfulOption),
                          commandLine.positionalBytes(argc, argv)};
    if (parser.isSet(historyOptions.fromLog) || parser.isSet(historyOptions.passes))
        return readLog(commandLine, historyOptions, *format, request.keepDoubtful,
                       !request.inputs.empty());
    for (const QCommandLineOption &bound : {historyOptions.since, historyOptions.until})
        if (parser.isSet(bound))
            return commandLine.rejectUsage(u"--"_s + bound.names().constFirst() +
                                           u" goes with --from-log or --passes"_s);
    station::StationCommand station(parser, stationOptions, int(request.inputs.size()));
    if (const std::optional<QString> error = station.usageError())
        return commandLine.rejectUsage(*error);
    if (const std::optional<int> status = station.begin())
        return *status;
    if (station.flushOnly())
        return station.finish(Success);
    if (request.inputs.empty())
        request.inputs.emplace_back(StandardInputName);
    return station.finish(decodeInputs(request, station));
}
