// SPDX-License-Identifier: GPL-3.0-or-later
#include "framebuckets.h"
#include "historybench.h"
#include "historylog.h"
#include "logexport.h"
#include "stationlog.h"

#include <QElapsedTimer>
#include <QIODevice>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

using namespace tovrin3;
using namespace tovrin3::history;

namespace {

// Ten years of passes: five a day, 55 frames 12 s apart in each, a million frames in all.
constexpr qint64 LogFrames = 1'000'000;
constexpr qint64 FirstPassMs = 1'483'228'800'000; // 2017-01-01T00:00:00Z
constexpr qint64 DayMs = 86'400'000;
constexpr int PassesPerDay = 5;
constexpr int FramesPerPass = 55;
constexpr qint64 FrameSpacingMs = 12'000;
constexpr int PlotColumns = 2000; // a wide window's plot, in pixels

// Writes what it is given nowhere, so that the writer and not the disk is measured.
class NullDevice : public QIODevice
{
public:
    NullDevice() { open(QIODevice::WriteOnly); }
    qint64 written = 0;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 size) override
    {
        written += size;
        return size;
    }
};

} // namespace

// The generated log, made once per run in a folder of its own: frames and receptions in one
// transaction, then the summaries as an upgrade makes them.
const QString &generatedLog()
{
    static std::unique_ptr<QTemporaryDir> folder;
    static QString path;
    if (folder)
        return path;
    folder = std::make_unique<QTemporaryDir>();
    path = folder->filePath(QStringLiteral("telemetry.sqlite"));
    QElapsedTimer timer;
    timer.start();
    station::StationLog log;
    if (!log.open(path)) {
        std::fprintf(stderr, "%s\n", qPrintable(log.errorString()));
        std::abort();
    }
    // One statement counts the frames up inside SQLite: their digits vary with a
    // multiplicative hash of their number, the same in every run.
    QSqlDatabase database = log.database();
    QSqlQuery(database).exec(QStringLiteral("BEGIN"));
    QSqlQuery generate(database);
    const QString number = QStringLiteral("(i / %1)").arg(FramesPerPass);
    const QString day = QStringLiteral("%1 / %2").arg(number).arg(PassesPerDay);
    const QString slot = QStringLiteral("%1 %% %2").arg(number).arg(PassesPerDay);
    const QString time =
        QStringLiteral("%1 + %2 * %3 + %4 * %5 + (%6 * 7919) %% 3600000 + i %% %7 * %8")
            .arg(FirstPassMs)
            .arg(day)
            .arg(DayMs)
            .arg(slot)
            .arg(DayMs / PassesPerDay)
            .arg(number)
            .arg(FramesPerPass)
            .arg(FrameSpacingMs)
            .replace(QStringLiteral("%%"), QStringLiteral("%"));
    // The printf pattern is joined on, not given to QString::arg, which would read its "%03".
    const bool generated =
        generate.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 "
                                     "FROM n WHERE i < %1) INSERT INTO frames (id, digits, "
                                     "received_ms) SELECT i + 1, printf(")
                          .arg(LogFrames - 1) +
                      QStringLiteral("'900140010%03X%02XA5%02X', 2816 + (i * 2654435761) % 512, "
                                     "(i * 40503) % 4, (i / 7 * 2246822519) % 4), ") +
                      time + QStringLiteral(" FROM n")) &&
        generate.exec(QStringLiteral("INSERT INTO receptions (frame_id, source, received_ms) "
                                     "SELECT id, 'listen', received_ms FROM frames"));
    if (!generated) {
        std::fprintf(stderr, "%s\n", qPrintable(generate.lastError().text()));
        std::abort();
    }
    QString error;
    QSqlQuery span(database);
    span.exec(QStringLiteral("SELECT min(received_ms), max(received_ms) FROM frames"));
    span.next();
    const qint64 first = span.value(0).toLongLong();
    const qint64 last = span.value(1).toLongLong();
    span.finish();
    if (!station::rebuildBuckets(database, first, last + 1, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        std::abort();
    }
    QSqlQuery(database).exec(QStringLiteral("COMMIT"));
    // As SQLite does on its own every thousand pages of a log that grows frame by frame.
    QSqlQuery(database).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    std::fprintf(stderr, "history: generated a log of %lld frames in %lld ms\n",
                 static_cast<long long>(
                     generate.exec(QStringLiteral("SELECT count(*) FROM frames")) && generate.next()
                         ? generate.value(0).toLongLong()
                         : 0),
                 static_cast<long long>(timer.elapsed()));
    return path;
}

namespace {

TimeRange lastDays(HistoryLog &log, int days)
{
    const qint64 end = *log.span()->untilMs;
    return {end - days * DayMs, end};
}

// The window opening: the log opened, the last 7 days' pass list and battery voltage plot.
void historyOpenLastSevenDays(benchmark::State &state)
{
    const QString &path = generatedLog();
    std::size_t points = 0;
    for (auto _ : state) {
        HistoryLog log;
        if (!log.open(path))
            state.SkipWithError(qPrintable(log.errorString()));
        const TimeRange range = lastDays(log, 7);
        benchmark::DoNotOptimize(log.passes(range));
        points = log.series(Channel::BatteryVoltage, range, PlotColumns)->points.size();
    }
    state.counters["points"] = double(points);
}

// A range change to all ten years on an open log: the plot, and the pass list beside it.
void historyRangeAllSeries(benchmark::State &state)
{
    HistoryLog log;
    log.open(generatedLog());
    std::size_t points = 0;
    for (auto _ : state)
        points = log.series(Channel::BatteryVoltage, {}, PlotColumns)->points.size();
    state.counters["points"] = double(points);
}

void historyRangeAllPasses(benchmark::State &state)
{
    HistoryLog log;
    log.open(generatedLog());
    std::size_t passes = 0;
    for (auto _ : state)
        passes = log.passes({})->size();
    state.counters["passes"] = double(passes);
}

// tovrin3-decode --from-log --format csv over the whole log, without the process start.
void historyFromLogCsv(benchmark::State &state)
{
    HistoryLog log;
    log.open(generatedLog());
    qint64 bytes = 0;
    for (auto _ : state) {
        NullDevice output;
        if (writeLoggedFrames(log, {}, OutputFormat::Csv, false, output) !=
            LogExportOutcome::Written)
            state.SkipWithError("the log could not be written out");
        bytes = output.written;
    }
    state.SetItemsProcessed(state.iterations() * LogFrames);
    state.SetBytesProcessed(state.iterations() * bytes);
}

} // namespace

BENCHMARK(historyOpenLastSevenDays)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();
BENCHMARK(historyRangeAllSeries)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();
BENCHMARK(historyRangeAllPasses)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();
BENCHMARK(historyFromLogCsv)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();
