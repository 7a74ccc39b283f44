#pragma once

#include <QString>
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

// HexToDec with 65536 added to every negative reading, which undoes the 16-bit sign rule.
std::int32_t HexToUnsignLong(QStringView HexValue);

// Two upper-case hexadecimal digits, 00 to FF.
QString HexDigit(std::uint8_t Wert);

// Eight digits "0"/"1", most significant bit first, in any character type: the one place of the
// bit texts, so the report, the tables and DecToBin cannot disagree.
template<typename Character> constexpr std::array<Character, 8> bitDigits(std::uint8_t Wert)
{
    std::array<Character, 8> digits{};
    for (std::size_t bit = 0; bit < digits.size(); ++bit)
        digits[bit] = Wert & (0x80 >> bit) ? Character('1') : Character('0');
    return digits;
}

// Eight characters "0"/"1", most significant bit first.
QString DecToBin(std::uint8_t Wert);

// Days (floor, so -1 s is day -1), then "d " and hh:mm:ss: 90061 gives "1d 01:01:01".
QString SecToTime(std::int32_t ValSec);

} // namespace tovrin3
