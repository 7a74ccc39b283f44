// SPDX-License-Identifier: GPL-3.0-or-later
#include "historylog.h"

#include "framebuckets.h"
#include "normalisation.h"
#include "stationlog.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <limits>

namespace tovrin3::history {

namespace {

using namespace Qt::StringLiterals;
using station::bucketOf;
using station::BucketSummary;
using station::BucketWidthsMs;

constexpr qint64 Earliest = std::numeric_limits<qint64>::min();
constexpr qint64 Latest = std::numeric_limits<qint64>::max();

std::optional<double> bitOf(const std::optional<int> &byte, int index)
{
    if (!byte)
        return std::nullopt;
    return (*byte >> index) & 1 ? 1.0 : 0.0;
}

struct ValueRange
{
    double minimum;
    double maximum;
};

// The channel's least and greatest value over the frames a summary holds.
std::optional<ValueRange> channelRange(Channel channel, const BucketSummary &s)
{
    const auto both = [](std::optional<double> low, std::optional<double> high) {
        return low && high ? std::optional<ValueRange>({*low, *high}) : std::nullopt;
    };
    const auto bits = [&](int andBits, int orBits, int index) {
        return both(bitOf(andBits, index), bitOf(orBits, index));
    };
    const int index = static_cast<int>(channel);
    switch (channel) {
    case Channel::BatteryTemperature:
        return both(s.batteryTemperatureMin, s.batteryTemperatureMax);
    case Channel::ComTemperature:
        return both(s.comTemperatureMin, s.comTemperatureMax);
    case Channel::BatteryVoltage:
        return ValueRange{s.batteryVoltageMin, s.batteryVoltageMax};
    case Channel::Debug:
        return ValueRange{double(s.debugMin), double(s.debugMax)};
    case Channel::KillSwitch:
        return ValueRange{double(s.killSwitchMin), double(s.killSwitchMax)};
    case Channel::Mission:
        return ValueRange{double(s.missionMin), double(s.missionMax)};
    case Channel::KillSwitchMain:
    case Channel::KillSwitchSub: {
        // Bit 1 set means MAIN off, bit 0 set SUB off: "on" is least where the bit was ever set.
        const int bit = channel == Channel::KillSwitchMain ? 1 : 0;
        const std::optional<double> everOff = bitOf(s.killSwitchStateOr, bit);
        const std::optional<double> alwaysOff = bitOf(s.killSwitchStateAnd, bit);
        if (!everOff || !alwaysOff)
            return std::nullopt;
        return ValueRange{1.0 - *everOff, 1.0 - *alwaysOff};
    }
    default:
        break;
    }
    if (channel >= Channel::MissionBit0 && channel <= Channel::MissionBit7)
        return bits(s.missionAnd, s.missionOr, index - static_cast<int>(Channel::MissionBit0));
    return bits(s.debugAnd, s.debugOr, index - static_cast<int>(Channel::DebugBit0));
}

QString queryError(const QSqlQuery &query)
{
    const QSqlError error = query.lastError();
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    return text.isEmpty() ? u"unknown error"_s : text;
}

void addSorted(QStringList &sources, const QString &source)
{
    const auto at = std::lower_bound(sources.begin(), sources.end(), source);
    if (at == sources.end() || *at != source)
        sources.insert(at, source);
}

// The part of a pass that one query gave.
struct PassPiece
{
    Pass pass;
    qint64 firstMinute = 0; // of the minutes summed up, when lastMinute >= firstMinute
    qint64 lastMinute = -1;
};

} // namespace

struct HistoryLog::Private
{
    station::StationLog log;
    bool isOpen = false;
    QString path;
    QString error = u"the station log is not open"_s;
    qint64 ownChanges = 0;

    QSqlDatabase database() const { return log.database(); }

    template<typename T> std::optional<T> fail(const QSqlQuery &query, const QString &what)
    {
        error = u"the station log %1 %2: %3"_s.arg(path, what, queryError(query));
        return std::nullopt;
    }

    bool checkOpen()
    {
        if (!isOpen && error.isEmpty())
            error = u"the station log is not open"_s;
        return isOpen;
    }

    std::optional<TimeRange> span();
    std::optional<TimeRange> bounded(const TimeRange &range);
    bool collect(qint64 since, qint64 until, int level, std::vector<BucketSummary> &pieces);
    bool rawFrames(qint64 since, qint64 until, std::vector<BucketSummary> &pieces);
    bool passPieces(qint64 since, qint64 until, std::vector<PassPiece> &pieces);
    bool addSources(std::size_t first, std::vector<PassPiece> &pieces);
};

// The sources of the pieces from `first` on, from the minutes each spans: SQLite joins a table
// of their spans with the sources per minute, a look-up in its index per piece.
bool HistoryLog::Private::addSources(std::size_t first, std::vector<PassPiece> &pieces)
{
    if (first >= pieces.size())
        return true;
    QSqlQuery query(database());
    if (!query.exec(u"CREATE TEMP TABLE IF NOT EXISTS pass_spans (piece INTEGER PRIMARY KEY, "
                    u"low INTEGER NOT NULL, high INTEGER NOT NULL)"_s) ||
        !query.exec(u"BEGIN"_s))
        return fail<bool>(query, u"cannot be read"_s).has_value();
    bool filled =
        query.exec(u"DELETE FROM temp.pass_spans"_s) &&
        query.prepare(u"INSERT INTO temp.pass_spans (piece, low, high) VALUES (?, ?, ?)"_s);
    for (std::size_t at = first; filled && at < pieces.size(); ++at) {
        query.addBindValue(qint64(at));
        query.addBindValue(pieces[at].firstMinute);
        query.addBindValue(pieces[at].lastMinute);
        filled = query.exec();
    }
    if (!filled) {
        const QString why = queryError(query);
        QSqlQuery(database()).exec(u"ROLLBACK"_s);
        error = u"the station log %1 cannot be read: %2"_s.arg(path, why);
        return false;
    }
    if (!query.exec(u"COMMIT"_s))
        return fail<bool>(query, u"cannot be read"_s).has_value();
    query.setForwardOnly(true);
    if (!query.exec(u"SELECT DISTINCT p.piece, s.source FROM temp.pass_spans p "
                    u"JOIN bucket_sources s ON s.minute BETWEEN p.low AND p.high "
                    u"ORDER BY p.piece, s.source"_s))
        return fail<bool>(query, u"cannot be read"_s).has_value();
    while (query.next()) {
        const std::size_t at = query.value(0).toULongLong();
        if (at < pieces.size())
            pieces[at].pass.sources.append(query.value(1).toString());
    }
    return true;
}

std::optional<TimeRange> HistoryLog::Private::span()
{
    QSqlQuery query(database());
    const QString statement =
        u"SELECT (SELECT first_ms FROM frame_buckets WHERE width_ms = %1 "
        u"ORDER BY bucket LIMIT 1), (SELECT last_ms FROM frame_buckets "
        u"WHERE width_ms = %1 ORDER BY bucket DESC LIMIT 1)"_s.arg(station::DayMs);
    if (!query.exec(statement) || !query.next())
        return fail<TimeRange>(query, u"cannot be read"_s);
    if (query.value(0).isNull())
        return TimeRange{0, 0};
    return TimeRange{query.value(0).toLongLong(), query.value(1).toLongLong() + 1};
}

// The range with an unbounded side cut to the log's first or last sure frame, and a side beyond
// them cut too, so that bucket arithmetic never overflows. Empty (since == until) when nothing
// can be in it.
std::optional<TimeRange> HistoryLog::Private::bounded(const TimeRange &range)
{
    const std::optional<TimeRange> all = span();
    if (!all)
        return std::nullopt;
    const qint64 since = std::max(range.sinceMs.value_or(Earliest), *all->sinceMs);
    const qint64 until = std::min(range.untilMs.value_or(Latest), *all->untilMs);
    if (until <= since)
        return TimeRange{since, since};
    return TimeRange{since, until};
}

bool HistoryLog::Private::rawFrames(qint64 since, qint64 until, std::vector<BucketSummary> &pieces)
{
    QSqlQuery query(database());
    query.setForwardOnly(true);
    query.prepare(u"SELECT received_ms, digits FROM frames WHERE deleted = 0 AND doubtful = 0 "
                  u"AND received_ms >= ? AND received_ms < ? ORDER BY received_ms, id"_s);
    query.addBindValue(since);
    query.addBindValue(until);
    if (!query.exec())
        return fail<bool>(query, u"cannot be read"_s).has_value();
    while (query.next()) {
        const QString digits = query.value(1).toString();
        if (digits.size() != FrameLength)
            continue;
        BucketSummary piece;
        piece.add(query.value(0).toLongLong(), decodeFields(digits));
        pieces.push_back(piece);
    }
    return true;
}

// The summaries of [since, until) in time order: whole buckets of width BucketWidthsMs[level],
// the edges from finer ones down to single frames, so that the sum is exact.
bool HistoryLog::Private::collect(qint64 since, qint64 until, int level,
                                  std::vector<BucketSummary> &pieces)
{
    if (since >= until)
        return true;
    if (level < 0)
        return rawFrames(since, until, pieces);
    const qint64 width = BucketWidthsMs[static_cast<std::size_t>(level)];
    const qint64 firstWhole = -bucketOf(-since, width);
    const qint64 endWhole = bucketOf(until, width);
    if (firstWhole >= endWhole)
        return collect(since, until, level - 1, pieces);
    if (!collect(since, firstWhole * width, level - 1, pieces))
        return false;
    QSqlQuery query(database());
    query.setForwardOnly(true);
    query.prepare(u"SELECT %1 FROM frame_buckets WHERE width_ms = ? AND bucket >= ? "
                  u"AND bucket < ? ORDER BY bucket"_s.arg(station::bucketSummaryColumns()));
    query.addBindValue(width);
    query.addBindValue(firstWhole);
    query.addBindValue(endWhole);
    if (!query.exec())
        return fail<bool>(query, u"cannot be read"_s).has_value();
    while (query.next())
        pieces.push_back(station::readBucketSummary(query, 0));
    query.finish();
    return collect(endWhole * width, until, level - 1, pieces);
}

// The passes of the whole minutes in [since, until) as SQLite groups them from the minute
// summaries (a pass never breaks inside a minute), the frames of the partial minutes at the
// edges one by one.
bool HistoryLog::Private::passPieces(qint64 since, qint64 until, std::vector<PassPiece> &pieces)
{
    const auto addFrames = [&](qint64 from, qint64 to) {
        if (from >= to)
            return true;
        QSqlQuery query(database());
        query.setForwardOnly(true);
        query.prepare(u"SELECT f.id, f.received_ms, f.digits, r.source FROM frames f "
                      u"LEFT JOIN receptions r ON r.frame_id = f.id WHERE f.deleted = 0 "
                      u"AND f.doubtful = 0 AND f.received_ms >= ? AND f.received_ms < ? "
                      u"ORDER BY f.received_ms, f.id"_s);
        query.addBindValue(from);
        query.addBindValue(to);
        if (!query.exec())
            return fail<bool>(query, u"cannot be read"_s).has_value();
        qint64 lastId = -1;
        while (query.next()) {
            const qint64 id = query.value(0).toLongLong();
            if (id != lastId) {
                lastId = id;
                const qint64 timeMs = query.value(1).toLongLong();
                const QString digits = query.value(2).toString();
                const double voltage =
                    digits.size() == FrameLength ? decodeFields(digits).batteryVoltage : 0.0;
                PassPiece piece;
                piece.pass = {timeMs, timeMs, 1, voltage, voltage, {}};
                if (digits.size() != FrameLength)
                    piece.pass.minBatteryVoltage = piece.pass.maxBatteryVoltage = std::nullopt;
                pieces.push_back(piece);
            }
            if (!query.value(3).isNull())
                addSorted(pieces.back().pass.sources, query.value(3).toString());
        }
        return true;
    };

    const qint64 firstWhole = -bucketOf(-since, station::MinuteMs);
    const qint64 endWhole = bucketOf(until, station::MinuteMs);
    if (firstWhole >= endWhole)
        return addFrames(since, until);
    if (!addFrames(since, firstWhole * station::MinuteMs))
        return false;

    // The minute summaries in time order: a gap of more than PassGapMs between one's last
    // frame and the next one's first starts a pass.
    QSqlQuery query(database());
    query.setForwardOnly(true);
    query.prepare(u"SELECT bucket, frames, first_ms, last_ms, battery_voltage_min, "
                  u"battery_voltage_max FROM frame_buckets WHERE width_ms = ? AND bucket >= ? "
                  u"AND bucket < ? ORDER BY bucket"_s);
    query.addBindValue(station::MinuteMs);
    query.addBindValue(firstWhole);
    query.addBindValue(endWhole);
    if (!query.exec())
        return fail<bool>(query, u"cannot be read"_s).has_value();
    const std::size_t firstGrouped = pieces.size();
    while (query.next()) {
        const qint64 minute = query.value(0).toLongLong();
        const qint64 frames = query.value(1).toLongLong();
        const qint64 firstMs = query.value(2).toLongLong();
        const qint64 lastMs = query.value(3).toLongLong();
        const double low = query.value(4).toDouble();
        const double high = query.value(5).toDouble();
        if (pieces.size() == firstGrouped || firstMs - pieces.back().pass.endMs > PassGapMs) {
            PassPiece piece;
            piece.firstMinute = piece.lastMinute = minute;
            piece.pass = {firstMs, lastMs, frames, low, high, {}};
            pieces.push_back(piece);
            continue;
        }
        Pass &pass = pieces.back().pass;
        pieces.back().lastMinute = minute;
        pass.endMs = lastMs;
        pass.frames += frames;
        pass.minBatteryVoltage = std::min(*pass.minBatteryVoltage, low);
        pass.maxBatteryVoltage = std::max(*pass.maxBatteryVoltage, high);
    }
    query.finish();
    if (!addSources(firstGrouped, pieces))
        return false;
    return addFrames(endWhole * station::MinuteMs, until);
}

HistoryLog::HistoryLog() : d(std::make_unique<Private>()) {}
HistoryLog::~HistoryLog() = default;

bool HistoryLog::open(const QString &path, int busyTimeoutMs)
{
    d->path = path;
    d->isOpen = false;
    if (!QFileInfo::exists(path)) {
        d->error = u"the station log %1 does not exist: nothing was logged yet"_s.arg(path);
        return false;
    }
    if (!d->log.open(path, busyTimeoutMs)) {
        d->error = d->log.errorString();
        return false;
    }
    d->error.clear();
    d->isOpen = true;
    return true;
}

bool HistoryLog::isOpen() const
{
    return d->isOpen;
}

QString HistoryLog::errorString() const
{
    return d->error;
}

std::optional<std::vector<LoggedFrame>> HistoryLog::frames(const TimeRange &range,
                                                           bool includeDoubtful)
{
    std::vector<LoggedFrame> frames;
    if (!forEachFrame(range, includeDoubtful, [&](const LoggedFrame &frame) {
            frames.push_back(frame);
            return true;
        }))
        return std::nullopt;
    return frames;
}

bool HistoryLog::forEachFrame(const TimeRange &range, bool includeDoubtful,
                              const std::function<bool(const LoggedFrame &)> &take,
                              bool withConfidence)
{
    if (!d->checkOpen())
        return false;
    // Columns not needed are not read: a million frames go out in about a second.
    const QString columns = withConfidence    ? u"f.doubtful, r.source, r.confidence"_s
                            : includeDoubtful ? u"f.doubtful, r.source"_s
                                              : u"r.source"_s;
    QSqlQuery query(d->database());
    query.setForwardOnly(true);
    query.prepare(u"SELECT f.id, f.received_ms, f.digits, %1 FROM frames f "
                  u"LEFT JOIN receptions r ON r.frame_id = f.id "
                  u"WHERE f.deleted = 0 AND f.doubtful <= ? AND f.received_ms >= ? "
                  u"AND f.received_ms < ? ORDER BY f.received_ms, f.id"_s.arg(columns));
    query.addBindValue(includeDoubtful ? 1 : 0);
    query.addBindValue(range.sinceMs.value_or(Earliest));
    query.addBindValue(range.untilMs.value_or(Latest));
    if (!query.exec())
        return d->fail<bool>(query, u"cannot be read"_s).has_value();
    const int sourceColumn = withConfidence || includeDoubtful ? 4 : 3;
    LoggedFrame frame;
    frame.id = -1;
    while (query.next()) {
        const qint64 id = query.value(0).toLongLong();
        if (id != frame.id) {
            if (frame.id >= 0 && !take(frame))
                return true;
            frame.id = id;
            frame.receivedMs = query.value(1).toLongLong();
            frame.digits = query.value(2).toString();
            frame.doubtful = sourceColumn == 4 && query.value(3).toInt() != 0;
            frame.sources.clear();
            frame.confidence.reset();
        }
        const QVariant source = query.value(sourceColumn);
        if (!source.isNull() && !frame.sources.contains(source.toString())) {
            frame.sources.append(source.toString());
            if (frame.sources.size() > 1)
                frame.sources.sort();
        }
        if (withConfidence) {
            const QVariant confidence = query.value(5);
            if (!confidence.isNull())
                frame.confidence = std::max(frame.confidence.value_or(0.0), confidence.toDouble());
        }
    }
    if (query.lastError().isValid())
        return d->fail<bool>(query, u"cannot be read"_s).has_value();
    if (frame.id >= 0)
        take(frame);
    return true;
}

std::optional<std::vector<Pass>> HistoryLog::passes(const TimeRange &range)
{
    if (!d->checkOpen())
        return std::nullopt;
    const std::optional<TimeRange> bounds = d->bounded(range);
    if (!bounds)
        return std::nullopt;
    std::vector<PassPiece> pieces;
    if (!d->passPieces(*bounds->sinceMs, *bounds->untilMs, pieces))
        return std::nullopt;
    std::vector<Pass> passes;
    for (const PassPiece &piece : pieces) {
        const Pass &next = piece.pass;
        if (passes.empty() || next.startMs - passes.back().endMs > PassGapMs) {
            passes.push_back(next);
            continue;
        }
        Pass &pass = passes.back();
        pass.endMs = next.endMs;
        pass.frames += next.frames;
        const auto widen = [](std::optional<double> &to, std::optional<double> from, auto pick) {
            if (from)
                to = to ? pick(*to, *from) : *from;
        };
        widen(pass.minBatteryVoltage, next.minBatteryVoltage,
              [](double a, double b) { return std::min(a, b); });
        widen(pass.maxBatteryVoltage, next.maxBatteryVoltage,
              [](double a, double b) { return std::max(a, b); });
        for (const QString &source : next.sources)
            addSorted(pass.sources, source);
    }
    return passes;
}

std::optional<Pass> HistoryLog::lastPass()
{
    const std::optional<TimeRange> all = span();
    if (!all)
        return std::nullopt;
    // Back from the last frame, a minute summary at a time, to a gap of more than PassGapMs.
    QSqlQuery query(d->database());
    query.setForwardOnly(true);
    query.prepare(u"SELECT first_ms, last_ms FROM frame_buckets WHERE width_ms = ? "
                  u"ORDER BY bucket DESC"_s);
    query.addBindValue(station::MinuteMs);
    if (!query.exec())
        return d->fail<Pass>(query, u"cannot be read"_s);
    qint64 startMs = *all->untilMs - 1;
    while (query.next()) {
        if (startMs - query.value(1).toLongLong() > PassGapMs)
            break;
        startMs = query.value(0).toLongLong();
    }
    query.finish();
    const std::optional<std::vector<Pass>> found = passes({startMs, *all->untilMs});
    if (!found || found->empty())
        return std::nullopt;
    return found->back();
}

std::optional<TimeRange> HistoryLog::span()
{
    if (!d->checkOpen())
        return std::nullopt;
    d->error.clear();
    const std::optional<TimeRange> all = d->span();
    if (!all || *all->sinceMs == *all->untilMs)
        return std::nullopt;
    return all;
}

std::optional<Series> HistoryLog::series(Channel channel, const TimeRange &range, int columns)
{
    if (!d->checkOpen())
        return std::nullopt;
    const std::optional<TimeRange> bounds = d->bounded(range);
    if (!bounds)
        return std::nullopt;
    Series series;
    series.channel = channel;
    series.range = {range.sinceMs.value_or(*bounds->sinceMs),
                    range.untilMs.value_or(*bounds->untilMs)};
    const qint64 since = *bounds->sinceMs;
    const qint64 until = *bounds->untilMs;
    if (until <= since)
        return series;
    // The columns divide the range asked for, not only the part of it that holds frames.
    columns = std::max(columns, 1);
    const qint64 origin = *series.range.sinceMs;
    const double columnMs = double(*series.range.untilMs - origin) / columns;
    int level = -1;
    while (level + 1 < int(BucketWidthsMs.size()) &&
           double(BucketWidthsMs[std::size_t(level + 1)]) <= columnMs)
        ++level;
    std::vector<BucketSummary> pieces;
    if (!d->collect(since, until, level, pieces))
        return std::nullopt;
    qint64 frames = 0;
    for (const BucketSummary &piece : pieces)
        frames += piece.frames;
    // Few enough frames for a point each.
    if (level >= 0 && frames <= columns) {
        pieces.clear();
        if (!d->collect(since, until, -1, pieces))
            return std::nullopt;
        level = -1;
    }
    series.reduced = level >= 0;

    // A point per frame, or per column holding frames; the line breaks where the frames, with a
    // value for this channel or not, leave a gap of more than PassGapMs.
    std::vector<BucketSummary> points;
    if (series.reduced) {
        qint64 column = -1;
        for (const BucketSummary &piece : pieces) {
            const qint64 at = std::clamp<qint64>(
                qint64(std::floor(double(piece.firstMs - origin) / columnMs)), 0, columns - 1);
            if (at != column || points.empty())
                points.push_back(piece);
            else
                points.back().merge(piece);
            column = at;
        }
    } else {
        points = std::move(pieces);
    }
    std::optional<qint64> previousLastMs;
    bool pendingBreak = true;
    for (const BucketSummary &point : points) {
        if (previousLastMs && point.firstMs - *previousLastMs > PassGapMs)
            pendingBreak = true;
        previousLastMs = point.lastMs;
        const std::optional<ValueRange> values = channelRange(channel, point);
        if (!values)
            continue;
        series.points.push_back(
            {point.firstMs, point.lastMs, values->minimum, values->maximum, pendingBreak});
        pendingBreak = false;
    }
    return series;
}

std::optional<qint64> HistoryLog::count(const TimeRange &range)
{
    if (!d->checkOpen())
        return std::nullopt;
    const std::optional<TimeRange> bounds = d->bounded(range);
    if (!bounds)
        return std::nullopt;
    std::vector<BucketSummary> pieces;
    if (!d->collect(*bounds->sinceMs, *bounds->untilMs, int(BucketWidthsMs.size()) - 1, pieces))
        return std::nullopt;
    qint64 frames = 0;
    for (const BucketSummary &piece : pieces)
        frames += piece.frames;
    return frames;
}

std::optional<qint64> HistoryLog::remove(const TimeRange &range)
{
    if (!d->checkOpen())
        return std::nullopt;
    const std::optional<qint64> marked =
        d->log.markDeleted(range.sinceMs.value_or(Earliest), range.untilMs.value_or(Latest));
    if (!marked) {
        d->error = d->log.errorString();
        return std::nullopt;
    }
    ++d->ownChanges;
    return marked;
}

ChangeToken HistoryLog::changeToken()
{
    ChangeToken token;
    token.ownChanges = d->ownChanges;
    if (!d->isOpen)
        return token;
    QSqlQuery query(d->database());
    if (query.exec(u"PRAGMA data_version"_s) && query.next())
        token.dataVersion = query.value(0).toLongLong();
    query.finish();
    if (query.exec(u"SELECT max(id) FROM frames"_s) && query.next())
        token.lastFrameId = query.value(0).toLongLong();
    return token;
}

} // namespace tovrin3::history
