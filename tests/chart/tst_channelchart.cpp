// SPDX-License-Identifier: GPL-3.0-or-later
#include "channelchart.h"

#include <QtCharts/QChartView>
#include <QtCharts/QValueAxis>

#include <QFontMetricsF>
#include <QGraphicsTextItem>
#include <QLocale>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <utility>

using namespace tovrin3;

namespace {

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

class TestChannelChart : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    // Every call replaces all rows, whatever an earlier call left.
    void replacesEveryRow()
    {
        ChannelChart chart;
        chart.setRows(history(100, 150.0).first, history(100, 150.0).second);
        const auto [labels, values] = history(12, 18.0);
        chart.setRows(labels, values);
        QCOMPARE(chart.rowCount(), 12);
        QCOMPARE(chart.rowLabels(), labels);
        QCOMPARE(chart.values(), values);
    }

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
        chart.setRows(history(int(values.size()), 0.0).first, values);
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
    // label, a digit's width apart from the next.
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
        const QFontMetricsF metrics(plotOf(chart)->axes(Qt::Horizontal).constFirst()->labelsFont());
        for (qsizetype index = 0; index < shown.size(); ++index) {
            QCOMPARE(shown.at(index)->toPlainText(), labels.at((index + 1) * step - 1));
            if (index > 0)
                QCOMPARE_GE(shown.at(index)->sceneBoundingRect().left() -
                                shown.at(index - 1)->sceneBoundingRect().right(),
                            metrics.horizontalAdvance(QLatin1Char('0')));
        }
    }
};

QTEST_MAIN(TestChannelChart)
#include "tst_channelchart.moc"
