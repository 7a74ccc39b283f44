#pragma once

#include <QString>
#include <QStringView>

namespace tovrin3 {

// The start of a line that a read chunk cut off. A line without a break can be as long as the
// input itself, so the held text is cleaned as it grows: what can no longer change is kept in
// its final cleaned form, and a line that has become too long to be a frame is dropped.
class PendingLine
{
public:
    bool isEmpty() const { return !m_holding; }
    // Characters kept for the line, however long it has grown.
    qsizetype heldSize() const { return m_settled.size() + m_unsettled.size(); }

    void append(QStringView part);

    // Cleans the held start followed by `end`, as normaliseLine would clean the whole line, and
    // lets go of the held start.
    void finish(QStringView end, QString &cleaned);

private:
    void compact();
    void clearHeldText();

    QString m_settled;   // cleaned for good: no header can reach into it any more
    QString m_unsettled; // spaces removed, upper case, "Z" read as "0"; a header may start here
    QString m_scratch;
    bool m_holding = false;
    bool m_tooLong = false;
};

} // namespace tovrin3
