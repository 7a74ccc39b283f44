// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A station of its own for each test: conf.ini, the station log and the programs' environment
// in a temporary folder, never the tester's own. Its programs run through processtesting.h.
#include "filetesting.h"
#include "processtesting.h"

#include <QByteArray>
#include <QDir>
#include <QProcessEnvironment>
#include <QString>
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

} // namespace tovrin3::testing
