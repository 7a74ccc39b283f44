// SPDX-License-Identifier: GPL-3.0-or-later
#include "framebuckets.h"

#include "normalisation.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <limits>

namespace tovrin3::station {

namespace {

using namespace Qt::StringLiterals;

// Days summed up in memory at once when rebuilding, which bounds the memory a large log takes.
constexpr qint64 RebuildChunkMs = 32 * DayMs;

QString queryError(const QSqlQuery &query)
{
    const QSqlError error = query.lastError();
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

template<typename T>
void widen(std::optional<T> &least, std::optional<T> &most, std::optional<T> value)
{
    if (!value)
        return;
    least = least ? std::min(*least, *value) : *value;
    most = most ? std::max(*most, *value) : *value;
}

QVariant nullable(const std::optional<double> &value)
{
    return value ? QVariant(*value) : QVariant(QMetaType::fromType<double>());
}

QVariant nullable(const std::optional<int> &value)
{
    return value ? QVariant(*value) : QVariant(QMetaType::fromType<int>());
}

std::optional<double> optionalDouble(const QVariant &value)
{
    return value.isNull() ? std::nullopt : std::optional<double>(value.toDouble());
}

std::optional<int> optionalInt(const QVariant &value)
{
    return value.isNull() ? std::nullopt : std::optional<int>(value.toInt());
}

// SQL for the minute that holds a time in milliseconds, rounded down also before 1970.
QString minuteOf(const QString &column)
{
    return u"((%1 - ((%1 %% 60000) + 60000) %% 60000) / 60000)"_s.arg(column).replace(u"%%"_s,
                                                                                      u"%"_s);
}

bool insertSummary(QSqlQuery &insert, qint64 width, qint64 bucket, const BucketSummary &s)
{
    const QVariantList values{width,
                              bucket,
                              s.frames,
                              s.firstMs,
                              s.lastMs,
                              nullable(s.batteryTemperatureMin),
                              nullable(s.batteryTemperatureMax),
                              nullable(s.comTemperatureMin),
                              nullable(s.comTemperatureMax),
                              s.batteryVoltageMin,
                              s.batteryVoltageMax,
                              s.missionMin,
                              s.missionMax,
                              s.missionAnd,
                              s.missionOr,
                              s.debugMin,
                              s.debugMax,
                              s.debugAnd,
                              s.debugOr,
                              s.killSwitchMin,
                              s.killSwitchMax,
                              nullable(s.killSwitchStateAnd),
                              nullable(s.killSwitchStateOr)};
    for (const QVariant &value : values)
        insert.addBindValue(value);
    return insert.exec();
}

} // namespace

void BucketSummary::add(qint64 timeMs, const FrameValues &values)
{
    const bool first = frames == 0;
    ++frames;
    firstMs = first ? timeMs : std::min(firstMs, timeMs);
    lastMs = first ? timeMs : std::max(lastMs, timeMs);
    widen(batteryTemperatureMin, batteryTemperatureMax, values.batteryTemperature);
    widen(comTemperatureMin, comTemperatureMax, values.comTemperature);
    batteryVoltageMin =
        first ? values.batteryVoltage : std::min(batteryVoltageMin, values.batteryVoltage);
    batteryVoltageMax =
        first ? values.batteryVoltage : std::max(batteryVoltageMax, values.batteryVoltage);
    const int mission = values.mission;
    const int debug = values.debug;
    const int killSwitch = values.killSwitch;
    missionMin = first ? mission : std::min(missionMin, mission);
    missionMax = first ? mission : std::max(missionMax, mission);
    missionAnd = first ? mission : missionAnd & mission;
    missionOr = first ? mission : missionOr | mission;
    debugMin = first ? debug : std::min(debugMin, debug);
    debugMax = first ? debug : std::max(debugMax, debug);
    debugAnd = first ? debug : debugAnd & debug;
    debugOr = first ? debug : debugOr | debug;
    killSwitchMin = first ? killSwitch : std::min(killSwitchMin, killSwitch);
    killSwitchMax = first ? killSwitch : std::max(killSwitchMax, killSwitch);
    if (killSwitchState(values.killSwitch)) {
        killSwitchStateAnd = killSwitchStateAnd ? (*killSwitchStateAnd & killSwitch) : killSwitch;
        killSwitchStateOr = killSwitchStateOr ? (*killSwitchStateOr | killSwitch) : killSwitch;
    }
}

void BucketSummary::merge(const BucketSummary &other)
{
    if (other.frames == 0)
        return;
    if (frames == 0) {
        *this = other;
        return;
    }
    frames += other.frames;
    firstMs = std::min(firstMs, other.firstMs);
    lastMs = std::max(lastMs, other.lastMs);
    widen(batteryTemperatureMin, batteryTemperatureMax, other.batteryTemperatureMin);
    widen(batteryTemperatureMin, batteryTemperatureMax, other.batteryTemperatureMax);
    widen(comTemperatureMin, comTemperatureMax, other.comTemperatureMin);
    widen(comTemperatureMin, comTemperatureMax, other.comTemperatureMax);
    batteryVoltageMin = std::min(batteryVoltageMin, other.batteryVoltageMin);
    batteryVoltageMax = std::max(batteryVoltageMax, other.batteryVoltageMax);
    missionMin = std::min(missionMin, other.missionMin);
    missionMax = std::max(missionMax, other.missionMax);
    missionAnd &= other.missionAnd;
    missionOr |= other.missionOr;
    debugMin = std::min(debugMin, other.debugMin);
    debugMax = std::max(debugMax, other.debugMax);
    debugAnd &= other.debugAnd;
    debugOr |= other.debugOr;
    killSwitchMin = std::min(killSwitchMin, other.killSwitchMin);
    killSwitchMax = std::max(killSwitchMax, other.killSwitchMax);
    if (other.killSwitchStateAnd) {
        killSwitchStateAnd = killSwitchStateAnd ? (*killSwitchStateAnd & *other.killSwitchStateAnd)
                                                : *other.killSwitchStateAnd;
        killSwitchStateOr = killSwitchStateOr ? (*killSwitchStateOr | *other.killSwitchStateOr)
                                              : *other.killSwitchStateOr;
    }
}

QString bucketSummaryColumns()
{
    return u"frames, first_ms, last_ms, battery_temperature_min, battery_temperature_max, "
           u"com_temperature_min, com_temperature_max, battery_voltage_min, battery_voltage_max, "
           u"mission_min, mission_max, mission_and, mission_or, debug_min, debug_max, debug_and, "
           u"debug_or, kill_switch_min, kill_switch_max, kill_switch_state_and, "
           u"kill_switch_state_or"_s;
}

BucketSummary readBucketSummary(const QSqlQuery &query, int first)
{
    int column = first;
    const auto next = [&] { return query.value(column++); };
    BucketSummary s;
    s.frames = next().toLongLong();
    s.firstMs = next().toLongLong();
    s.lastMs = next().toLongLong();
    s.batteryTemperatureMin = optionalDouble(next());
    s.batteryTemperatureMax = optionalDouble(next());
    s.comTemperatureMin = optionalDouble(next());
    s.comTemperatureMax = optionalDouble(next());
    s.batteryVoltageMin = next().toDouble();
    s.batteryVoltageMax = next().toDouble();
    s.missionMin = next().toInt();
    s.missionMax = next().toInt();
    s.missionAnd = next().toInt();
    s.missionOr = next().toInt();
    s.debugMin = next().toInt();
    s.debugMax = next().toInt();
    s.debugAnd = next().toInt();
    s.debugOr = next().toInt();
    s.killSwitchMin = next().toInt();
    s.killSwitchMax = next().toInt();
    s.killSwitchStateAnd = optionalInt(next());
    s.killSwitchStateOr = optionalInt(next());
    return s;
}

QStringList bucketSchemaStatements()
{
    return {
        u"CREATE TABLE IF NOT EXISTS frame_buckets ("
        u" width_ms INTEGER NOT NULL,"
        u" bucket INTEGER NOT NULL,"
        u" frames INTEGER NOT NULL,"
        u" first_ms INTEGER NOT NULL,"
        u" last_ms INTEGER NOT NULL,"
        u" battery_temperature_min REAL, battery_temperature_max REAL,"
        u" com_temperature_min REAL, com_temperature_max REAL,"
        u" battery_voltage_min REAL NOT NULL, battery_voltage_max REAL NOT NULL,"
        u" mission_min INTEGER NOT NULL, mission_max INTEGER NOT NULL,"
        u" mission_and INTEGER NOT NULL, mission_or INTEGER NOT NULL,"
        u" debug_min INTEGER NOT NULL, debug_max INTEGER NOT NULL,"
        u" debug_and INTEGER NOT NULL, debug_or INTEGER NOT NULL,"
        u" kill_switch_min INTEGER NOT NULL, kill_switch_max INTEGER NOT NULL,"
        u" kill_switch_state_and INTEGER, kill_switch_state_or INTEGER,"
        u" PRIMARY KEY (width_ms, bucket)) WITHOUT ROWID"_s,
        u"CREATE TABLE IF NOT EXISTS bucket_sources ("
        u" minute INTEGER NOT NULL,"
        u" source TEXT NOT NULL,"
        u" PRIMARY KEY (minute, source)) WITHOUT ROWID"_s,
    };
}

void BucketWriter::addFrame(qint64 timeMs, const QString &digits)
{
    if (digits.size() != FrameLength)
        return;
    const FrameValues values = decodeFields(digits);
    for (const qint64 width : BucketWidthsMs)
        m_summaries[{width, bucketOf(timeMs, width)}].add(timeMs, values);
}

void BucketWriter::addSourcesOf(qint64 frameId, qint64 timeMs)
{
    m_sourceFrames.insert({bucketOf(timeMs, MinuteMs), frameId});
}

bool BucketWriter::write(QString &error)
{
    QSqlQuery stored(m_database);
    QSqlQuery insert(m_database);
    QSqlQuery insertSource(m_database);
    const bool prepared =
        stored.prepare(u"SELECT %1 FROM frame_buckets WHERE width_ms = ? AND bucket = ?"_s.arg(
            bucketSummaryColumns())) &&
        insert.prepare(u"INSERT OR REPLACE INTO frame_buckets (width_ms, bucket, %1) "
                       u"VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                       u"?, ?)"_s.arg(bucketSummaryColumns())) &&
        insertSource.prepare(u"INSERT OR IGNORE INTO bucket_sources (minute, source) "
                             u"SELECT ?, source FROM receptions WHERE frame_id = ?"_s);
    if (!prepared) {
        error = queryError(stored.lastError().isValid() ? stored : insert);
        return false;
    }
    for (auto &[key, summary] : m_summaries) {
        stored.addBindValue(key.first);
        stored.addBindValue(key.second);
        if (!stored.exec()) {
            error = queryError(stored);
            return false;
        }
        if (stored.next())
            summary.merge(readBucketSummary(stored, 0));
        stored.finish();
        if (!insertSummary(insert, key.first, key.second, summary)) {
            error = queryError(insert);
            return false;
        }
    }
    for (const auto &[minute, frameId] : m_sourceFrames) {
        insertSource.addBindValue(minute);
        insertSource.addBindValue(frameId);
        if (!insertSource.exec()) {
            error = queryError(insertSource);
            return false;
        }
    }
    m_summaries.clear();
    m_sourceFrames.clear();
    return true;
}

bool rebuildBuckets(QSqlDatabase &database, qint64 sinceMs, qint64 untilMs, QString &error)
{
    const qint64 firstDay = bucketOf(sinceMs, DayMs);
    const qint64 lastDay = bucketOf(untilMs - 1, DayMs);
    QSqlQuery query(database);
    for (const qint64 width : BucketWidthsMs) {
        query.prepare(
            u"DELETE FROM frame_buckets WHERE width_ms = ? AND bucket >= ? AND bucket <= ?"_s);
        query.addBindValue(width);
        query.addBindValue(firstDay * (DayMs / width));
        query.addBindValue((lastDay + 1) * (DayMs / width) - 1);
        if (!query.exec()) {
            error = queryError(query);
            return false;
        }
    }
    const qint64 firstMinute = firstDay * (DayMs / MinuteMs);
    const qint64 lastMinute = (lastDay + 1) * (DayMs / MinuteMs) - 1;
    query.prepare(u"DELETE FROM bucket_sources WHERE minute >= ? AND minute <= ?"_s);
    query.addBindValue(firstMinute);
    query.addBindValue(lastMinute);
    if (!query.exec()) {
        error = queryError(query);
        return false;
    }
    query.prepare(
        u"INSERT OR IGNORE INTO bucket_sources (minute, source) "
        u"SELECT DISTINCT %1, r.source FROM frames f JOIN receptions r "
        u"ON r.frame_id = f.id WHERE f.deleted = 0 AND f.doubtful = 0 "
        u"AND f.received_ms >= ? AND f.received_ms < ?"_s.arg(minuteOf(u"f.received_ms"_s)));
    query.addBindValue(firstDay * DayMs);
    query.addBindValue((lastDay + 1) * DayMs);
    if (!query.exec()) {
        error = queryError(query);
        return false;
    }

    // Only the days that hold frames are read, a chunk at a time.
    query.prepare(u"SELECT min(received_ms), max(received_ms) FROM frames "
                  u"WHERE received_ms >= ? AND received_ms < ?"_s);
    query.addBindValue(firstDay * DayMs);
    query.addBindValue((lastDay + 1) * DayMs);
    if (!query.exec()) {
        error = queryError(query);
        return false;
    }
    if (!query.next() || query.value(0).isNull())
        return true;
    const qint64 firstFrameMs = query.value(0).toLongLong();
    const qint64 lastFrameMs = query.value(1).toLongLong();
    query.finish();

    QSqlQuery frames(database);
    frames.setForwardOnly(true);
    QSqlQuery insert(database);
    if (!frames.prepare(u"SELECT received_ms, digits FROM frames WHERE deleted = 0 AND "
                        u"doubtful = 0 AND received_ms >= ? AND received_ms < ?"_s) ||
        !insert.prepare(u"INSERT INTO frame_buckets (width_ms, bucket, %1) "
                        u"VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                        u"?, ?)"_s.arg(bucketSummaryColumns()))) {
        error = queryError(frames.lastError().isValid() ? frames : insert);
        return false;
    }
    for (qint64 chunk = bucketOf(firstFrameMs, DayMs) * DayMs; chunk <= lastFrameMs;
         chunk += RebuildChunkMs) {
        std::map<std::pair<qint64, qint64>, BucketSummary> summaries;
        frames.addBindValue(chunk);
        frames.addBindValue(chunk + RebuildChunkMs);
        if (!frames.exec()) {
            error = queryError(frames);
            return false;
        }
        while (frames.next()) {
            const qint64 timeMs = frames.value(0).toLongLong();
            const QString digits = frames.value(1).toString();
            if (digits.size() != FrameLength)
                continue;
            const FrameValues values = decodeFields(digits);
            for (const qint64 width : BucketWidthsMs)
                summaries[{width, bucketOf(timeMs, width)}].add(timeMs, values);
        }
        frames.finish();
        for (const auto &[key, summary] : summaries)
            if (!insertSummary(insert, key.first, key.second, summary)) {
                error = queryError(insert);
                return false;
            }
    }
    return true;
}

} // namespace tovrin3::station
