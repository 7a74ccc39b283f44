#include "configuration.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QStringView>

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

} // namespace

Configuration parseConfiguration(QByteArrayView fileContent, const QString &defaultImageFolder)
{
    Configuration configuration{defaultImageFolder, std::nullopt};
    const QString text = QString::fromLatin1(fileContent);
    for (const QStringView line : configurationLines(text))
        applyLine(line, configuration);
    return configuration;
}

Configuration loadConfiguration(const QString &programFolder)
{
    const QString defaultImageFolder = programFolder + QDir::separator();
    QFile file(programFolder + QDir::separator() + QStringLiteral("conf.ini"));
    if (!file.open(QIODevice::ReadOnly))
        return {defaultImageFolder, std::nullopt};
    return parseConfiguration(file.read(MaxConfigurationBytes), defaultImageFolder);
}

} // namespace tovrin3
