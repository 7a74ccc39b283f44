#include "pendingline.h"

#include "normalisation.h"

#include <algorithm>

namespace tovrin3 {

namespace {

// Held text beyond this many characters is cleaned at once; a line without breaks then stays
// small however long it grows.
constexpr qsizetype CompactionThreshold = 4096;

} // namespace

void PendingLine::append(QStringView part)
{
    m_holding = true;
    m_unsettled.append(part);
    if (m_unsettled.size() > CompactionThreshold)
        compact();
}

qint64 PendingLine::finish(QStringView end, QString &cleaned)
{
    cleaned.resize(0);
    m_unsettled.append(end);
    normaliseLine(m_unsettled, m_scratch);
    const qint64 length = m_droppedLength + m_settled.size() + m_scratch.size();
    if (!m_tooLong)
        cleaned.append(QStringView(m_settled)).append(QStringView(m_scratch));
    clear();
    return length;
}

void PendingLine::clear()
{
    m_settled.resize(0);
    m_unsettled.resize(0);
    m_droppedLength = 0;
    m_holding = false;
    m_tooLong = false;
}

// The first three cleaning steps work character by character, so they may run early. A header
// that lies wholly inside the held text is one that the cleaning of the whole line removes too;
// only a header starting in the last eleven characters can still reach into the rest of the line.
void PendingLine::compact()
{
    m_scratch.resize(0);
    cleanCharacters(m_unsettled, m_scratch);
    m_unsettled.swap(m_scratch);
    const QStringView held(m_unsettled);
    qsizetype from = 0;
    for (qsizetype at = held.indexOf(BeaconHeader); at >= 0;
         at = held.indexOf(BeaconHeader, from)) {
        m_settled.append(held.sliced(from, at - from));
        from = at + BeaconHeader.size();
    }
    const qsizetype undecidedFrom = std::max(from, held.size() - (BeaconHeader.size() - 1));
    m_settled.append(held.sliced(from, undecidedFrom - from));
    m_unsettled.remove(0, undecidedFrom);
    if (m_tooLong || m_settled.size() > FrameLength) {
        m_droppedLength += m_settled.size();
        m_settled.resize(0);
        m_tooLong = true;
    }
}

} // namespace tovrin3
