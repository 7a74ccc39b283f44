#include "conversions.h"

#include <array>
#include <cstdlib>

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

std::int32_t HexToDec(QStringView HexValue)
{
    return readDigits(withoutPrefix(HexValue));
}

std::int32_t HexToUnsignLong(QStringView HexValue)
{
    const std::int32_t value = HexToDec(HexValue);
    return value < 0 ? value + 65536 : value;
}

QString HexDigit(std::uint8_t Wert)
{
    static constexpr char16_t digits[] = u"0123456789ABCDEF";
    const std::array<QChar, 2> text{QChar(digits[Wert >> 4]), QChar(digits[Wert & 0xF])};
    return QString(text.data(), 2);
}

QString DecToBin(std::uint8_t Wert)
{
    const std::array<char16_t, 8> digits = bitDigits<char16_t>(Wert);
    return QString::fromUtf16(digits.data(), digits.size());
}

QString SecToTime(std::int32_t ValSec)
{
    const std::int64_t seconds = ValSec;
    std::int64_t days = seconds / 86400;
    if (seconds % 86400 < 0)
        --days;
    const std::int64_t rest = seconds - days * 86400;
    return QStringLiteral("%1d %2:%3:%4")
        .arg(days)
        .arg(rest / 3600, 2, 10, QChar(u'0'))
        .arg(rest % 3600 / 60, 2, 10, QChar(u'0'))
        .arg(rest % 60, 2, 10, QChar(u'0'));
}

} // namespace tovrin3
