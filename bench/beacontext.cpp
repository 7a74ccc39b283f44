// SPDX-License-Identifier: GPL-3.0-or-later
#include "beacontext.h"

#include <array>
#include <cstdio>
#include <random>

namespace tovrin3 {

namespace {

// A temperature word for a value in sixteenths of a degree, sent low byte first.
void appendTemperature(QByteArray &text, int sixteenths)
{
    const auto word = static_cast<unsigned>(sixteenths) & 0xFFFF;
    std::array<char, 5> digits;
    std::snprintf(digits.data(), digits.size(), "%02X%02X", word & 0xFF, word >> 8);
    text.append(digits.data(), 4);
}

void appendByteDigits(QByteArray &text, unsigned value, int digitCount)
{
    std::array<char, 5> digits;
    std::snprintf(digits.data(), digits.size(), "%0*X", digitCount, value);
    text.append(digits.data(), digitCount);
}

} // namespace

QByteArray beaconText(int frameCount, QByteArrayView lineEnd, unsigned seed)
{
    std::minstd_rand random(seed);
    auto between = [&random](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    QByteArray text;
    text.reserve(qsizetype(frameCount) * (31 + lineEnd.size()));
    for (int frame = 0; frame < frameCount; ++frame) {
        text.append("QT7XMRKT3HKD ");
        appendTemperature(text, between(-5 * 16, 30 * 16));
        appendTemperature(text, between(10 * 16, 35 * 16));
        appendByteDigits(text, static_cast<unsigned>(between(0xC40, 0xCC0)), 4);
        appendByteDigits(text, static_cast<unsigned>(between(0, 255)), 2);
        appendByteDigits(text, static_cast<unsigned>(between(0, 255)), 2);
        appendByteDigits(text, static_cast<unsigned>(between(0, 4)), 2);
        text.append(lineEnd);
    }
    return text;
}

} // namespace tovrin3
