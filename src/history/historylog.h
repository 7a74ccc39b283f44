// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "channels.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tovrin3::history {

// Frames further apart than this belong to different passes: 9:59 minutes apart is one pass,
// 10:01 two.
inline constexpr qint64 PassGapMs = 10 * 60 * 1000;

// A stretch of UTC time in milliseconds since 1970: from sinceMs inclusive to untilMs exclusive,
// unbounded on a side without value.
struct TimeRange
{
    std::optional<qint64> sinceMs;
    std::optional<qint64> untilMs;

    bool contains(qint64 timeMs) const
    {
        return (!sinceMs || timeMs >= *sinceMs) && (!untilMs || timeMs < *untilMs);
    }
};

// One frame of the log as history shows it.
struct LoggedFrame
{
    qint64 id = 0;
    qint64 receivedMs = 0;
    QString digits;                   // the frame's 18 characters
    QStringList sources;              // each source that delivered it, in the order they did
    std::optional<double> confidence; // the best one audio gave, none for text only
    bool doubtful = false;
};

// Frames without a gap of more than PassGapMs between them.
struct Pass
{
    qint64 startMs = 0; // the first frame's time
    qint64 endMs = 0;   // the last frame's time
    qint64 frames = 0;
    std::optional<double> minBatteryVoltage; // volts
    std::optional<double> maxBatteryVoltage;
    QStringList sources; // sorted, each once

    // The range that holds exactly this pass's frames.
    TimeRange range() const { return {startMs, endMs + 1}; }
};

// One point of a channel's plot. Unreduced, a frame: firstMs == lastMs and minimum == maximum.
// Reduced, the frames of one pixel column: their first and last time, their least and greatest
// value.
struct SeriesPoint
{
    qint64 firstMs = 0;
    qint64 lastMs = 0;
    double minimum = 0.0;
    double maximum = 0.0;
    bool startsPass = false; // the line is broken before this point
};

struct Series
{
    Channel channel = Channel::BatteryVoltage;
    TimeRange range; // as asked, an unbounded side resolved to the log's first or last frame
    std::vector<SeriesPoint> points; // in time order; frames without a value are left out
    bool reduced = false;            // points are columns, not frames
};

// What changes whenever a frame is logged or deleted, by this or any other program: compare
// two tokens to know whether to read again. Cheap enough to take every few hundred ms.
struct ChangeToken
{
    qint64 dataVersion = -1; // SQLite's count of other connections' commits
    qint64 lastFrameId = -1;
    qint64 ownChanges = 0; // deletions through this object
    bool operator==(const ChangeToken &) const = default;
};

// The station log read back as history, on a connection of its own. Sure frames only unless
// doubtful ones are asked for; frames marked deleted never. Every query that fails returns
// none and leaves the reason in errorString(); nothing here throws or crashes on a log that is
// missing, locked, damaged or not a database.
class HistoryLog
{
public:
    HistoryLog();
    ~HistoryLog();
    HistoryLog(const HistoryLog &) = delete;
    HistoryLog &operator=(const HistoryLog &) = delete;

    // Opens an existing log (never creates one), bringing an older schema up to date. False
    // with errorString() for a log that is missing, locked longer than busyTimeoutMs, damaged,
    // not a database or made by a newer version of this program.
    bool open(const QString &path, int busyTimeoutMs = 2000);
    bool isOpen() const;
    QString errorString() const;

    // The frames of the range in time order (equal times by id).
    std::optional<std::vector<LoggedFrame>> frames(const TimeRange &range,
                                                   bool includeDoubtful = false);
    // The same frames one at a time, without holding them all: `take` returns false to stop.
    // False after an error. Without withConfidence, every frame's confidence is left empty,
    // which reads less.
    bool forEachFrame(const TimeRange &range, bool includeDoubtful,
                      const std::function<bool(const LoggedFrame &)> &take,
                      bool withConfidence = true);

    // The passes of the range's frames in time order: a pass cut by an edge of the range
    // counts only its frames inside it.
    std::optional<std::vector<Pass>> passes(const TimeRange &range);
    // The latest pass, whole; none when the log holds no frame or after an error
    // (errorString() then says why).
    std::optional<Pass> lastPass();
    // The first and last frame's time; none for an empty log or after an error.
    std::optional<TimeRange> span();

    // The channel over the range for a plot `columns` pixels wide: a point per frame when the
    // range is short, else one per column holding frames with their least and greatest value,
    // taken from the log's kept summaries, never a scan of every frame. The line is broken
    // between passes either way.
    std::optional<Series> series(Channel channel, const TimeRange &range, int columns);

    // Sure frames in the range.
    std::optional<qint64> count(const TimeRange &range);
    // Marks the range's frames (doubtful ones too) deleted: they leave the plots, the exports
    // and the send queue (their unsent requests are cancelled; what a server accepted stays
    // accepted there), and logging the same frame again does not bring them back. Returns how
    // many were marked.
    std::optional<qint64> remove(const TimeRange &range);

    ChangeToken changeToken();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace tovrin3::history
