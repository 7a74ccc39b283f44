// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QRgb>

namespace tovrin3 {

inline constexpr int MaxPaletteColours = 256;

// A 32-bit ARGB copy in which every pixel of the colour (compared on red, green and blue) and
// every pixel that already was fully transparent becomes that colour with alpha 0, so they all
// share one palette entry later.
QImage makeColourTransparent(const QImage &image, QRgb colour);

// An indexed copy with at most maxColours (1 to 256) colours. An image that has no more
// distinct colours than that keeps them exactly; otherwise median cut picks the palette and
// each pixel takes the nearest palette colour. All fully transparent pixels share one entry
// that is kept apart from the reduction, so they stay transparent and nothing visible turns
// transparent (unless maxColours is 1 and that entry is the only one).
QImage reduceToPalette(const QImage &image, int maxColours);

} // namespace tovrin3
