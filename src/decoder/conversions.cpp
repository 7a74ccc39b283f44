// SPDX-License-Identifier: GPL-3.0-or-later
#include "conversions.h"

#include <algorithm>

namespace tovrin3 {

namespace {

constexpr qsizetype MaxDigits = 8;

int hexDigitValue(QChar character)
{
    const char16_t c = character.unicode();
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

QStringView withoutPrefix(QStringView HexValue)
{
    if (HexValue.size() < 2)
        return HexValue;
    const char16_t first = HexValue[0].unicode();
    const char16_t second = HexValue[1].unicode() | 0x20;
    if ((first == u'0' && second == u'x') || (first == u'&' && second == u'h'))
        return HexValue.sliced(2);
    return HexValue;
}

// The digit string up to its first non-digit, sized as a signed 16-bit value for up to four
// digits and as a signed 32-bit value for five to eight.
std::int32_t readDigits(QStringView digits)
{
    std::uint32_t value = 0;
    qsizetype count = 0;
    for (const QChar character : digits) {
        const int digit = hexDigitValue(character);
        if (digit < 0)
            break;
        if (++count > MaxDigits)
            return 0;
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    if (count <= 4)
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
    return static_cast<std::int32_t>(value);
}

} // namespace

bool isHexadecimal(QStringView text)
{
    return std::all_of(text.begin(), text.end(),
                       [](QChar character) { return hexDigitValue(character) >= 0; });
}

std::int32_t HexToDec(QStringView HexValue)
{
    return readDigits(withoutPrefix(HexValue));
}

} // namespace tovrin3
