// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "telemetry.h"

#include <QString>
#include <QStringView>

namespace tovrin3 {

// The line ends of a report: between the lines of a frame's block, and after its last line,
// which ends the block with an empty line.
struct ReportLineEnds
{
    QStringView line;
    QStringView blockEnd;
};

// CR+LF, as the report was first written down.
inline constexpr ReportLineEnds CrLfReport{u"\r\n", u"\r\n\r\n"};
// LF, as files and terminals have it.
inline constexpr ReportLineEnds LfReport{u"\n", u"\n\n"};

// Appends the "0.00" pattern: always a point, halfway values rounded away from zero (21.625
// gives 21.63), and a value that rounds to zero written without a minus sign.
void appendTwoDecimals(QString &text, double value);

// Appends one frame's block: heading "#n: line", 23 hyphens, the indented value lines (a
// temperature without value and a kill-switch byte above 3 have none) and an empty line.
void appendFrameReport(QString &report, qint64 frameNumber, QStringView frameText,
                       const FrameValues &values, const ReportLineEnds &lineEnds = CrLfReport);

} // namespace tovrin3
