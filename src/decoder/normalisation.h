#pragma once

#include <QString>
#include <QStringView>

namespace tovrin3 {

// The fixed station header that precedes a frame as a rule.
inline constexpr QStringView BeaconHeader{u"QT7XMRKT3HKD"};

// A cleaned line of exactly this many 16-bit characters is a frame.
inline constexpr qsizetype FrameLength = 18;

// The character-wise cleaning steps: appends the line to `cleaned` with every space (U+0020)
// removed, upper-cased and every "Z" read as the digit "0". Tabs and other white space stay.
// Cleaning cleaned text again changes nothing.
void cleanCharacters(QStringView line, QString &cleaned);

// Removes every header in one left-to-right pass; a header that a removal joins stays.
void removeHeaders(QString &text);

// Cleans one input line, in this order: every space (U+0020) removed, upper case, every "Z" read
// as the digit "0", every header removed in one left-to-right pass. Tabs and other white space
// stay. Writes into `cleaned`, reusing its storage.
void normaliseLine(QStringView line, QString &cleaned);
QString normaliseLine(QStringView line);

inline bool isFrameLine(QStringView cleaned)
{
    return cleaned.size() == FrameLength;
}

} // namespace tovrin3
