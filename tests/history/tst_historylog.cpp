// SPDX-License-Identifier: GPL-3.0-or-later
// The history read from the station log, and tovrin3-decode's export of it.
#include "historylog.h"
#include "historytesting.h"
#include "stationtesting.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <map>
#include <numeric>

using namespace tovrin3;
using namespace tovrin3::history;
using namespace tovrin3::testing;

namespace {

// Frame i at Noon + offsets[i], its raw battery voltage 3000 + i, or random with a generator.
std::vector<station::Reception> framesAt(const QList<qint64> &offsets,
                                         QRandomGenerator *random = nullptr)
{
    std::vector<station::Reception> receptions;
    for (qsizetype i = 0; i < offsets.size(); ++i)
        receptions.push_back(reception(
            Noon + offsets[i], frameDigits(random ? random->bounded(2800, 3300) : 3000 + int(i))));
    return receptions;
}

// The times of `passes` passes from `start`, `apart` from one's start to the next's, each of
// `frames` frames `step` apart.
QList<qint64> passTimes(int passes, qint64 apart, int frames, qint64 step, qint64 start = 0)
{
    QList<qint64> offsets;
    for (int pass = 0; pass < passes; ++pass)
        for (int frame = 0; frame < frames; ++frame)
            offsets.append(start + pass * apart + frame * step);
    return offsets;
}

constexpr int Unbounded = std::numeric_limits<int>::min();

std::optional<qint64> at(int offset)
{
    return offset == Unbounded ? std::nullopt : std::optional<qint64>(Noon + offset);
}

const QString Program = QStringLiteral(BIN_DIR "/tovrin3-decode");

// Arguments written as one text, split at spaces.
QStringList words(const char *text)
{
    return QString::fromUtf8(text).split(u' ', Qt::SkipEmptyParts);
}

// Three passes, each in a file of its own, as a station writes them.
const QList<std::pair<QString, QByteArray>> PassFiles{
    {u"a.txt"_qs, "2026-12-06T18:57:44Z|QT7XMRKT3HKD 900140010C6A00A503\n"
                  "2026-12-06T18:58:14Z|QT7XMRKT3HKD 900140010C6B00A503\n"
                  "2026-12-06T18:58:44Z|QT7XMRKT3HKD 0008400A0C6B01A500\n"},
    {u"b.txt"_qs, "2026-12-06T19:40:00Z|QT7XMRKT3HKD 900140010C7001A502\n"
                  "2026-12-06T19:41:00Z|QT7XMRKT3HKD 900140010C7102A501\n"},
    {u"c.txt"_qs, "2026-12-07T03:00:00.500Z|QT7XMRKT3HKD 900140010C5000A503\n"
                  "2026-12-07T03:00:30.250Z|QT7XMRKT3HKD 900140010C5100A507\n"},
};

// A station whose log holds the three passes, logged by tovrin3-decode --log from their files;
// the working folder is the station's, so that files are named as the log names them.
struct LoggedStation
{
    StationHome home;
    bool ready = false;

    LoggedStation()
    {
        QStringList names;
        for (const auto &[name, content] : PassFiles) {
            if (!writeFile(home.path(name), content))
                return;
            names.append(name);
        }
        if (!writeFile(home.path(u"empty.txt"_qs), {}) || !QDir::setCurrent(home.path(u""_qs)))
            return;
        ready =
            runProgram(Program, QStringList{u"--log"_qs} + names, home.environment()).exitCode == 0;
    }

    ProgramRun run(const QStringList &arguments) const
    {
        return runProgram(Program, arguments, home.environment());
    }
};

} // namespace

class TestHistoryLog : public QObject
{
    Q_OBJECT

private slots:
    // A gap of more than ten minutes starts a pass; the minute summaries and the single frames
    // at a pass's partial minutes give the same passes.
    void groupsPasses_data()
    {
        QTest::addColumn<QList<qint64>>("offsets");
        QTest::addColumn<QList<int>>("passFrames");

        QTest::newRow("an empty log") << QList<qint64>{} << QList<int>{};
        QTest::newRow("10:00 apart: one pass") << QList<qint64>{0, 10 * MinuteMs} << QList<int>{2};
        QTest::newRow("10:01 apart: two passes")
            << QList<qint64>{0, 10 * MinuteMs + SecondMs} << QList<int>{1, 1};
        QTest::newRow("two long passes 10:01 apart, mid-minute")
            << passTimes(2, 36 * 20 * SecondMs + 10 * MinuteMs + SecondMs, 37, 20 * SecondMs,
                         17 * SecondMs)
            << QList<int>{37, 37};
        QTest::newRow("across midnight and the hour")
            << passTimes(1, 0, 20, 40 * SecondMs, 12 * HourMs - 5 * MinuteMs) << QList<int>{20};
    }

    void groupsPasses()
    {
        QFETCH(QList<qint64>, offsets);
        QFETCH(QList<int>, passFrames);
        StationHome home;
        QVERIFY(logReceptions(home.logPath(), framesAt(offsets)));
        HistoryLog log;
        QVERIFY2(log.open(home.logPath()), qPrintable(log.errorString()));
        const std::optional<std::vector<Pass>> passes = log.passes({});
        QVERIFY2(passes, qPrintable(log.errorString()));
        QCOMPARE(qsizetype(passes->size()), passFrames.size());
        int first = 0;
        for (std::size_t i = 0; i < passes->size(); ++i) {
            const Pass &pass = (*passes)[i];
            const int last = first + passFrames[qsizetype(i)] - 1;
            QCOMPARE(pass.frames, passFrames[qsizetype(i)]);
            QCOMPARE(pass.startMs, Noon + offsets[first]);
            QCOMPARE(pass.endMs, Noon + offsets[last]);
            QCOMPARE(pass.minBatteryVoltage, batteryVoltageFromRaw(3000 + first));
            QCOMPARE(pass.maxBatteryVoltage, batteryVoltageFromRaw(3000 + last));
            QCOMPARE(pass.sources, QStringList{u"pass.txt"_qs});
            first = last + 1;
        }
        QCOMPARE(log.frames({})->size(), std::size_t(offsets.size()));
        QCOMPARE(log.count({}), offsets.size());
        const std::optional<Pass> last = log.lastPass();
        QCOMPARE(last.has_value(), !offsets.isEmpty());
        QCOMPARE(log.span().has_value(), !offsets.isEmpty());
        QVERIFY2(log.errorString().isEmpty(), "an empty log is no error");
        if (last) {
            QCOMPARE(last->startMs, passes->back().startMs);
            QCOMPARE(last->frames, passes->back().frames);
        }
        const std::optional<Series> series = log.series(Channel::BatteryVoltage, {}, 800);
        QVERIFY2(series, qPrintable(log.errorString()));
        QCOMPARE(series->points.empty(), offsets.isEmpty());
        QCOMPARE(log.remove({}), offsets.size());
    }

    // Since is inclusive, until exclusive, for frames, counts and passes alike.
    void keepsRangeEdges_data()
    {
        QTest::addColumn<int>("since");
        QTest::addColumn<int>("until");
        QTest::addColumn<QList<qint64>>("expected");

        // Frames at 0, 30 s, 60 s, 90 s, 150 s and 20 min.
        QTest::newRow("since a frame's time takes it")
            << 30'000 << Unbounded << QList<qint64>{30'000, 60'000, 90'000, 150'000, 1'200'000};
        QTest::newRow("until a frame's time leaves it out")
            << Unbounded << 60'000 << QList<qint64>{0, 30'000};
        QTest::newRow("mid-minute edges around whole minutes")
            << 45'000 << 1'200'001 << QList<qint64>{60'000, 90'000, 150'000, 1'200'000};
        QTest::newRow("inside one minute") << 15'000 << 59'999 << QList<qint64>{30'000};
        QTest::newRow("empty") << 30'000 << 30'000 << QList<qint64>{};
    }

    void keepsRangeEdges()
    {
        QFETCH(int, since);
        QFETCH(int, until);
        QFETCH(QList<qint64>, expected);
        StationHome home;
        QVERIFY(logReceptions(home.logPath(),
                              framesAt({0, 30'000, 60'000, 90'000, 150'000, 1'200'000})));
        HistoryLog log;
        QVERIFY(log.open(home.logPath()));
        const TimeRange range{at(since), at(until)};
        const auto frames = log.frames(range);
        QVERIFY2(frames, qPrintable(log.errorString()));
        QList<qint64> times;
        for (const LoggedFrame &frame : *frames)
            times.append(frame.receivedMs - Noon);
        QCOMPARE(times, expected);
        QCOMPARE(log.count(range), expected.size());
        const auto passes = log.passes(range);
        QVERIFY(passes);
        QCOMPARE(std::accumulate(passes->cbegin(), passes->cend(), qint64(0),
                                 [](qint64 sum, const Pass &pass) { return sum + pass.frames; }),
                 expected.size());
        if (!expected.isEmpty()) {
            QCOMPARE(passes->front().startMs, Noon + expected.front());
            QCOMPARE(passes->back().endMs, Noon + expected.back());
        }
    }

    // One message naming the file; no query crashes afterwards. The history opens the log
    // through the station log, so these are that class's messages too.
    void reportsUnusableLogs_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");

        QTest::newRow("missing") << u"missing"_qs << u"does not exist"_qs;
        QTest::newRow("not a database") << u"text"_qs << u"not a database"_qs;
        QTest::newRow("locked") << u"locked"_qs << u"locked"_qs;
        QTest::newRow("written by a newer version") << u"newer"_qs << u"newer version"_qs;
    }

    void reportsUnusableLogs()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        StationHome home;
        QVERIFY(QDir().mkpath(QFileInfo(home.logPath()).absolutePath()));
        station::StationLog holder; // another program, which keeps the log locked
        if (kind == u"text") {
            QVERIFY(writeFile(home.logPath(), QByteArray(4096, 'x')));
        } else if (kind == u"newer") {
            QVERIFY(execOnLog(home.logPath(), {u"PRAGMA user_version = 7"_qs}));
        } else if (kind == u"locked") {
            QVERIFY(holder.open(home.logPath()));
            QSqlQuery hold(holder.database());
            QVERIFY(hold.exec(u"PRAGMA locking_mode = EXCLUSIVE"_qs) &&
                    hold.exec(u"BEGIN EXCLUSIVE"_qs) && hold.exec(u"DELETE FROM outbox"_qs));
        }
        HistoryLog log;
        QVERIFY(!log.open(home.logPath(), 100));
        QVERIFY2(log.errorString().contains(reason), qPrintable(log.errorString()));
        QVERIFY(log.errorString().contains(home.logPath()));
        QVERIFY(!log.frames({}));
        QVERIFY(!log.series(Channel::BatteryVoltage, {}, 100));
        QVERIFY(!log.remove({}));
    }

    // Two passes an hour apart: values per frame, the break between the passes, steps of bits
    // and states, no point where a frame has no value.
    void plotsAKnownLog_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<QList<bool>>("breaks");

        const auto row = [](const char *name, Channel channel, const QList<double> &values,
                            const QList<bool> &breaks = {true, false, false, true, false}) {
            QTest::addRow("%s", name) << int(channel) << values << breaks;
        };
        row("battery voltage", Channel::BatteryVoltage,
            {batteryVoltageFromRaw(3000), batteryVoltageFromRaw(3100), batteryVoltageFromRaw(3050),
             batteryVoltageFromRaw(2900), batteryVoltageFromRaw(2950)});
        row("mission bit 1 steps", Channel::MissionBit1, {0, 1, 1, 0, 1});
        row("mission byte", Channel::Mission, {1, 3, 2, 0, 2});
        // Kill-switch bytes 0, 3, 7 (no state), 1, 2.
        row("MAIN on, the byte without state left out", Channel::KillSwitchMain, {1, 0, 1, 0},
            {true, false, true, false});
        row("SUB on", Channel::KillSwitchSub, {1, 0, 0, 1}, {true, false, true, false});
        row("kill-switch byte", Channel::KillSwitch, {0, 3, 7, 1, 2});
        // The first pass's frames without a battery temperature: the second pass still breaks.
        row("battery temperature", Channel::BatteryTemperature, {25, 25}, {true, false});
    }

    void plotsAKnownLog()
    {
        QFETCH(int, channel);
        QFETCH(QList<double>, values);
        QFETCH(QList<bool>, breaks);
        StationHome home;
        const QString mixed = u"0008"_qs;
        QVERIFY(logReceptions(
            home.logPath(), {reception(Noon, frameDigits(3000, 1, 0xA5, 0, mixed)),
                             reception(Noon + MinuteMs, frameDigits(3100, 3, 0xA5, 3, mixed)),
                             reception(Noon + 2 * MinuteMs, frameDigits(3050, 2, 0xA5, 7, mixed)),
                             reception(Noon + HourMs, frameDigits(2900, 0, 0x25, 1)),
                             reception(Noon + HourMs + MinuteMs, frameDigits(2950, 2, 0x25, 2))}));
        HistoryLog log;
        QVERIFY(log.open(home.logPath()));
        const std::optional<Series> series =
            log.series(Channel(channel), {Noon - MinuteMs, Noon + 2 * HourMs}, 1000);
        QVERIFY2(series, qPrintable(log.errorString()));
        QVERIFY(!series->reduced);
        QList<double> plotted;
        QList<bool> plottedBreaks;
        for (const SeriesPoint &point : series->points) {
            QCOMPARE(point.minimum, point.maximum);
            QCOMPARE(point.firstMs, point.lastMs);
            plotted.append(point.minimum);
            plottedBreaks.append(point.startsPass);
        }
        QCOMPARE(plotted, values);
        QCOMPARE(plottedBreaks, breaks);
    }

    // Ten days of passes reduced to columns that whole summaries fill: each column's least
    // and greatest value are those of its frames, and a column after a gap breaks the line.
    void reducesToColumns_data()
    {
        QTest::addColumn<int>("columns");

        QTest::newRow("an hour per column: hour summaries") << 240;
        QTest::newRow("two days per column: day summaries") << 5;
    }

    void reducesToColumns()
    {
        QFETCH(int, columns);
        StationHome home;
        const qint64 since = Noon - 12 * HourMs;
        const qint64 until = since + 10 * DayMs;
        QRandomGenerator random(20);
        const std::vector<station::Reception> receptions =
            framesAt(passTimes(40, 6 * HourMs, 12, 40 * SecondMs,
                               since - Noon + 17 * MinuteMs + 13 * SecondMs),
                     &random);
        QVERIFY(logReceptions(home.logPath(), receptions));
        HistoryLog log;
        QVERIFY(log.open(home.logPath()));
        const std::optional<Series> series =
            log.series(Channel::BatteryVoltage, {since, until}, columns);
        QVERIFY2(series, qPrintable(log.errorString()));
        QVERIFY(series->reduced);

        const qint64 columnMs = (until - since) / columns;
        std::map<qint64, std::pair<double, double>> expected;
        for (const station::Reception &frame : receptions) {
            const double value = decodeFields(frame.digits).batteryVoltage;
            const qint64 column = (frame.receivedMs - since) / columnMs;
            const auto [found, added] = expected.try_emplace(column, value, value);
            found->second.first = std::min(found->second.first, value);
            found->second.second = std::max(found->second.second, value);
        }
        QCOMPARE(series->points.size(), expected.size());
        std::optional<qint64> previousLast;
        for (const SeriesPoint &point : series->points) {
            const auto column = expected.find((point.firstMs - since) / columnMs);
            QVERIFY(column != expected.end());
            QCOMPARE(point.minimum, column->second.first);
            QCOMPARE(point.maximum, column->second.second);
            QCOMPARE(point.startsPass, !previousLast || point.firstMs - *previousLast > PassGapMs);
            previousLast = point.lastMs;
        }
    }

    // Deleting a pass marks exactly its frames; they leave the passes, frames, plots and send
    // queue, stay out when logged again, and what a server accepted stays accepted. Deletions
    // and frames logged by another connection change the token; reading does not.
    void deletesAPass_data()
    {
        QTest::addColumn<int>("chosen");
        QTest::newRow("the middle pass") << 1;
        QTest::newRow("the first pass, one request of it accepted") << 0;
    }

    void deletesAPass()
    {
        QFETCH(int, chosen);
        StationHome home;
        const station::QueueRequest queue{
            {u"http://127.0.0.1:9/t"_qs},
            [](const QString &digits, qint64) { return digits.toUtf8(); }};
        const auto receptions = framesAt(passTimes(3, HourMs, 4, 30 * SecondMs));
        QVERIFY(logReceptions(home.logPath(), receptions, &queue));
        station::StationLog station;
        QVERIFY(station.open(home.logPath()));
        const std::optional<station::OutboxRow> row = station.claim(queue.servers[0], Noon, 60'000);
        QVERIFY(row && station.markAccepted(row->id, Noon));
        HistoryLog log;
        QVERIFY(log.open(home.logPath()));
        const std::vector<Pass> before = *log.passes({});
        QCOMPARE(before.size(), 3u);
        const Pass doomed = before[std::size_t(chosen)];
        const ChangeToken first = log.changeToken();
        QVERIFY(log.frames({}));
        QCOMPARE(log.changeToken(), first);

        QCOMPARE(log.remove(doomed.range()), 4);
        const ChangeToken removed = log.changeToken();
        QVERIFY(removed != first);
        const std::vector<Pass> after = *log.passes({});
        QCOMPARE(after.size(), 2u);
        QVERIFY(after[0].startMs != doomed.startMs && after[1].startMs != doomed.startMs);
        QCOMPARE(log.count({}), 8);
        QCOMPARE(log.frames(doomed.range())->size(), 0u);
        QCOMPARE(log.series(Channel::BatteryVoltage, {}, 1000)->points.size(), 8u);
        QCOMPARE(logNumber(home.logPath(), u"SELECT count(*) FROM frames WHERE deleted = 1"_qs), 4);
        const auto outbox = [&home](const QString &state) {
            return logNumber(home.logPath(),
                             u"SELECT count(*) FROM outbox WHERE state = '%1'"_qs.arg(state));
        };
        QCOMPARE(outbox(u"accepted"_qs), 1);
        QCOMPARE(outbox(u"cancelled"_qs), chosen == 0 ? 3 : 4);
        QCOMPARE(outbox(u"queued"_qs), chosen == 0 ? 8 : 7);

        const std::optional<station::LogResult> again = station.log(receptions, &queue);
        QVERIFY(again);
        QCOMPARE(again->frames + again->queued, 0);
        QCOMPARE(log.count({}), 8);
        QCOMPARE(log.remove(doomed.range()), 0);
        const ChangeToken relogged = log.changeToken();
        QVERIFY(station.log(framesAt({DayMs})));
        QVERIFY(log.changeToken() != relogged);
    }

    // A log written before the summaries existed is brought up to date when opened.
    void upgradesAnOlderLog()
    {
        StationHome home;
        QVERIFY(logReceptions(home.logPath(), framesAt({0, MinuteMs, 2 * MinuteMs, 43 * MinuteMs,
                                                        44 * MinuteMs, 45 * MinuteMs})));
        QVERIFY(execOnLog(home.logPath(),
                          {u"UPDATE frames SET deleted = 1 WHERE id = 6"_qs,
                           u"DROP TABLE frame_buckets"_qs, u"DROP TABLE bucket_sources"_qs,
                           u"DROP INDEX frames_by_time"_qs, u"PRAGMA user_version = 1"_qs}));

        HistoryLog log;
        QVERIFY2(log.open(home.logPath()), qPrintable(log.errorString()));
        QCOMPARE(logNumber(home.logPath(), u"PRAGMA user_version"_qs), 2);
        QCOMPARE(logNumber(home.logPath(), u"SELECT count(*) FROM sqlite_master WHERE "
                                           u"name = 'frames_by_time'"_qs),
                 1);
        const std::vector<Pass> passes = *log.passes({});
        QCOMPARE(passes.size(), 2u);
        QCOMPARE(passes[0].frames, 3);
        QCOMPARE(passes[1].frames, 2);
        QCOMPARE(passes[1].sources, QStringList{u"pass.txt"_qs});
        QCOMPARE(log.series(Channel::BatteryVoltage, {}, 4)->points.size(), 2u);
    }

    // The logged frames of a range are the rows of decoding the files that hold them, as CSV.
    void writesWhatTheFilesDecodeTo_data()
    {
        QTest::addColumn<QStringList>("range");
        QTest::addColumn<QStringList>("files");

        QTest::newRow("all") << QStringList{} << words("a.txt b.txt c.txt");
        QTest::newRow("until a pass's first frame leaves it out; no zone is UTC")
            << QStringList{u"--until"_qs, u"2026-12-06 19:40:00"_qs} << words("a.txt empty.txt");
        QTest::newRow("a date alone, and a zone offset")
            << words("--since 2026-12-07 --until 2026-12-07T05:00:31+02:00")
            << words("c.txt empty.txt");
    }

    void writesWhatTheFilesDecodeTo()
    {
        QFETCH(QStringList, range);
        QFETCH(QStringList, files);
        const LoggedStation station;
        QVERIFY(station.ready);
        const ProgramRun fromLog = station.run(words("--from-log --format csv") + range);
        QVERIFY2(fromLog.exitCode == 0, fromLog.errors.constData());
        QVERIFY(fromLog.errors.isEmpty());
        const ProgramRun decoded = station.run(words("--format csv") + files);
        QCOMPARE(decoded.exitCode, 0);
        QCOMPARE(fromLog.output, decoded.output);
    }

    void listsPasses()
    {
        const LoggedStation station;
        QVERIFY(station.ready);
        const ProgramRun run = station.run(words("--passes --format csv"));
        QCOMPARE(run.exitCode, 0);
        const QList<QByteArray> lines = run.output.split('\n');
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines[1].startsWith("2026-12-06T18:57:44Z,2026-12-06T18:58:44Z,3,"));
        QVERIFY(lines[1].endsWith(",a.txt"));
        QVERIFY(lines[2].startsWith("2026-12-06T19:40:00Z,2026-12-06T19:41:00Z,2,"));
        QVERIFY(lines[3].startsWith("2026-12-07T03:00:00.500Z,2026-12-07T03:00:30.250Z,2,"));
    }

    // Exit status and one message for what cannot be done.
    void refuses_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("logContent"); // empty: the log of the three passes
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");

        QTest::newRow("a time that is none")
            << words("--from-log --since yesterday") << QByteArray() << 2 << u"'yesterday'"_qs;
        QTest::newRow("month 13") << words("--passes --until 2026-13-01") << QByteArray() << 2
                                  << u"'2026-13-01'"_qs;
        QTest::newRow("--since without --from-log") << words("--since 2026-12-06") << QByteArray()
                                                    << 2 << u"--since goes with --from-log"_qs;
        QTest::newRow("a FILE with --from-log")
            << words("--from-log a.txt") << QByteArray() << 2 << u"FILE"_qs;
        QTest::newRow("with --submit")
            << words("--from-log --submit") << QByteArray() << 2 << u"--submit"_qs;
        QTest::newRow("a log that is no database")
            << words("--from-log") << QByteArray(4096, 'x') << 1 << u"not a database"_qs;
    }

    void refuses()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, logContent);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const LoggedStation station;
        QVERIFY(station.ready);
        if (!logContent.isEmpty()) {
            QVERIFY(QFile::remove(station.home.logPath()));
            QVERIFY(writeFile(station.home.logPath(), logContent));
        }
        const ProgramRun run = station.run(arguments);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY(run.output.isEmpty());
        QVERIFY2(QString::fromUtf8(run.errors).contains(message), run.errors.constData());
        if (exitCode == 1)
            QCOMPARE(run.errors.count('\n'), 1);
    }

    void readsNoLogYetAsEmpty()
    {
        StationHome home;
        const ProgramRun run =
            runProgram(Program, words("--from-log --format csv"), home.environment());
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.output.startsWith("source,frame,timestamp,"));
        QCOMPARE(run.output.count('\n'), 1);
        QVERIFY(!QFileInfo::exists(home.logPath()));
    }
};

QTEST_GUILESS_MAIN(TestHistoryLog)
#include "tst_historylog.moc"
