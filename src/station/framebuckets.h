// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "telemetry.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <array>
#include <map>
#include <optional>
#include <set>
#include <utility>

class QSqlQuery;

namespace tovrin3::station {

// The station log keeps a summary of its sure, not deleted frames per minute, hour and day (the
// table frame_buckets), so that a plot of years draws from a few thousand rows, never from every
// frame, and the sources per minute (bucket_sources) for the pass list. Both change in the same
// transaction as the frames they sum up.
inline constexpr std::array<qint64, 3> BucketWidthsMs{60'000, 3'600'000, 86'400'000};
inline constexpr qint64 MinuteMs = BucketWidthsMs.front();
inline constexpr qint64 DayMs = BucketWidthsMs.back();

// Floor division: the bucket that holds timeMs, also before 1970.
constexpr qint64 bucketOf(qint64 timeMs, qint64 widthMs)
{
    return timeMs / widthMs - (timeMs % widthMs < 0 ? 1 : 0);
}

// The frames of one bucket, or of any stretch of time. A byte's AND and OR over the frames give
// each of its bits' least and greatest value.
struct BucketSummary
{
    qint64 frames = 0;
    qint64 firstMs = 0;
    qint64 lastMs = 0;
    std::optional<double> batteryTemperatureMin, batteryTemperatureMax;
    std::optional<double> comTemperatureMin, comTemperatureMax;
    double batteryVoltageMin = 0.0, batteryVoltageMax = 0.0;
    int missionMin = 0, missionMax = 0, missionAnd = 0, missionOr = 0;
    int debugMin = 0, debugMax = 0, debugAnd = 0, debugOr = 0;
    int killSwitchMin = 0, killSwitchMax = 0;
    // Over the kill-switch bytes 0 to 3 only, the ones with a MAIN and SUB state.
    std::optional<int> killSwitchStateAnd, killSwitchStateOr;

    void add(qint64 timeMs, const FrameValues &values);
    void merge(const BucketSummary &other);
};

// The columns of frame_buckets after width_ms and bucket, in the order readBucketSummary reads.
QString bucketSummaryColumns();
// Reads the summary from the query's current row, its columns from `first` on.
BucketSummary readBucketSummary(const QSqlQuery &query, int first);

// The statements that create the two tables.
QStringList bucketSchemaStatements();

// Adds new sure frames to the summaries (inside the caller's transaction).
class BucketWriter
{
public:
    explicit BucketWriter(QSqlDatabase database) : m_database(std::move(database)) {}
    void addFrame(qint64 timeMs, const QString &digits);
    // Every source that delivered the frame, also in earlier batches.
    void addSourcesOf(qint64 frameId, qint64 timeMs);
    // Merges what was added into the stored rows; false with `error` on failure.
    bool write(QString &error);

private:
    QSqlDatabase m_database;
    std::map<std::pair<qint64, qint64>, BucketSummary> m_summaries; // (width, bucket)
    std::set<std::pair<qint64, qint64>> m_sourceFrames;             // (minute, frame id)
};

// Drops the summaries of the days from sinceMs to untilMs and sums up their sure, not deleted
// frames again (inside the caller's transaction); false with `error` on failure.
bool rebuildBuckets(QSqlDatabase &database, qint64 sinceMs, qint64 untilMs, QString &error);

} // namespace tovrin3::station
