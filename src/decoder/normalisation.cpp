#include "normalisation.h"

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

void removeHeaders(QString &text)
{
    const QStringView view(text);
    qsizetype found = view.indexOf(BeaconHeader);
    if (found < 0)
        return;
    char16_t *const data = reinterpret_cast<char16_t *>(text.data());
    qsizetype kept = found;
    while (found >= 0) {
        const qsizetype from = found + BeaconHeader.size();
        found = view.indexOf(BeaconHeader, from);
        const qsizetype to = found < 0 ? view.size() : found;
        std::copy(data + from, data + to, data + kept);
        kept += to - from;
    }
    text.truncate(kept);
}

void normaliseLine(QStringView line, QString &cleaned)
{
    cleaned.resize(0);
    cleanCharacters(line, cleaned);
    removeHeaders(cleaned);
}

QString normaliseLine(QStringView line)
{
    QString cleaned;
    normaliseLine(line, cleaned);
    return cleaned;
}

} // namespace tovrin3
