// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagereading.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QtEndian>

#include <cstdlib>

namespace tovrin3 {

namespace {

// The parts of a bitmap's file and info headers that say how many bytes of rows follow.
constexpr qsizetype BitmapHeaderBytes = 54;
constexpr qsizetype CoreHeaderEnd = 26; // file header and the oldest (12-byte) info header
constexpr quint32 CoreInfoHeaderSize = 12;
constexpr quint32 UncompressedRows = 0;
constexpr quint32 RowsWithBitFields = 3;

template<typename Value> Value littleEndianAt(const QByteArray &data, qsizetype offset)
{
    return qFromLittleEndian<Value>(data.constData() + offset);
}

// Qt's bitmap reader takes rows that end early and leaves the missing pixels undefined, so a
// bitmap still being written, or cut off, would convert into a damaged PNG. An uncompressed
// bitmap must hold every row its header announces; other bitmaps are left to the reader.
bool isCutShortBitmap(const QByteArray &header, qint64 dataSize)
{
    if (header.size() < CoreHeaderEnd || !header.startsWith("BM"))
        return false;
    const quint32 rowsOffset = littleEndianAt<quint32>(header, 10);
    const quint32 infoHeaderSize = littleEndianAt<quint32>(header, 14);
    qint64 width = 0;
    qint64 height = 0;
    quint16 bitsPerPixel = 0;
    if (infoHeaderSize == CoreInfoHeaderSize) {
        width = littleEndianAt<quint16>(header, 18);
        height = littleEndianAt<quint16>(header, 20);
        bitsPerPixel = littleEndianAt<quint16>(header, 24);
    } else {
        if (header.size() < BitmapHeaderBytes)
            return false;
        const quint32 compression = littleEndianAt<quint32>(header, 30);
        if (compression != UncompressedRows && compression != RowsWithBitFields)
            return false;
        width = littleEndianAt<qint32>(header, 18);
        height = std::abs(qint64(littleEndianAt<qint32>(header, 22)));
        bitsPerPixel = littleEndianAt<quint16>(header, 28);
    }
    // Rows are padded to whole 32-bit words.
    const qint64 rowBytes = (width * bitsPerPixel + 31) / 32 * 4;
    if (rowBytes <= 0)
        return false;
    return dataSize < rowsOffset || (dataSize - rowsOffset) / rowBytes < height;
}

ImageReadResult readFromDevice(QIODevice &device)
{
    if (isCutShortBitmap(device.peek(BitmapHeaderBytes), device.size()))
        return {QImage(), QStringLiteral("The bitmap ends before its last row")};
    QImageReader reader(&device);
    reader.setDecideFormatFromContent(true);
    QImage image;
    if (reader.read(&image) && !image.isNull())
        return {image, QString()};
    return {QImage(), reader.errorString()};
}

} // namespace

ImageReadResult readImageData(const QByteArray &data)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    return readFromDevice(buffer);
}

ImageReadResult readImageFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {QImage(), file.errorString()};
    return readFromDevice(file);
}

} // namespace tovrin3
