// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Running the package's programs from the tests: always by an argument list, never through a
// shell. The runner itself is the station tests' one, which keeps this process's event loop going.
#include "stationtesting.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <unistd.h>
#include <vector>

namespace tovrin3::testing {

// The program in this process's own environment.
inline ProgramRun runProgram(const QString &program, const QStringList &arguments,
                             const QByteArray &standardInput = {})
{
    return runProgram(program, arguments, QProcessEnvironment::systemEnvironment(), standardInput);
}

// This process's environment without a display or a platform for the windows, as on a headless
// machine.
inline QProcessEnvironment environmentWithoutDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

// What the started process gave once it has ended; nothing when it did not end normally in time.
inline ProgramRun endedRun(QProcess &process)
{
    if (!process.waitForFinished(60'000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

// Starts the prepared process with the program and waits for its end, without standard input.
inline ProgramRun finishRun(QProcess &process, const QString &program, const QStringList &arguments)
{
    process.start(program, arguments);
    process.closeWriteChannel();
    return endedRun(process);
}

// The program with its standard output sent to a file, such as /dev/full, which refuses every
// write.
inline ProgramRun
runWithOutputTo(const QString &program, const QStringList &arguments, const QString &outputFile,
                const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(outputFile);
    return finishRun(process, program, arguments);
}

// The program with its standard output a pipe whose reading end is already closed, as when the
// reader of a pipeline has stopped; its standard input is written and, when told, ended.
inline ProgramRun runIntoClosedPipe(const QString &program, const QStringList &arguments,
                                    const QByteArray &standardInput, bool endInput)
{
    QProcess process;
    process.setChildProcessModifier([] {
        int pipeEnds[2];
        if (::pipe(pipeEnds) != 0)
            return;
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
    });
    process.start(program, arguments);
    process.write(standardInput);
    if (endInput)
        process.closeWriteChannel();
    return endedRun(process);
}

// The program with a file as its standard input, as a shell's `< file` gives it.
inline ProgramRun runWithInputFile(const QString &program, const QStringList &arguments,
                                   const QString &inputFile)
{
    QProcess process;
    process.setStandardInputFile(inputFile);
    process.start(program, arguments);
    return endedRun(process);
}

// The program in a working folder of its own, for arguments that name files relative to it.
inline ProgramRun
runIn(const QString &workingFolder, const QString &program, const QStringList &arguments,
      const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingFolder);
    return finishRun(process, program, arguments);
}

// The program with arguments given as bytes, which need not be text in any encoding: QProcess
// takes arguments as text, so the child starts the program itself.
inline ProgramRun runWithBytes(const QString &program, const QByteArrayList &arguments)
{
    const QByteArray path = QFile::encodeName(program);
    std::vector<char *> argv{const_cast<char *>(path.constData())};
    for (const QByteArray &argument : arguments)
        argv.push_back(const_cast<char *>(argument.constData()));
    argv.push_back(nullptr);
    QProcess process;
    process.setChildProcessModifier([&argv] {
        ::execv(argv.front(), argv.data());
        ::_exit(127);
    });
    return finishRun(process, program, {});
}

} // namespace tovrin3::testing
