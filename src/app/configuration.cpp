// SPDX-License-Identifier: GPL-3.0-or-later
#include "configuration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringList>
#include <QStringView>

#include <algorithm>

namespace tovrin3 {

namespace {

constexpr QStringView ImagePathKey = u"IMAGE_PATH";
constexpr QStringView ScreenshotKey = u"SCREENSHOT";
constexpr QStringView ScreenshotShown = u"YES";

QStringView trimmedOfSpaces(QStringView text)
{
    while (text.startsWith(u' '))
        text = text.sliced(1);
    while (text.endsWith(u' '))
        text.chop(1);
    return text;
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

void applyLine(QStringView line, Configuration &configuration)
{
    if (line.isEmpty() || line.startsWith(u'#'))
        return;
    const qsizetype separator = line.indexOf(u'=');
    if (separator < 0)
        return;
    const QString key = trimmedOfSpaces(line.first(separator)).toString().toUpper();
    const QStringView value = trimmedOfSpaces(line.sliced(separator + 1));
    if (key == ImagePathKey)
        configuration.imageFolder = value.toString();
    else if (key == ScreenshotKey)
        configuration.screenshotButtonVisible = value.toString().toUpper() == ScreenshotShown;
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

// The system's 8-bit code page is UTF-8; a file saved in Latin-1 by an older editor is not valid
// UTF-8 and is read as Latin-1 instead. A byte order mark is dropped.
QString configurationText(QByteArrayView fileContent)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(fileContent);
    return utf8.hasError() ? QString::fromLatin1(fileContent) : text;
}

} // namespace

Configuration parseConfiguration(QByteArrayView fileContent, const QString &defaultImageFolder)
{
    Configuration configuration{defaultImageFolder, std::nullopt};
    const QString text = configurationText(fileContent);
    for (const QStringView line : configurationLines(text))
        applyLine(line, configuration);
    return configuration;
}

// Only a regular file (or a link to one) counts: opening a FIFO named conf.ini would wait for a
// writer and hold up start-up for good.
QString findConfigurationFile(const QString &programFolder)
{
    QStringList candidates{programFolder + QDir::separator() + QStringLiteral("conf.ini")};
    for (const QString &folder :
         QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation))
        candidates.append(folder + QStringLiteral("/tovrin3/conf.ini"));
    const auto found = std::ranges::find_if(
        candidates, [](const QString &candidate) { return QFileInfo(candidate).isFile(); });
    return found == candidates.end() ? QString() : *found;
}

QString defaultImageFolder(const QString &programFolder)
{
    if (QFileInfo(programFolder).isWritable())
        return programFolder + QDir::separator();
    return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) + QDir::separator();
}

Configuration loadConfiguration(const QString &programFolder)
{
    const QString imageFolder = defaultImageFolder(programFolder);
    Configuration configuration{imageFolder, std::nullopt};
    const QString path = findConfigurationFile(programFolder);
    QFile file(path);
    if (!path.isEmpty() && file.open(QIODevice::ReadOnly))
        configuration =
            parseConfiguration(completeLines(file.read(MaxConfigurationBytes + 1)), imageFolder);
    // A new account may have no Pictures folder yet; a folder named in the file is left as it is.
    if (configuration.imageFolder == imageFolder)
        QDir().mkpath(imageFolder);
    return configuration;
}

} // namespace tovrin3
