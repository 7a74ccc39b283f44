// SPDX-License-Identifier: GPL-3.0-or-later
#include "paletteconversion.h"

#include <QHash>
#include <QList>

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <utility>

namespace tovrin3 {

namespace {

constexpr int ChannelCount = 4;

int channelValue(QRgb colour, int channel)
{
    switch (channel) {
    case 0:
        return qRed(colour);
    case 1:
        return qGreen(colour);
    case 2:
        return qBlue(colour);
    default:
        return qAlpha(colour);
    }
}

struct ColourCount
{
    QRgb colour;
    qsizetype pixels;
};

// The visible colours with their pixel counts, and the one colour all fully transparent
// pixels share (the first met in reading order).
struct ColourHistogram
{
    QHash<QRgb, qsizetype> visible;
    std::optional<QRgb> transparent;
};

ColourHistogram countColours(const QImage &argb)
{
    ColourHistogram histogram;
    for (int y = 0; y < argb.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(line[x]) > 0)
                ++histogram.visible[line[x]];
            else if (!histogram.transparent)
                histogram.transparent = line[x];
        }
    }
    return histogram;
}

QList<ColourCount> colourCounts(const QHash<QRgb, qsizetype> &visible)
{
    QList<ColourCount> counts;
    counts.reserve(visible.size());
    for (auto it = visible.cbegin(); it != visible.cend(); ++it)
        counts.append({it.key(), it.value()});
    // Sorted so that the palette does not depend on the hash order.
    std::sort(counts.begin(), counts.end(),
              [](const ColourCount &a, const ColourCount &b) { return a.colour < b.colour; });
    return counts;
}

// A run of the colour list that becomes one palette entry, with the channel along which its
// colours spread most.
struct ColourBox
{
    qsizetype begin = 0;
    qsizetype end = 0;
    int widestChannel = 0;
    int extent = 0;
};

ColourBox makeBox(const QList<ColourCount> &colours, qsizetype begin, qsizetype end)
{
    std::array<int, ChannelCount> low{255, 255, 255, 255};
    std::array<int, ChannelCount> high{0, 0, 0, 0};
    for (qsizetype i = begin; i < end; ++i) {
        for (int channel = 0; channel < ChannelCount; ++channel) {
            const int value = channelValue(colours[i].colour, channel);
            low[channel] = std::min(low[channel], value);
            high[channel] = std::max(high[channel], value);
        }
    }
    ColourBox box{begin, end, 0, 0};
    for (int channel = 0; channel < ChannelCount; ++channel) {
        if (high[channel] - low[channel] > box.extent) {
            box.extent = high[channel] - low[channel];
            box.widestChannel = channel;
        }
    }
    return box;
}

// Sorts the box along its widest channel and cuts it where half of its pixels lie on
// either side, leaving at least one colour in each half.
std::pair<ColourBox, ColourBox> splitBox(QList<ColourCount> &colours, const ColourBox &box)
{
    const int channel = box.widestChannel;
    std::sort(colours.begin() + box.begin, colours.begin() + box.end,
              [channel](const ColourCount &a, const ColourCount &b) {
                  const int valueA = channelValue(a.colour, channel);
                  const int valueB = channelValue(b.colour, channel);
                  return valueA != valueB ? valueA < valueB : a.colour < b.colour;
              });
    qsizetype totalPixels = 0;
    for (qsizetype i = box.begin; i < box.end; ++i)
        totalPixels += colours[i].pixels;
    qsizetype cut = box.begin + 1;
    for (qsizetype pixelsBelow = colours[box.begin].pixels;
         cut < box.end - 1 && pixelsBelow * 2 < totalPixels; ++cut)
        pixelsBelow += colours[cut].pixels;
    return {makeBox(colours, box.begin, cut), makeBox(colours, cut, box.end)};
}

QRgb averageColour(const QList<ColourCount> &colours, const ColourBox &box)
{
    std::array<qint64, ChannelCount> sums{};
    qint64 totalPixels = 0;
    for (qsizetype i = box.begin; i < box.end; ++i) {
        for (int channel = 0; channel < ChannelCount; ++channel)
            sums[channel] += qint64{channelValue(colours[i].colour, channel)} * colours[i].pixels;
        totalPixels += colours[i].pixels;
    }
    std::array<int, ChannelCount> average{};
    for (int channel = 0; channel < ChannelCount; ++channel)
        average[channel] = static_cast<int>((sums[channel] + totalPixels / 2) / totalPixels);
    return qRgba(average[0], average[1], average[2], average[3]);
}

QList<QRgb> medianCutPalette(QList<ColourCount> colours, int boxLimit)
{
    if (boxLimit < 1 || colours.isEmpty())
        return {};
    QList<ColourBox> boxes{makeBox(colours, 0, colours.size())};
    while (boxes.size() < boxLimit) {
        const auto widest = std::max_element(
            boxes.begin(), boxes.end(),
            [](const ColourBox &a, const ColourBox &b) { return a.extent < b.extent; });
        if (widest->extent <= 0)
            break;
        const auto [lower, upper] = splitBox(colours, *widest);
        *widest = lower;
        boxes.append(upper);
    }
    QList<QRgb> palette;
    for (const ColourBox &box : boxes)
        palette.append(averageColour(colours, box));
    return palette;
}

// The transparent entry, when there is one, comes first.
struct Palette
{
    QList<QRgb> colours;
    qsizetype firstVisible = 0;
};

Palette choosePalette(const ColourHistogram &histogram, int maxColours)
{
    Palette palette;
    if (histogram.transparent) {
        palette.colours.append(*histogram.transparent);
        palette.firstVisible = 1;
    }
    QList<ColourCount> visible = colourCounts(histogram.visible);
    const qsizetype visibleLimit = maxColours - palette.firstVisible;
    if (visible.size() <= visibleLimit) {
        for (const ColourCount &count : visible)
            palette.colours.append(count.colour);
        return palette;
    }
    palette.colours.append(medianCutPalette(visible, static_cast<int>(visibleLimit)));
    return palette;
}

int squaredDistance(QRgb a, QRgb b)
{
    int sum = 0;
    for (int channel = 0; channel < ChannelCount; ++channel) {
        const int difference = channelValue(a, channel) - channelValue(b, channel);
        sum += difference * difference;
    }
    return sum;
}

// Maps pixels to palette indices, remembering each colour's index once found.
class PaletteIndexer
{
public:
    explicit PaletteIndexer(const Palette &palette) : m_palette(palette)
    {
        for (qsizetype i = palette.firstVisible; i < palette.colours.size(); ++i)
            m_indexOf.insert(palette.colours[i], static_cast<uchar>(i));
    }

    uchar indexOf(QRgb pixel)
    {
        if (qAlpha(pixel) == 0)
            return 0;
        const auto known = m_indexOf.constFind(pixel);
        if (known != m_indexOf.cend())
            return *known;
        const uchar nearest = nearestIndex(pixel);
        m_indexOf.insert(pixel, nearest);
        return nearest;
    }

private:
    uchar nearestIndex(QRgb pixel) const
    {
        qsizetype best = 0;
        int bestDistance = std::numeric_limits<int>::max();
        for (qsizetype i = m_palette.firstVisible; i < m_palette.colours.size(); ++i) {
            const int distance = squaredDistance(pixel, m_palette.colours[i]);
            if (distance < bestDistance) {
                bestDistance = distance;
                best = i;
            }
        }
        return static_cast<uchar>(best);
    }

    const Palette &m_palette;
    QHash<QRgb, uchar> m_indexOf;
};

} // namespace

QImage makeColourTransparent(const QImage &image, QRgb colour)
{
    QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb transparent = colour & RGB_MASK;
    for (int y = 0; y < argb.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(argb.scanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(line[x]) == 0 || (line[x] & RGB_MASK) == transparent)
                line[x] = transparent;
        }
    }
    return argb;
}

QImage reduceToPalette(const QImage &image, int maxColours)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    const Palette palette =
        choosePalette(countColours(argb), std::clamp(maxColours, 1, MaxPaletteColours));
    QImage indexed(argb.size(), QImage::Format_Indexed8);
    if (indexed.isNull())
        return indexed;
    indexed.setColorTable(palette.colours);
    PaletteIndexer indexer(palette);
    for (int y = 0; y < argb.height(); ++y) {
        const auto *source = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        uchar *target = indexed.scanLine(y);
        for (int x = 0; x < argb.width(); ++x)
            target[x] = indexer.indexOf(source[x]);
    }
    return indexed;
}

} // namespace tovrin3
