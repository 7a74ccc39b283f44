// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace tovrin3 {

// Either a decoded image or the reason there is none.
struct ImageReadResult
{
    QImage image;
    QString error;

    bool succeeded() const { return !image.isNull(); }
};

// Decodes the first image in the data, recognising the format by its content alone. Garbage,
// truncated or oversized data only fail.
ImageReadResult readImageData(const QByteArray &data);

// The same for a file; the name's extension is ignored (the screenshot export writes BMP data
// under a ".b" name).
ImageReadResult readImageFile(const QString &path);

} // namespace tovrin3
