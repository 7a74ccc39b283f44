#include "imagereading.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

namespace tovrin3 {

namespace {

ImageReadResult readFromDevice(QIODevice &device)
{
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
