#include "descriptordevice.h"
#include "framerecords.h"
#include "linediagnostics.h"
#include "streamdecoding.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace tovrin3 {

namespace {

constexpr const char *ProgramName = "tovrin3-decode";
constexpr std::string_view StandardInputName = "-";
constexpr std::string_view FormatOption = "--format";
constexpr std::string_view FormatOptionWithValue = "--format=";

enum ExitStatus : int
{
    Success = 0,
    Failure = 1,
    UsageError = 2,
    ProblemsFound = 3
};

struct CommandLine
{
    enum class Action
    {
        Decode,
        ShowHelp,
        ShowVersion,
        RejectUsage
    };
    Action action = Action::Decode;
    std::string usageError;
    OutputFormat format = OutputFormat::Report;
    bool strict = false;
    std::vector<const char *> inputs;
};

std::optional<OutputFormat> formatNamed(std::string_view name)
{
    if (name == "report")
        return OutputFormat::Report;
    if (name == "csv")
        return OutputFormat::Csv;
    if (name == "json")
        return OutputFormat::Json;
    return std::nullopt;
}

void rejectUsage(CommandLine &commandLine, std::string message)
{
    commandLine.action = CommandLine::Action::RejectUsage;
    commandLine.usageError = std::move(message);
}

// Takes the value of --format, given as "--format=VALUE" or as the next argument; returns false
// after a usage error.
bool takeFormat(CommandLine &commandLine, std::string_view argument, int &index, int argc,
                char **argv)
{
    std::string_view value;
    if (argument.starts_with(FormatOptionWithValue)) {
        value = argument.substr(FormatOptionWithValue.size());
    } else if (index + 1 < argc) {
        value = argv[++index];
    } else {
        rejectUsage(commandLine, "option '--format' needs a value: report, csv or json");
        return false;
    }
    const std::optional<OutputFormat> format = formatNamed(value);
    if (!format) {
        rejectUsage(commandLine,
                    "unknown format '" + std::string(value) + "': use report, csv or json");
        return false;
    }
    commandLine.format = *format;
    return true;
}

CommandLine parseCommandLine(int argc, char **argv)
{
    CommandLine commandLine;
    for (int index = 1; index < argc; ++index) {
        const std::string_view argument = argv[index];
        if (argument == "--help") {
            commandLine.action = CommandLine::Action::ShowHelp;
            return commandLine;
        }
        if (argument == "--version") {
            commandLine.action = CommandLine::Action::ShowVersion;
            return commandLine;
        }
        if (argument == "--strict") {
            commandLine.strict = true;
            continue;
        }
        if (argument == FormatOption || argument.starts_with(FormatOptionWithValue)) {
            if (!takeFormat(commandLine, argument, index, argc, argv))
                return commandLine;
            continue;
        }
        if (argument.starts_with('-') && argument != StandardInputName) {
            rejectUsage(commandLine, "unknown option '" + std::string(argument) + "'");
            return commandLine;
        }
        commandLine.inputs.push_back(argv[index]);
    }
    if (commandLine.inputs.empty())
        commandLine.inputs.push_back(StandardInputName.data());
    return commandLine;
}

void printUsage()
{
    std::printf(
        "Usage: %s [OPTION...] [FILE...]\n"
        "Decodes the KAMO TOVRIN-III CW beacon frames in each FILE and writes every frame to\n"
        "standard output. Each FILE is one beacon text, its frames numbered from 1. With no\n"
        "FILE, or when FILE is -, reads standard input.\n"
        "\n"
        "  --format=FORMAT  how to write the frames (also --format FORMAT):\n"
        "                     report  the window's report, a block per frame (the default)\n"
        "                     csv     a table: a header row, then a row per frame\n"
        "                     json    JSON Lines: an object per frame, one per line\n"
        "  --strict         name on standard error every line that is not a frame, every\n"
        "                   temperature with mixed sign bits and every kill-switch byte\n"
        "                   above 3; empty lines and lines of white space are not named\n"
        "  --help           show this help and exit\n"
        "  --version        show the version and exit\n"
        "\n"
        "With csv and json a line may begin with the UTC time its frame was received and a\n"
        "'|', as in 2026-12-06T18:57:44Z|QT7XMRKT3HKD 900140010C6A00A503 (a space for the T\n"
        "and fractions of a second are fine); a line with a '|' after anything else is not a\n"
        "frame there. The report format reads every line as the window does.\n"
        "\n"
        "Exit status: 0 when every input was decoded, 1 when an input could not be read or\n"
        "the output could not be written, 2 for a wrong option, 3 when --strict named a line.\n",
        ProgramName);
}

void printVersion()
{
    std::printf("%s %s\n", ProgramName, TOVRIN3_VERSION);
}

void printUsageError(const std::string &message)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", ProgramName,
                 message.c_str(), ProgramName);
}

void reportError(const char *name, const QString &reason)
{
    std::fprintf(stderr, "%s: %s: %s\n", ProgramName, name, qPrintable(reason));
}

std::unique_ptr<DescriptorDevice> openInput(const char *name)
{
    if (name == StandardInputName)
        return std::make_unique<DescriptorDevice>(STDIN_FILENO, QIODevice::ReadOnly,
                                                  DescriptorDevice::Ownership::Borrowed);
    const int descriptor = ::open(name, O_RDONLY | O_CLOEXEC);
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
bool writeTableStart(OutputFormat format, DescriptorDevice &output)
{
    if (format != OutputFormat::Csv)
        return true;
    QByteArray header;
    appendCsvHeader(header);
    return output.write(header) == header.size();
}

int decodeInputs(const CommandLine &commandLine)
{
    DescriptorDevice output(STDOUT_FILENO, QIODevice::WriteOnly,
                            DescriptorDevice::Ownership::Borrowed);
    DescriptorDevice errors(STDERR_FILENO, QIODevice::WriteOnly,
                            DescriptorDevice::Ownership::Borrowed);
    LineDiagnostics diagnostics(errors);
    const DecodeSettings settings{commandLine.format, commandLine.strict ? &diagnostics : nullptr};
    if (!writeTableStart(commandLine.format, output))
        return reportWriteFailure(output);
    int status = Success;
    for (const char *name : commandLine.inputs) {
        const std::unique_ptr<DescriptorDevice> input = openInput(name);
        if (!input) {
            status = Failure;
            continue;
        }
        diagnostics.setInputName(name);
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
    // A closed pipe then shows as a failed write, which ends the program quietly.
    std::signal(SIGPIPE, SIG_IGN);
    const CommandLine commandLine = parseCommandLine(argc, argv);
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
    case CommandLine::Action::Decode:
        break;
    }
    return decodeInputs(commandLine);
}
