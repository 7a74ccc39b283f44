// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace tovrin3 {

// The mark a copied beacon frame carries when its digits are doubtful,
// "[DOUBTFUL:CONFIDENCE=0.42]": the confidence that all 18 digits were copied right, 0.00 to 1.00.
// It follows the copied text after one space. The mark holds no space and no "Z", so cleaning
// leaves it as it is, and its 26 characters make a cleaned line holding it longer than a frame,
// however few digits were copied: everything that reads frames by their length skips a marked line.
inline constexpr qsizetype DoubtfulMarkLength = 26;

// A copied line's text as every copying program writes it: the text alone for a sure frame and
// for any other text, the text, a space and the mark for a doubtful frame. A doubtful frame
// without a confidence is marked 0.00; a confidence outside 0 to 1 is held to it.
QString copiedLineText(QStringView text, bool doubtful, std::optional<double> confidence);

struct DoubtfulMark
{
    QStringView text; // the line before the mark, without the space that separates them
    double confidence = 0.0;
};

// Reads a mark that ends the line, with or without the space before it (a cleaned line has
// none); nothing when the line does not end in a mark.
std::optional<DoubtfulMark> readDoubtfulMark(QStringView line);

} // namespace tovrin3
