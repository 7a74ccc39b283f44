#pragma once

#include <QString>
#include <QStringView>

namespace tovrin3 {

// The start of a line that a read chunk cut off. A line without a break can be as long as the
// input itself, so the held text is cleaned as it grows: what can no longer change is kept in
// its final cleaned form, and once the line is too long to be a frame only its length is kept.
class PendingLine
{
public:
    bool isEmpty() const { return !m_holding; }
    // Characters kept for the line, however long it has grown.
    qsizetype heldSize() const { return m_settled.size() + m_unsettled.size(); }

    void append(QStringView part);

    // Cleans the held start followed by `end`, as normaliseLine would clean the whole line, and
    // lets go of the held start. Returns the length of the cleaned line; `cleaned` holds it
    // unless it grew too long to be a frame, and is empty then.
    qint64 finish(QStringView end, QString &cleaned);
    // Lets go of the held start unread.
    void clear();

private:
    void compact();

    QString m_settled;   // cleaned for good: no header can reach into it any more
    QString m_unsettled; // spaces removed, upper case, "Z" read as "0"; a header may start here
    QString m_scratch;
    qint64 m_droppedLength = 0; // cleaned characters let go of once the line was too long
    bool m_holding = false;
    bool m_tooLong = false;
};

} // namespace tovrin3
