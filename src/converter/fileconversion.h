// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QRgb>
#include <QString>

#include <optional>

namespace tovrin3 {

struct ConversionSettings
{
    // Pixels of this colour become fully transparent.
    std::optional<QRgb> transparentColour;
    // Without a limit the PNG keeps every colour (32-bit); with one it is a palette PNG.
    std::optional<int> maxColours;
    // The input goes only once its PNG is safely in place.
    bool deleteInput = false;
};

struct FileConversionResult
{
    QString outputPath;
    QString error;

    bool succeeded() const { return error.isEmpty(); }
};

// The input's name with its last extension replaced by ".png" ("x.b" gives "x.png"); a name
// without extension, or one that only starts with a dot, gets ".png" appended.
QString pngPathFor(const QString &inputPath);

// Applies the transparent colour and then the colour limit.
QImage convertImage(const QImage &image, const ConversionSettings &settings);

// Writes the image in the given format whatever the file's extension, under a temporary name
// renamed into place, so that no reader ever sees half a file and an interrupted write never
// leaves a broken one under the final name. Returns the error, if any.
QString writeImageAtomically(const QImage &image, const QString &path, const char *format);

// Reads the input by its content, converts it, writes the PNG beside it and, when asked,
// deletes the input once the PNG is in place. An input that failed is never deleted, and
// neither is one whose PNG replaced it under the same name.
FileConversionResult convertImageFile(const QString &inputPath, const ConversionSettings &settings);

} // namespace tovrin3
