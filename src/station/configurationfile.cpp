// SPDX-License-Identifier: GPL-3.0-or-later
#include "configurationfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringList>

#include <algorithm>

#include <unistd.h>

namespace tovrin3 {

namespace {

QStringView trimmedOfSpaces(QStringView text)
{
    while (text.startsWith(u' '))
        text = text.sliced(1);
    while (text.endsWith(u' '))
        text.chop(1);
    return text;
}

bool isLineEnd(char character)
{
    return character == '\r' || character == '\n';
}

// Content read up to one byte beyond the limit. A longer file is cut at the limit, and the line
// the cut runs through is dropped rather than applied in part ("SCREENSHOT=YES" cut to
// "SCREENSHOT=Y" would hide the button).
QByteArray completeLines(QByteArray content)
{
    if (content.size() <= MaxConfigurationBytes)
        return content;
    const bool cutAtLineEnd = isLineEnd(content.at(MaxConfigurationBytes));
    content.truncate(MaxConfigurationBytes);
    if (!cutAtLineEnd)
        content.truncate(std::max(content.lastIndexOf('\r'), content.lastIndexOf('\n')) + 1);
    return content;
}

} // namespace

QString configurationText(QByteArrayView fileContent)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(fileContent);
    return utf8.hasError() ? QString::fromLatin1(fileContent) : text;
}

QList<QStringView> configurationLines(QStringView text)
{
    QList<QStringView> lines;
    qsizetype lineStart = 0;
    for (qsizetype position = 0; position < text.size(); ++position) {
        const QChar character = text.at(position);
        if (character != u'\r' && character != u'\n')
            continue;
        lines.append(text.sliced(lineStart, position - lineStart));
        if (character == u'\r' && position + 1 < text.size() && text.at(position + 1) == u'\n')
            ++position;
        lineStart = position + 1;
    }
    if (lineStart < text.size())
        lines.append(text.sliced(lineStart));
    return lines;
}

std::optional<ConfigurationEntry> configurationEntry(QStringView line)
{
    if (line.isEmpty() || line.startsWith(u'#'))
        return std::nullopt;
    const qsizetype separator = line.indexOf(u'=');
    if (separator < 0)
        return std::nullopt;
    return ConfigurationEntry{trimmedOfSpaces(line.first(separator)).toString().toUpper(),
                              trimmedOfSpaces(line.sliced(separator + 1)).toString()};
}

// Only a regular file (or a link to one) counts: opening a FIFO named conf.ini would wait for a
// writer and hold up start-up for good.
ConfigurationLocation locateConfigurationFile(const QString &programFolder)
{
    QStringList candidates{programFolder + QDir::separator() + QStringLiteral("conf.ini")};
    for (const QString &folder :
         QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation))
        candidates.append(folder + QStringLiteral("/tovrin3/conf.ini"));
    const auto found = std::ranges::find_if(
        candidates, [](const QString &candidate) { return QFileInfo(candidate).isFile(); });
    if (found == candidates.end())
        return {};
    // The first folder of the standard locations is $XDG_CONFIG_HOME; the rest come from
    // $XDG_CONFIG_DIRS, which the system administers.
    const bool userFolder = found - candidates.begin() <= 1;
    return {*found, userFolder && QFileInfo(*found).ownerId() == ::geteuid()};
}

QString findConfigurationFile(const QString &programFolder)
{
    return locateConfigurationFile(programFolder).path;
}

QString userConfigurationFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tovrin3/conf.ini");
}

std::optional<QByteArray> readConfigurationFile(const QString &path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return completeLines(file.read(MaxConfigurationBytes + 1));
}

} // namespace tovrin3
