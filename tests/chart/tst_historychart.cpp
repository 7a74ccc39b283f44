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
    // Runs are drawn as lines of their own, up to 40; beyond, the runs with the narrowest gaps
    // between them share a line and the widest gaps stay open. A later plot with fewer runs
    // leaves none of the earlier lines drawn.
    void drawsRunsAsLines_data()
    {
        QTest::addColumn<QList<qint64>>("gaps");
        QTest::addColumn<QList<qsizetype>>("sizes");

        QTest::newRow("three runs")
            << QList<qint64>{0, 700'000, 700'000} << QList<qsizetype>{2, 2, 2};
        QList<qint64> forty(40, 700'000);
        QTest::newRow("forty runs") << forty << QList<qsizetype>(40, 2);
        // 42 runs: the two narrowest gaps (before runs 5 and 30) are closed.
        QList<qint64> fortyTwo(42, 700'000);
        fortyTwo[5] = 650'000;
        fortyTwo[30] = 600'000;
        QList<qsizetype> joined(40, 2);
        joined[4] = 4;
        joined[28] = 4;
        QTest::newRow("forty-two runs") << fortyTwo << joined;
    }

    void drawsRunsAsLines()
    {
        QFETCH(QList<qint64>, gaps);
        QFETCH(QList<qsizetype>, sizes);
        HistoryChart chart;
        chart.setPlot(runsWithGaps(QList<qint64>(60, 700'000)), false);
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
