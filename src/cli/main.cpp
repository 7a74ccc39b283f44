#include "descriptordevice.h"
#include "streamdecoding.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace tovrin3 {

namespace {

constexpr const char *ProgramName = "tovrin3-decode";
constexpr std::string_view StandardInputName = "-";

enum ExitStatus : int
{
    Success = 0,
    Failure = 1,
    UsageError = 2
};

struct CommandLine
{
    enum class Action
    {
        Decode,
        ShowHelp,
        ShowVersion,
        RejectOption
    };
    Action action = Action::Decode;
    const char *rejectedOption = nullptr;
    std::vector<const char *> inputs;
};

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
        if (argument.starts_with('-') && argument != StandardInputName) {
            commandLine.action = CommandLine::Action::RejectOption;
            commandLine.rejectedOption = argv[index];
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
    std::printf("Usage: %s [FILE...]\n"
                "Decodes the KAMO TOVRIN-III CW beacon frames in each FILE and writes the report\n"
                "of every frame to standard output. Each FILE is one beacon text, its frames\n"
                "numbered from #1. With no FILE, or when FILE is -, reads standard input.\n"
                "\n"
                "  --help     show this help and exit\n"
                "  --version  show the version and exit\n"
                "\n"
                "Exit status: 0 when every input was decoded, 1 when an input could not be read\n"
                "or the report could not be written, 2 for an unknown option.\n",
                ProgramName);
}

void printVersion()
{
    std::printf("%s %s\n", ProgramName, TOVRIN3_VERSION);
}

void rejectOption(const char *option)
{
    std::fprintf(stderr, "%s: unknown option '%s'\nTry '%s --help' for more information.\n",
                 ProgramName, option, ProgramName);
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

int decodeInputs(const std::vector<const char *> &inputs)
{
    DescriptorDevice output(STDOUT_FILENO, QIODevice::WriteOnly,
                            DescriptorDevice::Ownership::Borrowed);
    int status = Success;
    for (const char *name : inputs) {
        const std::unique_ptr<DescriptorDevice> input = openInput(name);
        if (!input) {
            status = Failure;
            continue;
        }
        switch (decodeStream(*input, output)) {
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
    return status;
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
    case CommandLine::Action::RejectOption:
        rejectOption(commandLine.rejectedOption);
        return UsageError;
    case CommandLine::Action::Decode:
        break;
    }
    return decodeInputs(commandLine.inputs);
}
