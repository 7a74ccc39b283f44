// SPDX-License-Identifier: GPL-3.0-or-later
#include "linetimestamp.h"

namespace tovrin3 {

namespace {

// "2026-12-06T18:57:44" and "Z": the shortest timestamp.
constexpr qsizetype SecondsEnd = 19;
constexpr qsizetype MinTimestampLength = SecondsEnd + 1;
constexpr qsizetype DateTimeSeparatorAt = 10;

bool isAsciiDigit(QChar character)
{
    return character >= u'0' && character <= u'9';
}

// The decimal number written by `count` ASCII digits from `from`; -1 when one is no digit.
int numberAt(QStringView text, qsizetype from, qsizetype count)
{
    int number = 0;
    for (const QChar character : text.sliced(from, count)) {
        if (!isAsciiDigit(character))
            return -1;
        number = number * 10 + (character.unicode() - u'0');
    }
    return number;
}

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month)
{
    constexpr std::array<int, 12> days{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[static_cast<std::size_t>(month - 1)];
}

bool hasSeparators(QStringView text)
{
    const QChar between = text[DateTimeSeparatorAt];
    return text[4] == u'-' && text[7] == u'-' && text[13] == u':' && text[16] == u':' &&
           (between == u'T' || between == u't' || between == u' ');
}

bool isValidDateTime(QStringView text)
{
    const int year = numberAt(text, 0, 4);
    const int month = numberAt(text, 5, 2);
    const int day = numberAt(text, 8, 2);
    const int hour = numberAt(text, 11, 2);
    const int minute = numberAt(text, 14, 2);
    const int second = numberAt(text, 17, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month))
        return false;
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

// What follows the seconds: "Z" alone, or "." with one to nine digits and then "Z".
bool isValidEnding(QStringView ending)
{
    if (ending.back() != u'Z' && ending.back() != u'z')
        return false;
    const QStringView fraction = ending.chopped(1);
    if (fraction.isEmpty())
        return true;
    if (fraction.size() < 2 || fraction.front() != u'.')
        return false;
    return numberAt(fraction, 1, fraction.size() - 1) >= 0;
}

} // namespace

bool Timestamp::read(QStringView text)
{
    clear();
    if (text.size() < MinTimestampLength || text.size() > MaxTimestampLength)
        return false;
    if (!hasSeparators(text) || !isValidDateTime(text) || !isValidEnding(text.sliced(SecondsEnd)))
        return false;
    for (qsizetype at = 0; at < text.size(); ++at)
        m_text[static_cast<std::size_t>(at)] = static_cast<char>(text[at].unicode());
    m_text[DateTimeSeparatorAt] = 'T';
    m_text[static_cast<std::size_t>(text.size() - 1)] = 'Z';
    m_size = text.size();
    return true;
}

} // namespace tovrin3
