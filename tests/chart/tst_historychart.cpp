// SPDX-License-Identifier: GPL-3.0-or-later
#include "historychart.h"

#include <QTest>

using namespace tovrin3;

namespace {

// A run of two values one second apart per gap, run i starting gaps[i] after the one before ends.
QList<TimedRun> runsWithGaps(const QList<qint64> &gaps)
{
    QList<TimedRun> runs;
    qint64 time = 1'796'558'400'000;
    for (const qint64 gap : gaps) {
        time += gap;
        runs.append({{time, 1.0}, {time + 1000, 2.0}});
        time += 1000;
    }
    return runs;
}

// How many values each drawn line holds.
QList<qsizetype> lineSizes(const HistoryChart &chart)
{
    QList<qsizetype> sizes;
    for (const QList<QPointF> &line : chart.drawnLines())
        sizes.append(line.size());
    return sizes;
}

} // namespace

class TestHistoryChart : public QObject
{
    Q_OBJECT

private slots:
    // Runs are drawn as lines of their own where the gap between them shows, up to 120 lines;
    // beyond, the runs with the narrowest gaps between them share a line and the widest gaps stay
    // open. A later plot with fewer runs leaves none of the earlier lines drawn.
    void drawsRunsAsLines_data()
    {
        QTest::addColumn<QList<qint64>>("gaps");
        QTest::addColumn<qint64>("shownMs");
        QTest::addColumn<QList<qsizetype>>("sizes");

        constexpr qint64 Day = 24 * 3600 * 1000;
        constexpr qint64 Week = 7 * Day;
        QTest::newRow("three runs")
            << QList<qint64>{0, 700'000, 700'000} << Day << QList<qsizetype>{2, 2, 2};
        QList<qint64> passesOfAWeek(42, 5'400'000);
        QTest::newRow("42 passes of a week") << passesOfAWeek << Week << QList<qsizetype>(42, 2);
        // Ten years over a few hundred columns: gaps of minutes cannot be seen.
        QTest::newRow("gaps too narrow to show")
            << QList<qint64>{0, 700'000, 700'000} << 10 * 52 * Week << QList<qsizetype>{6};
        // 122 runs: the two narrowest gaps (before runs 5 and 30) are closed.
        QList<qint64> many(122, 700'000);
        many[5] = 650'000;
        many[30] = 600'000;
        QList<qsizetype> joined(120, 2);
        joined[4] = 4;
        joined[28] = 4;
        QTest::newRow("122 runs") << many << Day << joined;
    }

    void drawsRunsAsLines()
    {
        QFETCH(QList<qint64>, gaps);
        QFETCH(qint64, shownMs);
        QFETCH(QList<qsizetype>, sizes);
        HistoryChart chart;
        chart.resize(800, 400);
        const qint64 fromMs = runsWithGaps({0}).first().first().timeMs;
        chart.setTimeRange(fromMs, fromMs + shownMs);
        chart.setPlot(runsWithGaps(QList<qint64>(200, 700'000)), false);
        chart.setPlot(runsWithGaps(gaps), false);
        QCOMPARE(lineSizes(chart), sizes);
    }

    // A step plot holds each value until the next one's time.
    void holdsStepsUntilTheNextValue()
    {
        HistoryChart chart;
        chart.setPlot({{{0, 0.0}, {10, 1.0}, {20, 1.0}}}, true);
        QCOMPARE(chart.drawnLines(),
                 (QList<QList<QPointF>>{{{0, 0}, {10, 0}, {10, 1}, {20, 1}, {20, 1}}}));
    }
};

QTEST_MAIN(TestHistoryChart)
#include "tst_historychart.moc"
