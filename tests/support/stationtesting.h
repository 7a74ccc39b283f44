// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A station of its own for each test: conf.ini, the station log and the programs' environment
// in a temporary folder, never the tester's own.
#include "filetesting.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <unistd.h>

namespace tovrin3::testing {

class StationHome
{
public:
    StationHome()
    {
        QDir().mkpath(configHome() + QStringLiteral("/tovrin3"));
        QDir().mkpath(m_dir.filePath(QStringLiteral("system/tovrin3")));
    }

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString configHome() const { return m_dir.filePath(QStringLiteral("config")); }
    QString dataHome() const { return m_dir.filePath(QStringLiteral("data")); }
    QString systemConfig() const { return m_dir.filePath(QStringLiteral("system")); }
    QString confIni() const { return configHome() + QStringLiteral("/tovrin3/conf.ini"); }
    QString logPath() const { return dataHome() + QStringLiteral("/tovrin3/telemetry.sqlite"); }

    bool writeConfiguration(const QByteArray &content) const
    {
        return writeFile(confIni(), content);
    }

    // Points this process's XDG folders here, for the library's own look-ups.
    void applyToThisProcess() const
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome()));
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(systemConfig()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome()));
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome());
        environment.insert(QStringLiteral("XDG_CONFIG_DIRS"), systemConfig());
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome());
        return environment;
    }

private:
    QTemporaryDir m_dir;
};

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

} // namespace tovrin3::testing
