// SPDX-License-Identifier: GPL-3.0-or-later
#include "channelchart.h"

#include <QtCharts/QBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QValueAxis>

#include <QFontMetricsF>
#include <QGraphicsLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>

namespace tovrin3 {

namespace {

const QColor PlotBackground(Qt::white);
const QColor BarFill(70, 110, 170);
const QColor AxisLine(120, 120, 120);
const QColor GridLine(220, 220, 220);

// Row counts that may share one axis label: round numbers, so labelled rows are easy to count.
constexpr std::array LabelSteps{1, 2, 5, 10, 20, 25, 50};

// Free space between neighbouring row labels, in widths of a digit.
constexpr qreal LabelGapInDigits = 2.0;

// A bar fills this share of its row, but a few rows on a wide chart would give slabs.
constexpr qreal BarWidthShare = 0.7;
constexpr qreal WidestBarPixels = 40.0;

// Grid lines wanted on the value axis at most; about 35 pixels apart at the window's size.
constexpr int ValueTickCount = 7;

struct ValueScale
{
    double minimum = 0.0;
    double maximum = 1.0;
    int tickCount = 2;
};

// Grid lines at 1, 2 or 5 times a power of ten, the smallest such step that needs no more than
// ValueTickCount lines from lowest to highest, and one more line beyond the longest bars so that
// they do not touch the plot's edge. lowest <= 0 <= highest.
ValueScale roundValueScale(double lowest, double highest)
{
    const double smallestStep = (highest - lowest) / (ValueTickCount - 1);
    const double magnitude = std::pow(10.0, std::floor(std::log10(smallestStep)));
    double step = 10.0 * magnitude;
    for (const double factor : {1.0, 2.0, 5.0}) {
        if (smallestStep <= factor * magnitude) {
            step = factor * magnitude;
            break;
        }
    }
    const double minimum = lowest < 0.0 ? (std::ceil(lowest / step) - 1.0) * step : 0.0;
    const double maximum = highest > 0.0 ? (std::floor(highest / step) + 1.0) * step : 0.0;
    return {minimum, maximum, qRound((maximum - minimum) / step) + 1};
}

} // namespace

ChannelChart::ChannelChart(QWidget *parent) : QWidget(parent)
{
    setUpChart();
    setUpAxes();

    m_view = new QChartView(m_chart, this);
    m_view->setObjectName(QStringLiteral("channelChartView"));
    m_view->setFrameShape(QFrame::NoFrame);
    // The chart only shows: the keyboard has nothing to do in it.
    m_view->setFocusPolicy(Qt::NoFocus);
    // Bars and grid lines run along the pixel grid: smoothing their edges would only blur them,
    // and it is the dearest part of painting the chart.
    m_view->setRenderHint(QPainter::Antialiasing, false);

    showBackground();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);

    // The plot width decides how wide bars are and how many rows fit under one label.
    connect(m_chart, &QChart::plotAreaChanged, this, &ChannelChart::fitToPlotWidth);
}

void ChannelChart::setUpChart()
{
    m_chart = new QChart;
    m_chart->legend()->hide();
    m_chart->setAnimationOptions(QChart::NoAnimation);
    m_chart->setBackgroundRoundness(0);
    m_chart->setMargins(QMargins(4, 10, 14, 4));
    m_chart->layout()->setContentsMargins(0, 0, 0, 0);
    m_chart->setPlotAreaBackgroundBrush(PlotBackground);
    m_chart->setPlotAreaBackgroundVisible(true);

    m_bars = new QBarSet(QString());
    m_bars->setColor(BarFill);
    m_bars->setBorderColor(BarFill.darker(130));

    m_series = new QBarSeries;
    m_series->setBarWidth(BarWidthShare);
    m_series->append(m_bars);
    m_chart->addSeries(m_series);
}

void ChannelChart::setUpAxes()
{
    m_rowAxis = new QCategoryAxis;
    m_rowAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    m_rowAxis->setGridLineVisible(false);
    m_rowAxis->setLinePenColor(AxisLine);
    m_rowAxis->setVisible(false);

    m_valueAxis = new QValueAxis;
    m_valueAxis->setLabelFormat(QStringLiteral("%g"));
    m_valueAxis->setLinePenColor(AxisLine);
    m_valueAxis->setGridLineColor(GridLine);
    m_valueAxis->setVisible(false);

    m_chart->addAxis(m_rowAxis, Qt::AlignBottom);
    m_chart->addAxis(m_valueAxis, Qt::AlignLeft);
    m_series->attachAxis(m_rowAxis);
    m_series->attachAxis(m_valueAxis);
}

// A keystroke in the beacon text mostly leaves the rows as they were: only the bars whose value
// changed are touched, and the row axis is labelled again only when its labels change. Taking
// every bar down and up again would cost more than the whole decode.
void ChannelChart::setRows(const QStringList &rowLabels, const QList<double> &values)
{
    Q_ASSERT(rowLabels.size() == values.size());
    setBarValues(values);
    fitValueAxis(values);
    if (rowLabels != m_rowLabels) {
        m_rowLabels = rowLabels;
        fitBarWidth();
        m_labelStep = fittingLabelStep();
        relabelRowAxis();
    }
    m_rowAxis->setVisible(true);
    m_valueAxis->setVisible(true);
}

void ChannelChart::setBarValues(const QList<double> &values)
{
    const qsizetype kept = std::min<qsizetype>(m_bars->count(), values.size());
    if (m_bars->count() > kept)
        m_bars->remove(static_cast<int>(kept), m_bars->count() - static_cast<int>(kept));
    for (int row = 0; row < kept; ++row) {
        if (m_bars->at(row) != values.at(row))
            m_bars->replace(row, values.at(row));
    }
    if (values.size() > kept)
        m_bars->append(values.sliced(kept));
}

void ChannelChart::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        showBackground();
    QWidget::changeEvent(event);
}

// Around the plot area the chart shows the background it stands on.
void ChannelChart::showBackground()
{
    m_view->setBackgroundBrush(palette().window());
    m_chart->setBackgroundBrush(palette().window());
}

int ChannelChart::rowCount() const
{
    return m_bars->count();
}

QStringList ChannelChart::rowLabels() const
{
    return m_rowLabels;
}

QList<double> ChannelChart::values() const
{
    QList<double> barValues;
    barValues.reserve(m_bars->count());
    for (int row = 0; row < m_bars->count(); ++row)
        barValues.append(m_bars->at(row));
    return barValues;
}

// Bars grow from zero, so zero is always on the axis and negative values point down.
void ChannelChart::fitValueAxis(const QList<double> &values)
{
    const auto [lowest, highest] = std::minmax_element(values.cbegin(), values.cend());
    const double minimum = std::min(0.0, *lowest);
    const double maximum = std::max(0.0, *highest);
    const ValueScale scale = minimum == maximum ? ValueScale{} : roundValueScale(minimum, maximum);
    if (m_valueAxis->min() != scale.minimum || m_valueAxis->max() != scale.maximum)
        m_valueAxis->setRange(scale.minimum, scale.maximum);
    if (m_valueAxis->tickCount() != scale.tickCount)
        m_valueAxis->setTickCount(scale.tickCount);
}

void ChannelChart::fitToPlotWidth()
{
    if (m_rowLabels.isEmpty())
        return;
    fitBarWidth();
    const int step = fittingLabelStep();
    if (step == m_labelStep)
        return;
    m_labelStep = step;
    relabelRowAxis();
}

void ChannelChart::fitBarWidth()
{
    m_series->setBarWidth(std::min(BarWidthShare, WidestBarPixels / rowWidth()));
}

// The smallest step whose labels, each as wide as the widest one, leave a gap between them.
int ChannelChart::fittingLabelStep() const
{
    const QFontMetricsF metrics(m_rowAxis->labelsFont());
    qreal widestLabel = 0.0;
    for (const QString &label : m_rowLabels)
        widestLabel = std::max(widestLabel, metrics.horizontalAdvance(label));
    const qreal neededWidth =
        widestLabel + LabelGapInDigits * metrics.horizontalAdvance(QLatin1Char('0'));

    const qreal widthPerRow = rowWidth();
    for (const int step : LabelSteps) {
        if (step * widthPerRow >= neededWidth)
            return step;
    }
    return LabelSteps.back();
}

// Before the first layout the plot area is unknown; the widget width is close enough until then.
qreal ChannelChart::rowWidth() const
{
    const qreal plotWidth = m_chart->plotArea().isEmpty() ? width() : m_chart->plotArea().width();
    return plotWidth / static_cast<qreal>(m_rowLabels.size());
}

// Labels sit on the labelled rows themselves: rows labelStep, 2 * labelStep and so on.
void ChannelChart::relabelRowAxis()
{
    for (const QString &label : m_rowAxis->categoriesLabels())
        m_rowAxis->remove(label);
    m_rowAxis->setStartValue(-0.5);
    for (qsizetype row = m_labelStep - 1; row < m_rowLabels.size(); row += m_labelStep)
        m_rowAxis->append(m_rowLabels.at(row), static_cast<qreal>(row));
    // Appending stretches the axis to the last label; the bars need half a row on either side.
    m_rowAxis->setRange(-0.5, static_cast<qreal>(m_rowLabels.size()) - 0.5);
}

} // namespace tovrin3
