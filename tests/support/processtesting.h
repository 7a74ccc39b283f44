// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Running the package's programs from the tests, all through one runner: in a given
// environment or this process's own, redirected, with arguments that are no text, or this test
// again as another user.
#include <QByteArray>
#include <QByteArrayList>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTest>

#include <optional>
#include <vector>

#include <unistd.h>

namespace tovrin3::testing {

struct ProgramRun
{
    int exitCode = -1; // -1 when the program did not end normally in time
    QByteArray output;
    QByteArray errors;
};

// The one runner of the tests: starts a program with its arguments (never through a shell) in
// the prepared process, writes its standard input and, unless told not to, ends it, while this
// process's event loop goes on, so that a server in the test answers it.
inline ProgramRun runPrepared(QProcess &process, const QString &program,
                              const QStringList &arguments, const QByteArray &standardInput = {},
                              bool endInput = true, int timeoutMs = 60'000)
{
    process.start(program, arguments);
    process.write(standardInput);
    if (endInput)
        process.closeWriteChannel();
    QElapsedTimer timer;
    timer.start();
    while (process.state() != QProcess::NotRunning && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        process.waitForFinished(5);
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

inline ProgramRun runProgram(const QString &program, const QStringList &arguments,
                             const QProcessEnvironment &environment,
                             const QByteArray &standardInput = {}, int timeoutMs = 60'000)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    return runPrepared(process, program, arguments, standardInput, true, timeoutMs);
}

struct UnprivilegedRun
{
    QString skipReason; // why the test could not run again unprivileged; empty when it did
    ProgramRun run;     // the child's: exit code 0 when the test passed there
};

// Root may write a read-only file, so a test of what a read-only file does proves nothing as
// root, which is how CI runs. As root this runs the current test function again in a child
// process of this test program under "nobody" (through setpriv, which drops the groups too),
// where the test makes its own files and finds them read-only. None when this process is not
// root: the test goes on itself.
inline std::optional<UnprivilegedRun> rerunUnprivileged()
{
    if (::geteuid() != 0)
        return std::nullopt;
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty())
        return UnprivilegedRun{QStringLiteral("root may write any file, and setpriv (util-linux) "
                                              "to run the test as another user is missing"),
                               {}};
    QString function = QString::fromLatin1(QTest::currentTestFunction());
    if (const char *tag = QTest::currentDataTag())
        function += QLatin1Char(':') + QString::fromUtf8(tag);
    const QString id = QStringLiteral("65534"); // "nobody", who owns none of the test's files
    UnprivilegedRun child;
    child.run = runProgram(setpriv,
                           {QStringLiteral("--reuid=") + id, QStringLiteral("--regid=") + id,
                            QStringLiteral("--clear-groups"), QStringLiteral("--"),
                            QCoreApplication::applicationFilePath(), function},
                           QProcessEnvironment::systemEnvironment());
    // setpriv says so and ends with 126 or 127 when "nobody" may not run this test program.
    if (child.run.errors.startsWith("setpriv:"))
        child.skipReason = QStringLiteral("root may write any file, and \"nobody\" cannot run "
                                          "the test: ") +
                           QString::fromLocal8Bit(child.run.errors.trimmed());
    return child;
}

// As root, ends the current test function with the outcome of running it again as nobody (see
// rerunUnprivileged): passed, failed with the child's report, or skipped with the reason it could
// not run there. Otherwise does nothing.
#define TOVRIN3_RUN_UNPRIVILEGED()                                                                 \
    do {                                                                                           \
        if (const auto child = ::tovrin3::testing::rerunUnprivileged()) {                          \
            if (!child->skipReason.isEmpty())                                                      \
                QSKIP(qPrintable(child->skipReason));                                              \
            QVERIFY2(child->run.exitCode == 0,                                                     \
                     ("exit code " + QByteArray::number(child->run.exitCode) + ":\n" +             \
                      child->run.output + child->run.errors)                                       \
                         .constData());                                                            \
            return;                                                                                \
        }                                                                                          \
    } while (false)

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
