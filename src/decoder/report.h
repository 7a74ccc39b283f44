#pragma once

#include "telemetry.h"

#include <QString>
#include <QStringView>

namespace tovrin3 {

inline constexpr QStringView WindowLineEnd = u"\r\n";

// The "0.00" pattern: always a point, halfway values rounded away from zero (21.625 gives
// 21.63), and a value that rounds to zero written without a minus sign.
QString formatTwoDecimals(double value);

// Appends one frame's block: heading "#n: line", 23 hyphens, the indented value lines (a
// temperature without value and a kill-switch byte above 3 have none) and an empty line.
void appendFrameReport(QString &report, qint64 frameNumber, QStringView frameText,
                       const FrameValues &values, QStringView lineEnd = WindowLineEnd);

} // namespace tovrin3
