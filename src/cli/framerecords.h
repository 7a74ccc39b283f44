// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "telemetry.h"

#include <QByteArray>
#include <QLatin1StringView>
#include <QStringView>

#include <optional>

namespace tovrin3 {

// One decoded frame as the table formats write it.
struct FrameRecordFields
{
    qint64 number = 0;
    QLatin1StringView timestamp; // empty when the line had none
    QStringView text;            // the cleaned frame line
    FrameValues values;
    std::optional<QStringView> source{}; // the input's name; without, no "source" column
    // With, a last column "confidence": how likely the frame's digits are right, 0 to 1, empty
    // when the frame has none (a line of text without a doubtful mark).
    bool withConfidence = false;
    std::optional<double> confidence{};
};

// The CSV header row, LF-terminated, with a first column "source" when `withSource` and a last
// column "confidence" when `withConfidence`. The JSON keys are the same names; the units are part
// of the names.
void appendCsvHeader(QByteArray &output, bool withSource = false, bool withConfidence = false);

// One CSV row (RFC 4180) ending in LF, UTF-8. The frame text is quoted only when it holds a
// comma, a quote, CR or LF. A temperature without value and the MAIN and SUB states of a
// kill-switch byte above 3 are empty cells.
void appendCsvRecord(QByteArray &output, const FrameRecordFields &record);

// One JSON object on one line ending in LF, UTF-8, with null where the CSV row has an empty
// cell (and for a missing timestamp).
void appendJsonRecord(QByteArray &output, const FrameRecordFields &record);

} // namespace tovrin3
