// SPDX-License-Identifier: GPL-3.0-or-later
#include "doubtfulmark.h"

#include <algorithm>
#include <cmath>

namespace tovrin3 {

namespace {

constexpr QStringView MarkStart{u"[DOUBTFUL:CONFIDENCE="};
constexpr QStringView MarkEnd{u"]"};

// "0.42": one digit, a point and two digits; the hundredths the mark carries.
constexpr qsizetype ConfidenceLength = 4;
constexpr int Hundredths = 100;

bool isDigit(QChar character)
{
    return character >= u'0' && character <= u'9';
}

} // namespace

QString copiedLineText(QStringView text, bool doubtful, std::optional<double> confidence)
{
    if (!doubtful)
        return text.toString();
    const double held = std::isfinite(confidence.value_or(0.0))
                            ? std::clamp(confidence.value_or(0.0), 0.0, 1.0)
                            : 0.0;
    const auto hundredths = static_cast<int>(std::lround(held * Hundredths));
    QString line = text.toString();
    line.append(u' ').append(MarkStart);
    line.append(QChar(u'0' + hundredths / Hundredths)).append(u'.');
    line.append(QChar(u'0' + hundredths % Hundredths / 10));
    line.append(QChar(u'0' + hundredths % 10));
    line.append(MarkEnd);
    return line;
}

std::optional<DoubtfulMark> readDoubtfulMark(QStringView line)
{
    if (line.size() < DoubtfulMarkLength)
        return std::nullopt;
    const QStringView mark = line.last(DoubtfulMarkLength);
    if (!mark.startsWith(MarkStart) || !mark.endsWith(MarkEnd))
        return std::nullopt;
    const QStringView number = mark.sliced(MarkStart.size(), ConfidenceLength);
    if (!isDigit(number[0]) || number[1] != u'.' || !isDigit(number[2]) || !isDigit(number[3]))
        return std::nullopt;
    const int hundredths = (number[0].unicode() - u'0') * Hundredths +
                           (number[2].unicode() - u'0') * 10 + (number[3].unicode() - u'0');
    if (hundredths > Hundredths)
        return std::nullopt;
    QStringView text = line.first(line.size() - DoubtfulMarkLength);
    if (text.endsWith(u' '))
        text.chop(1);
    return DoubtfulMark{text, hundredths / double(Hundredths)};
}

} // namespace tovrin3
