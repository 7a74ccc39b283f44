// SPDX-License-Identifier: GPL-3.0-or-later
#include "configuration.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringView>

namespace tovrin3 {

namespace {

constexpr QStringView ImagePathKey = u"IMAGE_PATH";
constexpr QStringView ScreenshotKey = u"SCREENSHOT";
constexpr QStringView ScreenshotShown = u"YES";

void applyLine(QStringView line, Configuration &configuration)
{
    const std::optional<ConfigurationEntry> entry = configurationEntry(line);
    if (!entry)
        return;
    if (entry->key == ImagePathKey)
        configuration.imageFolder = entry->value;
    else if (entry->key == ScreenshotKey)
        configuration.screenshotButtonVisible = entry->value.toUpper() == ScreenshotShown;
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
    if (const std::optional<QByteArray> content =
            readConfigurationFile(findConfigurationFile(programFolder)))
        configuration = parseConfiguration(*content, imageFolder);
    // A new account may have no Pictures folder yet; a folder named in the file is left as it is.
    if (configuration.imageFolder == imageFolder)
        QDir().mkpath(imageFolder);
    return configuration;
}

} // namespace tovrin3
