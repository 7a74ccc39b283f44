// SPDX-License-Identifier: GPL-3.0-or-later
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

// Removes every header in one left-to-right pass; a header that a removal joins stays. Returns
// where in the text left a header could still begin that more text after it would complete:
// after the last removal, and at most one character less than a header before the end.
qsizetype removeHeaders(QString &text);

// Cleans one input line, in this order: every space (U+0020) removed, upper case, every "Z" read
// as the digit "0", every header removed in one left-to-right pass. Tabs and other white space
// stay. Writes into `cleaned`, reusing its storage.
void normaliseLine(QStringView line, QString &cleaned);

// Cleans a line that may arrive in pieces, as normaliseLine cleans it whole. A line without a
// break can be as long as the input itself, so the held text is cleaned as it grows: what can no
// longer change is kept in its final cleaned form, and once the line is too long to be a frame
// only its length is kept.
class LineCleaner
{
public:
    // Characters kept for the line, however long it has grown.
    qsizetype heldSize() const { return m_settled.size() + m_unsettled.size(); }

    // Adds a piece of the line; more follows.
    void append(QStringView piece);

    // Cleans what was appended followed by `end`, and lets go of it. Returns the length of the
    // cleaned line; cleaned() holds the line unless it grew too long to be a frame, and is empty
    // then.
    qint64 finish(QStringView end);
    QStringView cleaned() const { return m_cleaned; }

    // Lets go of what was appended, unread.
    void clear();

private:
    void compact();

    QString m_settled;   // cleaned for good: no header can reach into it any more
    QString m_unsettled; // spaces removed, upper case, "Z" read as "0"; a header may start here
    QString m_scratch;
    QString m_cleaned;
    qint64 m_droppedLength = 0; // cleaned characters let go of once the line was too long
    bool m_holding = false;
    bool m_tooLong = false;
};

} // namespace tovrin3
