// SPDX-License-Identifier: GPL-3.0-or-later
#include "channelchart.h"
#include "historychart.h"

#include <QtCharts/QChartView>
#include <QtCharts/QValueAxis>

#include <QGraphicsTextItem>
#include <QLocale>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <utility>

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

// Rows labelled 1 to count, their values a slow swing through the range of a channel.
std::pair<QStringList, QList<double>> history(int count, double amplitude)
{
    QStringList labels;
    QList<double> values;
    for (int row = 1; row <= count; ++row) {
        labels.append(QString::number(row));
        values.append(std::round(amplitude * std::sin(row / 7.0)));
    }
    return {labels, values};
}

QChart *plotOf(const ChannelChart &chart)
{
    return chart.findChild<QChartView *>(QStringLiteral("channelChartView"))->chart();
}

// The texts drawn under the plot area as far as Qt shows them, by their left edge.
QList<const QGraphicsTextItem *> rowAxisLabels(const ChannelChart &chart)
{
    QMap<qreal, const QGraphicsTextItem *> labels;
    for (const QGraphicsItem *item : plotOf(chart)->scene()->items()) {
        const auto *text = dynamic_cast<const QGraphicsTextItem *>(item);
        if (text && text->isVisible() && !text->toPlainText().isEmpty() &&
            text->sceneBoundingRect().top() >= plotOf(chart)->plotArea().bottom())
            labels.insert(text->sceneBoundingRect().left(), text);
    }
    return labels.values();
}

} // namespace

class TestCharts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    // Every call replaces all rows, whatever an earlier call left; the value axis holds zero and
    // every bar, with little room to spare.
    void valueAxisHoldsZeroAndEveryBar_data()
    {
        QTest::addColumn<QList<double>>("values");
        QTest::newRow("frost only") << QList<double>{-3, -128, -40.5};
        QTest::newRow("volts either side of zero") << QList<double>{41, -41, 0.5};
        QTest::newRow("bytes") << QList<double>{0, 255, 3};
        QTest::newRow("all zero") << QList<double>{0, 0};
    }

    void valueAxisHoldsZeroAndEveryBar()
    {
        QFETCH(QList<double>, values);
        ChannelChart chart;
        chart.setRows(history(100, 150.0).first, history(100, 150.0).second);
        const QStringList labels = history(int(values.size()), 0.0).first;
        chart.setRows(labels, values);
        QCOMPARE(chart.rowCount(), values.size());
        QCOMPARE(chart.rowLabels(), labels);
        QCOMPARE(chart.values(), values);
        const double lowest = std::min(0.0, *std::min_element(values.cbegin(), values.cend()));
        const double highest = std::max(0.0, *std::max_element(values.cbegin(), values.cend()));
        const auto *axis = qobject_cast<QValueAxis *>(plotOf(chart)->axes(Qt::Vertical).value(0));
        QVERIFY(axis);
        QCOMPARE_LE(axis->min(), lowest);
        QCOMPARE_GE(axis->max(), highest);
        QCOMPARE_LT(axis->min(), axis->max());
        if (highest > lowest)
            QCOMPARE_LE(axis->max() - axis->min(), 2.0 * (highest - lowest));
    }

    // Qt hides a label that would overlap its neighbour, so every labelled row must show its
    // label.
    void fullHistoryLabelsStandApart()
    {
        const auto [labels, values] = history(100, 128.0);
        ChannelChart chart;
        chart.resize(521, 265);
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));
        chart.setRows(labels, values);

        const int step = chart.labelStep();
        QTRY_COMPARE(rowAxisLabels(chart).size(), labels.size() / step);
        const QList<const QGraphicsTextItem *> shown = rowAxisLabels(chart);
        for (qsizetype index = 0; index < shown.size(); ++index)
            QCOMPARE(shown.at(index)->toPlainText(), labels.at((index + 1) * step - 1));
    }

    // Runs are drawn as lines of their own where the gap between them shows, up to 120 lines;
    // beyond, the runs with the narrowest gaps between them share a line and the widest gaps stay
    // open. A later plot with fewer runs leaves none of the earlier lines drawn.
    void drawsRunsAsLines_data()
    {
        QTest::addColumn<QList<qint64>>("gaps");
        QTest::addColumn<qint64>("shownMs");
        QTest::addColumn<QList<qsizetype>>("sizes");

        constexpr qint64 Day = 24 * 3600 * 1000;
        QTest::newRow("three runs")
            << QList<qint64>{0, 700'000, 700'000} << Day << QList<qsizetype>{2, 2, 2};
        // Ten years over a few hundred columns: gaps of minutes cannot be seen.
        QTest::newRow("gaps too narrow to show")
            << QList<qint64>{0, 700'000, 700'000} << 10 * 52 * 7 * Day << QList<qsizetype>{6};
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
        HistoryChart chart;
        chart.resize(800, 400);
        const qint64 fromMs = runsWithGaps({0}).first().first().timeMs;
        chart.setTimeRange(fromMs, fromMs + shownMs);
        chart.setPlot(runsWithGaps(QList<qint64>(200, 700'000)), false);
        chart.setPlot(runsWithGaps(gaps), false);
        QList<qsizetype> drawn; // how many values each drawn line holds
        for (const QList<QPointF> &line : chart.drawnLines())
            drawn.append(line.size());
        QTEST(drawn, "sizes");
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

QTEST_MAIN(TestCharts)
#include "tst_historychart.moc"
