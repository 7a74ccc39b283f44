// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

namespace tovrin3 {

// Only this much of conf.ini is read, so a huge or binary file cannot hold up start-up; a line
// that runs past it is not applied.
inline constexpr qint64 MaxConfigurationBytes = 1024 * 1024;

// The text of a conf.ini: UTF-8 or, where that is not valid UTF-8, Latin-1 (an older editor's
// file). A byte order mark is dropped.
QString configurationText(QByteArrayView fileContent);

// The lines of a conf.ini; a line ends at CR, CR+LF or a bare LF.
QList<QStringView> configurationLines(QStringView text);

// One "KEY=value" line of a conf.ini.
struct ConfigurationEntry
{
    QString key; // upper case: keys ignore case
    QString value;
};

// The entry a line makes: a line starting with "#" in its very first column is a comment and an
// empty line or one without "=" makes none; otherwise the text before the first "=" is the key,
// the rest the value, both with spaces (not tabs) trimmed. The value keeps its case.
std::optional<ConfigurationEntry> configurationEntry(QStringView line);

// Where the conf.ini in use was found: the first regular file of
// - conf.ini beside the program (a portable copy),
// - $XDG_CONFIG_HOME/tovrin3/conf.ini (usually ~/.config),
// - tovrin3/conf.ini in each folder of $XDG_CONFIG_DIRS, in order (usually /etc/xdg).
struct ConfigurationLocation
{
    QString path; // empty when there is none
    // Beside the program or in $XDG_CONFIG_HOME, and owned by this user: a file that may turn on
    // what only the user may decide, such as sharing the station's data.
    bool userOwned = false;
};
ConfigurationLocation locateConfigurationFile(const QString &programFolder);

// The path of locateConfigurationFile(); only the first is read, even when it cannot be opened.
QString findConfigurationFile(const QString &programFolder);

// $XDG_CONFIG_HOME/tovrin3/conf.ini, where this user's own settings are written.
QString userConfigurationFile();

// The content of a conf.ini to parse: at most MaxConfigurationBytes, a line that the limit cuts
// dropped whole. None when the file cannot be read.
std::optional<QByteArray> readConfigurationFile(const QString &path);

} // namespace tovrin3
