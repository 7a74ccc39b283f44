// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringView>

#include <array>
#include <cstddef>
#include <cstdint>

namespace tovrin3 {

// Reads hexadecimal text after at most one prefix "0x" or "&H" (either case), stopping at the
// first character that is not a hexadecimal digit. One to four digits are a signed 16-bit value
// (8000 to FFFF read as -32768 to -1), five to eight digits a signed 32-bit value. No digits, or
// more than eight, read as 0. Never fails.
std::int32_t HexToDec(QStringView HexValue);

// True when every character is a hexadecimal digit, in either case.
bool isHexadecimal(QStringView text);

// Eight digits "0"/"1", most significant bit first, in any character type: the one place of the
// bit texts, so the report and the tables cannot disagree.
template<typename Character> constexpr std::array<Character, 8> bitDigits(std::uint8_t Wert)
{
    std::array<Character, 8> digits{};
    for (std::size_t bit = 0; bit < digits.size(); ++bit)
        digits[bit] = Wert & (0x80 >> bit) ? Character('1') : Character('0');
    return digits;
}

} // namespace tovrin3
