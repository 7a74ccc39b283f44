#include "normalisation.h"

namespace tovrin3 {

namespace {

// Copies the line without its spaces; tells whether every character kept is ASCII, so that the
// cheap upper-casing below applies.
bool copyWithoutSpaces(QStringView line, QString &cleaned)
{
    cleaned.resize(0);
    cleaned.reserve(line.size());
    char16_t seen = 0;
    for (const QChar character : line) {
        if (character == u' ')
            continue;
        cleaned.append(character);
        seen |= character.unicode();
    }
    return seen < 0x80;
}

void upperCaseAsciiReadingZAsZero(QString &cleaned)
{
    for (QChar &character : cleaned) {
        char16_t c = character.unicode();
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - (u'a' - u'A'));
        character = c == u'Z' ? u'0' : c;
    }
}

} // namespace

void normaliseLine(QStringView line, QString &cleaned)
{
    if (copyWithoutSpaces(line, cleaned)) {
        upperCaseAsciiReadingZAsZero(cleaned);
    } else {
        cleaned = std::move(cleaned).toUpper();
        cleaned.replace(u'Z', u'0');
    }
    if (cleaned.size() >= BeaconHeader.size())
        cleaned.remove(BeaconHeader);
}

QString normaliseLine(QStringView line)
{
    QString cleaned;
    normaliseLine(line, cleaned);
    return cleaned;
}

} // namespace tovrin3
