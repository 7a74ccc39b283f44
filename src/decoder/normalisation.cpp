// SPDX-License-Identifier: GPL-3.0-or-later
#include "normalisation.h"

#include <algorithm>

namespace tovrin3 {

namespace {

void upperCaseAsciiReadingZAsZero(char16_t *begin, char16_t *end)
{
    for (char16_t *at = begin; at != end; ++at) {
        char16_t c = *at;
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - (u'a' - u'A'));
        *at = c == u'Z' ? u'0' : c;
    }
}

} // namespace

void cleanCharacters(QStringView line, QString &cleaned)
{
    const qsizetype start = cleaned.size();
    cleaned.resize(start + line.size());
    char16_t *const begin = reinterpret_cast<char16_t *>(cleaned.data()) + start;
    char16_t *end = begin;
    char16_t seen = 0;
    for (const QChar character : line) {
        const char16_t c = character.unicode();
        if (c == u' ')
            continue;
        *end++ = c;
        seen |= c;
    }
    cleaned.resize(start + (end - begin));
    if (seen < 0x80) {
        upperCaseAsciiReadingZAsZero(begin, end);
        return;
    }
    // Beyond ASCII, Qt's own case rules apply, which may change the number of characters.
    QString upper = cleaned.sliced(start).toUpper();
    upper.replace(u'Z', u'0');
    cleaned.truncate(start);
    cleaned.append(upper);
}

qsizetype removeHeaders(QString &text)
{
    const QStringView view(text);
    qsizetype found = view.indexOf(BeaconHeader);
    qsizetype resumeAt = 0;
    if (found >= 0) {
        char16_t *const data = reinterpret_cast<char16_t *>(text.data());
        qsizetype kept = found;
        while (found >= 0) {
            const qsizetype from = found + BeaconHeader.size();
            resumeAt = kept;
            found = view.indexOf(BeaconHeader, from);
            const qsizetype to = found < 0 ? view.size() : found;
            std::copy(data + from, data + to, data + kept);
            kept += to - from;
        }
        text.truncate(kept);
    }
    return std::max(resumeAt, text.size() - (BeaconHeader.size() - 1));
}

void normaliseLine(QStringView line, QString &cleaned)
{
    cleaned.resize(0);
    cleanCharacters(line, cleaned);
    removeHeaders(cleaned);
}

namespace {

// Held text beyond this many characters is cleaned at once; a line without breaks then stays
// small however long it grows.
constexpr qsizetype CompactionThreshold = 4096;

} // namespace

void LineCleaner::append(QStringView piece)
{
    m_holding = true;
    m_unsettled.append(piece);
    if (m_unsettled.size() > CompactionThreshold)
        compact();
}

qint64 LineCleaner::finish(QStringView end)
{
    if (!m_holding) {
        normaliseLine(end, m_cleaned);
        return m_cleaned.size();
    }
    m_unsettled.append(end);
    normaliseLine(m_unsettled, m_scratch);
    const qint64 length = m_droppedLength + m_settled.size() + m_scratch.size();
    m_cleaned.resize(0);
    if (!m_tooLong)
        m_cleaned.append(QStringView(m_settled)).append(QStringView(m_scratch));
    clear();
    return length;
}

void LineCleaner::clear()
{
    m_settled.resize(0);
    m_unsettled.resize(0);
    m_droppedLength = 0;
    m_holding = false;
    m_tooLong = false;
}

// The first three cleaning steps work character by character, so they may run early. A header
// that lies wholly inside the held text is one that the cleaning of the whole line removes too;
// only a header starting near the end can still reach into the rest of the line.
void LineCleaner::compact()
{
    m_scratch.resize(0);
    cleanCharacters(m_unsettled, m_scratch);
    m_unsettled.swap(m_scratch);
    const qsizetype undecidedFrom = removeHeaders(m_unsettled);
    m_settled.append(QStringView(m_unsettled).first(undecidedFrom));
    m_unsettled.remove(0, undecidedFrom);
    if (m_tooLong || m_settled.size() > FrameLength) {
        m_droppedLength += m_settled.size();
        m_settled.resize(0);
        m_tooLong = true;
    }
}

} // namespace tovrin3
