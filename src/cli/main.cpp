// SPDX-License-Identifier: GPL-3.0-or-later
#include "audiofile.h"
#include "commandline.h"
#include "cwstream.h"
#include "descriptordevice.h"
#include "framerecords.h"
#include "linediagnostics.h"
#include "stationcommand.h"
#include "streamdecoding.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include <QBuffer>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

namespace tovrin3 {

namespace {

using namespace Qt::StringLiterals;

constexpr const char *ProgramName = "tovrin3-decode";
constexpr const char *StandardInputName = "-";
// The strict check named at least one line.
constexpr int ProblemsFound = 3;

ProgramDescription decoderProgram()
{
    return {
        .name = QString::fromLatin1(ProgramName),
        .synopsis = u"[OPTION...] [FILE...]"_s,
        .description =
            u"Decodes the KAMO TOVRIN-III CW beacon frames in each FILE and writes every frame "
            u"to standard output. Each FILE is one beacon text, its frames numbered from 1. "
            u"A FILE whose content is audio is first copied to text lines as tovrin3-cw copies "
            u"it. With no FILE, or when FILE is -, reads standard input."_s,
        .epilogue =
            u"With csv and json a line may begin with the UTC time its frame was received and "
            u"a '|', as in 2026-12-06T18:57:44Z|QT7XMRKT3HKD 900140010C6A00A503 (a space for "
            u"the T and fractions of a second are fine); a line with a '|' after anything else "
            u"is not a frame there. The report format reads every line as the window does.\n\n"
            u"Exit status: 0 when every input was decoded, 1 when an input could not be read or "
            u"the output could not be written, 2 for a wrong option, 3 when --strict named a "
            u"line."_s,
        .version = QString::fromLatin1(TOVRIN3_VERSION),
    };
}

struct DecodeRequest
{
    OutputFormat format = OutputFormat::Report;
    bool strict = false;
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

// The arguments as the program received them, in order. A file name need not be text in the
// locale's encoding, and its decoded form could name no file; the bytes always name the file.
std::vector<QByteArray> argumentBytes(const QStringList &arguments, int argc, char **argv)
{
    std::vector<QByteArray> bytes;
    int index = 1;
    for (const QString &argument : arguments) {
        while (index < argc && QString::fromLocal8Bit(argv[index]) != argument)
            ++index;
        bytes.emplace_back(index < argc ? QByteArray(argv[index++]) : QFile::encodeName(argument));
    }
    return bytes;
}

void reportError(const QByteArray &name, const QString &reason)
{
    std::fprintf(stderr, "%s: %s: %s\n", ProgramName, name.constData(), qPrintable(reason));
}

// An audio recording becomes the lines tovrin3-cw writes for it, through the same copy; null
// after an error, which is reported.
std::unique_ptr<QIODevice> copyAudio(const QByteArray &name, station::StationCommand &station)
{
    const morse::AudioFileCopy copy = morse::copyAudioFile(QFile::decodeName(name));
    if (!copy.error.isEmpty()) {
        reportError(name, copy.error);
        return nullptr;
    }
    station.recordingCopied(name, copy.lines);
    auto text = std::make_unique<QBuffer>();
    text->open(QIODevice::WriteOnly);
    for (const morse::CopiedLine &line : copy.lines)
        text->write(cwOutputLine(line.text));
    text->close();
    text->open(QIODevice::ReadOnly);
    return text;
}

std::unique_ptr<QIODevice> openInput(const QByteArray &name, station::StationCommand &station)
{
    if (name != StandardInputName && morse::isAudioFile(QFile::decodeName(name)))
        return copyAudio(name, station);
    if (name == StandardInputName)
        return std::make_unique<DescriptorDevice>(STDIN_FILENO, QIODevice::ReadOnly,
                                                  DescriptorDevice::Ownership::Borrowed);
    const int descriptor = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        reportError(name, QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
    return std::make_unique<DescriptorDevice>(descriptor, QIODevice::ReadOnly,
                                              DescriptorDevice::Ownership::Owned);
}

// A reader that closed the pipe early wants no more output and needs no message about it.
int reportWriteFailure(const DescriptorDevice &output)
{
    if (output.systemError() != EPIPE)
        reportError("standard output", output.errorString());
    return Failure;
}

// The CSV header row comes once, before the rows of all inputs.
bool writeTableStart(OutputFormat format, bool withSource, DescriptorDevice &output)
{
    if (format != OutputFormat::Csv)
        return true;
    QByteArray header;
    appendCsvHeader(header, withSource);
    return output.write(header) == header.size();
}

int decodeInputs(const DecodeRequest &request, station::StationCommand &station)
{
    DescriptorDevice output(STDOUT_FILENO, QIODevice::WriteOnly,
                            DescriptorDevice::Ownership::Borrowed);
    DescriptorDevice errors(STDERR_FILENO, QIODevice::WriteOnly,
                            DescriptorDevice::Ownership::Borrowed);
    LineDiagnostics diagnostics(errors);
    // Rows and blocks from several inputs say which input they come from.
    const bool withSource = request.inputs.size() > 1;
    if (!writeTableStart(request.format, withSource, output))
        return reportWriteFailure(output);
    int status = Success;
    for (const QByteArray &name : request.inputs) {
        const std::unique_ptr<QIODevice> input = station.watch(openInput(name, station), name);
        if (!input) {
            status = Failure;
            continue;
        }
        diagnostics.setInputName(name);
        DecodeSettings settings{request.format, request.strict ? &diagnostics : nullptr, {}};
        if (withSource)
            settings.source = QFile::decodeName(name);
        switch (decodeStream(*input, output, settings)) {
        case StreamOutcome::Decoded:
            break;
        case StreamOutcome::ReadFailed:
            reportError(name, input->errorString());
            status = Failure;
            break;
        case StreamOutcome::WriteFailed:
            return reportWriteFailure(output);
        }
    }
    return status == Success && diagnostics.count() > 0 ? ProblemsFound : status;
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
    const QCommandLineOption strictOption(
        u"strict"_s, u"name on standard error every line that is not a frame, every temperature "
                     u"with mixed sign bits and every kill-switch byte above 3; empty lines and "
                     u"lines of white space are not named"_s);
    commandLine.addOption(formatOption, u"report, csv or json"_s);
    commandLine.addOption(strictOption);
    const station::StationOptions stationOptions;
    for (const QCommandLineOption &option : stationOptions.all())
        commandLine.addOption(option);
    if (const std::optional<int> status = commandLine.parse(CommandLine::arguments(argc, argv)))
        return *status;

    const QCommandLineParser &parser = commandLine.parser();
    const QString formatName = parser.value(formatOption);
    const std::optional<OutputFormat> format = formatNamed(formatName);
    if (!format)
        return commandLine.rejectUsage(u"unknown format '"_s + formatName +
                                       u"': use report, csv or json"_s);
    DecodeRequest request{*format, parser.isSet(strictOption), {}};
    request.inputs = argumentBytes(parser.positionalArguments(), argc, argv);
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
