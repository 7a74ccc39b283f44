// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "historylog.h"
#include "streamdecoding.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

class QIODevice;

namespace tovrin3 {

// A time the user gives for --since and --until: ISO 8601 as --start takes it
// ("2026-12-06T18:57:44Z", fractions of a second, a space for the T), a zone offset
// ("2026-12-06T20:57:44+02:00"), no zone (UTC), or a date alone (its midnight, UTC). UTC
// milliseconds since 1970; none for anything else.
std::optional<qint64> utcTimeFromText(const QString &text);

// The timestamp column of a logged frame: "2026-12-06T18:57:44Z", with ".123" before the Z when
// the time has milliseconds, as a timestamped line writes it.
struct UtcText
{
    std::array<char, 32> text{};
    qsizetype size = 0;
    QLatin1StringView view() const { return QLatin1StringView(text.data(), size); }
};
UtcText utcText(qint64 timeMs);

enum class LogExportOutcome
{
    Written,
    ReadFailed, // the log's errorString() says why
    WriteFailed
};

// Writes the logged frames of the range in time order as decoding a timestamped file writes
// them: CSV (with its header row) and JSON rows with a "source" column (the sources that
// delivered the frame, ", " between them) and a "timestamp", each frame numbered from 1 in its
// pass; the report as decoding the frame lines gives it. With keepDoubtful, the doubtful frames
// too and a last column "confidence".
LogExportOutcome writeLoggedFrames(history::HistoryLog &log, const history::TimeRange &range,
                                   OutputFormat format, bool keepDoubtful, QIODevice &output);

// Writes the passes of the range: CSV columns start, end, frames, battery_voltage_min_v,
// battery_voltage_max_v and sources, the same keys in JSON, and for the report a line per pass
// "START  END  FRAMES frames".
LogExportOutcome writePasses(history::HistoryLog &log, const history::TimeRange &range,
                             OutputFormat format, QIODevice &output);

} // namespace tovrin3
