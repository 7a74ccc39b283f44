#include "channelchart.h"

#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QValueAxis>

#include <QFontMetricsF>
#include <QGraphicsTextItem>
#include <QLocale>
#include <QtTest>

#include <algorithm>
#include <cmath>

using namespace tovrin3;

namespace {

const QSize WindowChartSize(521, 265);

struct AxisLabel
{
    QString text;
    QRectF rect;
};

QStringList numberedRows(int count)
{
    QStringList labels;
    for (int row = 1; row <= count; ++row)
        labels.append(QString::number(row));
    return labels;
}

// A slow swing through the whole range the window sends for a channel.
QList<double> wave(int count, double amplitude)
{
    QList<double> values;
    for (int row = 0; row < count; ++row)
        values.append(std::round(amplitude * std::sin(row / 7.0)));
    return values;
}

QChartView *chartView(const ChannelChart &chart)
{
    return chart.findChild<QChartView *>(QStringLiteral("channelChartView"));
}

QValueAxis *valueAxis(const ChannelChart &chart)
{
    return qobject_cast<QValueAxis *>(chartView(chart)->chart()->axes(Qt::Vertical).value(0));
}

// The texts the chart draws under its plot area, left to right, as far as they are visible.
QList<AxisLabel> rowAxisLabels(const ChannelChart &chart)
{
    const QChartView *view = chartView(chart);
    const qreal plotBottom = view->chart()->plotArea().bottom();
    QList<AxisLabel> labels;
    for (const QGraphicsItem *item : view->scene()->items()) {
        const auto *text = dynamic_cast<const QGraphicsTextItem *>(item);
        if (!text || !text->isVisible() || text->toPlainText().isEmpty())
            continue;
        if (text->sceneBoundingRect().top() >= plotBottom)
            labels.append({text->toPlainText(), text->sceneBoundingRect()});
    }
    std::sort(labels.begin(), labels.end(), [](const AxisLabel &left, const AxisLabel &right) {
        return left.rect.left() < right.rect.left();
    });
    return labels;
}

QStringList texts(const QList<AxisLabel> &labels)
{
    QStringList result;
    for (const AxisLabel &label : labels)
        result.append(label.text);
    return result;
}

QStringList everyStepthRow(const QStringList &rows, int step)
{
    QStringList labelled;
    for (qsizetype row = step - 1; row < rows.size(); row += step)
        labelled.append(rows.at(row));
    return labelled;
}

} // namespace

class TestChannelChart : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void emptyBeforeFirstRows()
    {
        ChannelChart chart;

        QCOMPARE(chart.rowCount(), 0);
        QVERIFY(chart.rowLabels().isEmpty());
        QVERIFY(chart.values().isEmpty());
    }

    // Every call replaces all rows, whatever an earlier call left (0 rows: no earlier call).
    void rowsReadBackInOrder_data()
    {
        QTest::addColumn<int>("earlierRows");
        QTest::addColumn<int>("rows");

        QTest::newRow("one row") << 0 << 1;
        QTest::newRow("twelve rows") << 0 << 12;
        QTest::newRow("full history") << 0 << 100;
        QTest::newRow("full history, then twelve") << 100 << 12;
        QTest::newRow("twelve, then one") << 12 << 1;
        QTest::newRow("one, then full history") << 1 << 100;
        QTest::newRow("same count, other values") << 12 << 12;
    }

    void rowsReadBackInOrder()
    {
        QFETCH(int, earlierRows);
        QFETCH(int, rows);
        const QList<double> values = wave(rows, -41.0);
        ChannelChart chart;
        if (earlierRows > 0)
            chart.setRows(numberedRows(earlierRows), wave(earlierRows, 128.0));

        chart.setRows(numberedRows(rows), values);

        QCOMPARE(chart.rowCount(), rows);
        QCOMPARE(chart.rowLabels(), numberedRows(rows));
        QCOMPARE(chart.values(), values);
    }

    void valueAxisHoldsZeroAndEveryBar_data()
    {
        QTest::addColumn<QList<double>>("values");

        QTest::newRow("frost only") << QList<double>{-3, -128, -40.5};
        QTest::newRow("volts either side of zero") << QList<double>{41, -41, 0.5};
        QTest::newRow("bytes") << QList<double>{0, 255, 3};
        QTest::newRow("all zero") << QList<double>{0, 0};
        QTest::newRow("small positive") << QList<double>{0.25};
    }

    void valueAxisHoldsZeroAndEveryBar()
    {
        QFETCH(QList<double>, values);
        ChannelChart chart;

        chart.setRows(numberedRows(int(values.size())), values);

        const double lowest = std::min(0.0, *std::min_element(values.cbegin(), values.cend()));
        const double highest = std::max(0.0, *std::max_element(values.cbegin(), values.cend()));
        const QValueAxis *axis = valueAxis(chart);
        QVERIFY(axis);
        QVERIFY(axis->isVisible());
        QCOMPARE_LE(axis->min(), lowest);
        QCOMPARE_GE(axis->max(), highest);
        QCOMPARE_LT(axis->min(), axis->max());
        if (lowest < 0.0)
            QCOMPARE_LT(axis->min(), lowest);
        if (highest > lowest)
            QCOMPARE_LE(axis->max() - axis->min(), 2.0 * (highest - lowest));
    }

    // Qt hides a label that would overlap its neighbour, so every wanted label must be visible
    // and each must stand apart from the next and sit under its own bar.
    void rowLabelsStandApart_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("firstWidth");
        QTest::addColumn<int>("finalWidth");

        const int windowWidth = WindowChartSize.width();
        QTest::newRow("twelve rows") << 12 << windowWidth << windowWidth;
        QTest::newRow("full history") << 100 << windowWidth << windowWidth;
        QTest::newRow("full history, narrow chart") << 100 << 200 << 200;
        QTest::newRow("full history, narrowed after filling") << 100 << 900 << 300;
        QTest::newRow("full history, widened after filling") << 100 << 300 << 900;
    }

    void rowLabelsStandApart()
    {
        QFETCH(int, rows);
        QFETCH(int, firstWidth);
        QFETCH(int, finalWidth);
        const QStringList labels = numberedRows(rows);
        ChannelChart chart;
        chart.resize(firstWidth, WindowChartSize.height());
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));

        chart.setRows(labels, wave(rows, 128.0));
        chart.resize(finalWidth, WindowChartSize.height());

        QTRY_COMPARE(texts(rowAxisLabels(chart)), everyStepthRow(labels, chart.labelStep()));
        const QList<AxisLabel> shown = rowAxisLabels(chart);
        QVERIFY(!shown.isEmpty());
        QChart *plot = chartView(chart)->chart();
        // The rows share the plot width, half a row of room outside the first and last bar.
        QCOMPARE(qRound(plot->mapToPosition(QPointF(-0.5, 0.0)).x()),
                 qRound(plot->plotArea().left()));
        QCOMPARE(qRound(plot->mapToPosition(QPointF(rows - 0.5, 0.0)).x()),
                 qRound(plot->plotArea().right()));
        const QFontMetricsF metrics(plot->axes(Qt::Horizontal).constFirst()->labelsFont());
        const qreal gap = metrics.horizontalAdvance(QLatin1Char('0'));
        const qreal widest = metrics.horizontalAdvance(labels.constLast());
        for (qsizetype index = 0; index < shown.size(); ++index) {
            const int row = int(labels.indexOf(shown.at(index).text));
            const qreal barCentre = plot->mapToPosition(QPointF(row, 0.0)).x();
            QVERIFY(std::abs(shown.at(index).rect.center().x() - barCentre) < 2.0);
            if (index == 0)
                continue;
            const qreal distance = shown.at(index).rect.left() - shown.at(index - 1).rect.right();
            QCOMPARE_GE(distance, gap);
            // Round steps grow by at most 2.5 times, so a fitting step is never much sparser.
            QCOMPARE_LE(shown.at(index).rect.center().x() - shown.at(index - 1).rect.center().x(),
                        3.0 * (widest + 2.0 * gap));
        }
    }
};

QTEST_MAIN(TestChannelChart)
#include "tst_channelchart.moc"
