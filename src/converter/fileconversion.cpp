// SPDX-License-Identifier: GPL-3.0-or-later
#include "fileconversion.h"

#include "imagereading.h"
#include "paletteconversion.h"

#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>

namespace tovrin3 {

namespace {

bool isSameFile(const QString &first, const QString &second)
{
    const QString canonicalFirst = QFileInfo(first).canonicalFilePath();
    return !canonicalFirst.isEmpty() && canonicalFirst == QFileInfo(second).canonicalFilePath();
}

} // namespace

QString pngPathFor(const QString &inputPath)
{
    const qsizetype nameStart = inputPath.lastIndexOf(QLatin1Char('/')) + 1;
    const qsizetype extensionStart = inputPath.lastIndexOf(QLatin1Char('.'));
    if (extensionStart <= nameStart)
        return inputPath + QStringLiteral(".png");
    return inputPath.left(extensionStart) + QStringLiteral(".png");
}

QImage convertImage(const QImage &image, const ConversionSettings &settings)
{
    QImage converted = settings.transparentColour
                           ? makeColourTransparent(image, *settings.transparentColour)
                           : image;
    if (settings.maxColours)
        return reduceToPalette(converted, *settings.maxColours);
    return converted;
}

QString writeImageAtomically(const QImage &image, const QString &path, const char *format)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    QImageWriter writer(&file, format);
    if (!writer.write(image)) {
        file.cancelWriting();
        return writer.errorString();
    }
    if (!file.commit())
        return file.errorString();
    return {};
}

FileConversionResult convertImageFile(const QString &inputPath, const ConversionSettings &settings)
{
    FileConversionResult result{pngPathFor(inputPath), QString()};
    const ImageReadResult input = readImageFile(inputPath);
    if (!input.succeeded()) {
        result.error = input.error;
        return result;
    }
    const QImage converted = convertImage(input.image, settings);
    if (converted.isNull()) {
        result.error = QStringLiteral("Not enough memory to convert the image");
        return result;
    }
    result.error = writeImageAtomically(converted, result.outputPath, "png");
    if (!result.succeeded() || !settings.deleteInput || isSameFile(inputPath, result.outputPath))
        return result;
    QFile inputFile(inputPath);
    if (!inputFile.remove())
        result.error = QStringLiteral("PNG written, but the input could not be deleted: %1")
                           .arg(inputFile.errorString());
    return result;
}

} // namespace tovrin3
