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
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace tovrin3::testing {

class StationHome
{
public:
    StationHome()
    {
        QDir().mkpath(configHome() + QStringLiteral("/tovrin3"));
        QDir().mkpath(m_dir.filePath(QStringLiteral("system/tovrin3")));
    }

    bool isValid() const { return m_dir.isValid(); }
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

// Runs a program with its arguments (never through a shell) while this process's event loop
// goes on, so that a server in the test answers it.
inline ProgramRun runProgram(const QString &program, const QStringList &arguments,
                             const QProcessEnvironment &environment,
                             const QByteArray &standardInput = {}, int timeoutMs = 60'000)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.write(standardInput);
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

} // namespace tovrin3::testing
