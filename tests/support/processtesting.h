// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Running the package's programs from the tests, all through stationtesting.h's one runner:
// in this process's environment, redirected, or with arguments that are no text.
#include "stationtesting.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTest>

#include <unistd.h>
#include <vector>

namespace tovrin3::testing {

// The program in this process's own environment.
inline ProgramRun runProgram(const QString &program, const QStringList &arguments,
                             const QByteArray &standardInput = {})
{
    return runProgram(program, arguments, QProcessEnvironment::systemEnvironment(), standardInput);
}

// The columns of a table of runs: the arguments and standard input, and the whole output,
// diagnostics and exit code the run must give.
inline void addRunColumns()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("standardInput");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QByteArray>("errors");
    QTest::addColumn<int>("exitCode");
}

inline void addRun(const char *name, const QStringList &arguments, const QByteArray &standardInput,
                   const QByteArray &output, const QByteArray &errors, int exitCode)
{
    QTest::newRow(name) << arguments << standardInput << output << errors << exitCode;
}

// Runs the program as the current row of such a table says and compares everything it gives.
inline void checkRun(const QString &program)
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, standardInput);
    const ProgramRun run = runProgram(program, arguments, standardInput);
    QTEST(run.output, "output");
    QTEST(run.errors, "errors");
    QTEST(run.exitCode, "exitCode");
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

// The program in a working folder of its own (empty: this one), with its standard output sent to
// a file when one is named, such as /dev/full, which refuses every write.
inline ProgramRun
runIn(const QString &workingFolder, const QString &program, const QStringList &arguments,
      const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
      const QString &outputFile = {})
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingFolder);
    if (!outputFile.isEmpty())
        process.setStandardOutputFile(outputFile);
    return runPrepared(process, program, arguments);
}

inline ProgramRun
runWithOutputTo(const QString &program, const QStringList &arguments, const QString &outputFile,
                const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    return runIn({}, program, arguments, environment, outputFile);
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
    return runPrepared(process, program, arguments, standardInput, endInput);
}

// The program with a file as its standard input, as a shell's `< file` gives it.
inline ProgramRun runWithInputFile(const QString &program, const QStringList &arguments,
                                   const QString &inputFile)
{
    QProcess process;
    process.setStandardInputFile(inputFile);
    return runPrepared(process, program, arguments);
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
    return runPrepared(process, program, {});
}

} // namespace tovrin3::testing
