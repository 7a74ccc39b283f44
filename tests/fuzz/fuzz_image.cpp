// SPDX-License-Identifier: GPL-3.0-or-later
// The converter's image reading on arbitrary file content: it reads an image or says why not,
// and whatever it reads converts to a palette image of the same size within the colour limit.
#include "fileconversion.h"
#include "fuzzcheck.h"
#include "imagereading.h"

#include <QByteArray>

#include <cstdint>

namespace {

// Larger pictures only make the campaign slow; their reading is fuzzed all the same.
constexpr qint64 MaxConvertedPixels = 256 * 256;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const tovrin3::ImageReadResult read = tovrin3::readImageData(bytes);
    FUZZ_REQUIRE(read.succeeded() != !read.error.isEmpty());
    if (!read.succeeded() || qint64(read.image.width()) * read.image.height() > MaxConvertedPixels)
        return 0;
    tovrin3::ConversionSettings settings;
    settings.transparentColour = qRgb(240, 240, 240);
    settings.maxColours = 256;
    const QImage converted = tovrin3::convertImage(read.image, settings);
    FUZZ_REQUIRE(converted.size() == read.image.size());
    FUZZ_REQUIRE(converted.format() == QImage::Format_Indexed8);
    FUZZ_REQUIRE(converted.colorCount() <= 256);
    return 0;
}
