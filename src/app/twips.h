// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>

namespace tovrin3 {

// The windows are laid out in twips, 1/1440 inch: 15 twips make one pixel at 96 dots per inch.
inline constexpr int TwipsPerPixel = 15;

constexpr int pixelsFromTwips(int twips)
{
    return twips / TwipsPerPixel;
}

constexpr QRect rectFromTwips(int left, int top, int width, int height)
{
    return {pixelsFromTwips(left), pixelsFromTwips(top), pixelsFromTwips(width),
            pixelsFromTwips(height)};
}

} // namespace tovrin3
