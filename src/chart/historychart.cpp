// SPDX-License-Identifier: GPL-3.0-or-later
#include "historychart.h"

#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>

#include <QDateTime>
#include <QGraphicsLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace tovrin3 {

namespace {

const QColor LineColour(70, 110, 170);
const QColor LimitColour(200, 60, 40);

// A drag narrower than this is a click, not a rectangle.
constexpr int SmallestDragPixels = 4;
// One notch of the wheel halves or doubles the shown time.
constexpr double WheelZoomFactor = 2.0;
// The shortest range zooming asks for: a few frames' worth.
constexpr qint64 ShortestRangeMs = 10'000;

// The time axis writes its labels in the computer's zone; the chart is read in UTC, so the axis
// is given each time moved by the zone's offset at that time.
double axisValue(qint64 utcMs)
{
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(utcMs);
    return double(utcMs + qint64(time.offsetFromUtc()) * 1000);
}

qint64 utcFromAxis(double value)
{
    const auto shifted = qint64(std::llround(value));
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(shifted);
    return shifted - qint64(time.offsetFromUtc()) * 1000;
}

QString timeFormat(qint64 spanMs)
{
    constexpr qint64 Day = 24 * 3600 * 1000;
    if (spanMs <= 2 * 3600 * 1000)
        return QStringLiteral("HH:mm:ss");
    if (spanMs <= 2 * Day)
        return QStringLiteral("MM-dd HH:mm");
    return QStringLiteral("yyyy-MM-dd");
}

// Each line is a series of its own, and every series makes each redraw dearer: a plot of years
// would have one per pixel column. A gap narrower than SmallestShownGapColumns pixel columns cannot
// be seen, so the runs either side of it are drawn as one line; where more than MostLines runs
// remain, the narrowest gaps are closed as well, so the widest stay open. A week of passes, each a
// few pixels apart, keeps every pass a line of its own.
constexpr qint64 SmallestShownGapColumns = 2;
constexpr qsizetype MostLines = 120;

QList<TimedRun> joinedRuns(const QList<TimedRun> &runs, qint64 smallestShownGapMs)
{
    std::vector<std::pair<qint64, qsizetype>> gaps; // before run i, widest first
    for (qsizetype index = 1; index < runs.size(); ++index)
        gaps.push_back({runs[index].first().timeMs - runs[index - 1].last().timeMs, index});
    std::stable_sort(gaps.begin(), gaps.end(),
                     [](const auto &left, const auto &right) { return left.first > right.first; });
    std::vector<bool> breaks(std::size_t(runs.size()), false);
    for (std::size_t kept = 0; kept < gaps.size() && kept < std::size_t(MostLines - 1); ++kept) {
        if (gaps[kept].first < smallestShownGapMs)
            break;
        breaks[std::size_t(gaps[kept].second)] = true;
    }
    QList<TimedRun> joined;
    for (qsizetype index = 0; index < runs.size(); ++index) {
        if (index == 0 || breaks[std::size_t(index)])
            joined.append(TimedRun());
        joined.last().append(runs[index]);
    }
    return joined;
}

} // namespace

// The view turns a dragged rectangle and the wheel into requests for a time range.
class HistoryChartView : public QChartView
{
public:
    HistoryChartView(QChart *chart, HistoryChart *owner) : QChartView(chart, owner), m_owner(owner)
    {
    }

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton)
            return QChartView::mousePressEvent(event);
        m_dragStart = event->position().toPoint();
        if (!m_band)
            m_band = new QRubberBand(QRubberBand::Rectangle, viewport());
        m_band->setGeometry(QRect(m_dragStart, QSize()));
        m_band->show();
        m_dragging = true;
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (m_dragging)
            m_band->setGeometry(QRect(m_dragStart, event->position().toPoint()).normalized());
        QChartView::mouseMoveEvent(event);
    }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (!m_dragging || event->button() != Qt::LeftButton)
            return QChartView::mouseReleaseEvent(event);
        m_dragging = false;
        m_band->hide();
        const int from = std::min(m_dragStart.x(), event->position().toPoint().x());
        const int to = std::max(m_dragStart.x(), event->position().toPoint().x());
        if (to - from >= SmallestDragPixels)
            m_owner->requestColumns(sceneX(from), sceneX(to));
    }

    void wheelEvent(QWheelEvent *event) override
    {
        const int notches = event->angleDelta().y() / 120;
        if (notches == 0)
            return;
        m_owner->requestZoom(sceneX(event->position().toPoint().x()),
                             std::pow(WheelZoomFactor, -notches));
        event->accept();
    }

private:
    double sceneX(int viewX) const { return mapToScene(QPoint(viewX, 0)).x(); }

    HistoryChart *m_owner;
    QRubberBand *m_band = nullptr;
    QPoint m_dragStart;
    bool m_dragging = false;
};

HistoryChart::HistoryChart(QWidget *parent) : QWidget(parent)
{
    m_chart = new QChart;
    m_chart->legend()->hide();
    m_chart->layout()->setContentsMargins(0, 0, 0, 0);
    m_chart->setBackgroundRoundness(0);

    m_timeAxis = new QDateTimeAxis;
    m_timeAxis->setTickCount(6);
    m_chart->addAxis(m_timeAxis, Qt::AlignBottom);
    m_valueAxis = new QValueAxis;
    m_chart->addAxis(m_valueAxis, Qt::AlignLeft);

    m_lowLine = new QLineSeries;
    m_highLine = new QLineSeries;
    m_marks = new QScatterSeries;
    m_marks->setMarkerSize(9);
    m_marks->setColor(LimitColour);
    m_marks->setBorderColor(LimitColour);
    for (QLineSeries *limit : {m_lowLine, m_highLine}) {
        QPen pen(LimitColour);
        pen.setStyle(Qt::DashLine);
        limit->setPen(pen);
    }
    for (QXYSeries *series :
         {static_cast<QXYSeries *>(m_lowLine), static_cast<QXYSeries *>(m_highLine),
          static_cast<QXYSeries *>(m_marks)}) {
        m_chart->addSeries(series);
        series->attachAxis(m_timeAxis);
        series->attachAxis(m_valueAxis);
    }

    m_view = new HistoryChartView(m_chart, this);
    m_view->setObjectName(QStringLiteral("historyChartView"));
    m_view->setFrameShape(QFrame::NoFrame);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);

    setTimeRange(0, 1);
}

void HistoryChart::setPlot(const QList<TimedRun> &runs, bool steps)
{
    m_runs = runs;
    const QList<TimedRun> lines =
        joinedRuns(runs, (m_toMs - m_fromMs) * SmallestShownGapColumns / plotColumns());
    while (m_lines.size() < lines.size()) {
        auto *line = new QLineSeries;
        line->setColor(LineColour);
        line->setPointsVisible(true);
        m_chart->addSeries(line);
        line->attachAxis(m_timeAxis);
        line->attachAxis(m_valueAxis);
        connect(line, &QLineSeries::hovered, this, [this](const QPointF &point, bool state) {
            if (state)
                emit hovered(utcFromAxis(point.x()), QCursor::pos());
            else
                emit hoverLeft();
        });
        m_lines.append(line);
    }
    m_usedLines = lines.size();
    for (qsizetype index = 0; index < m_lines.size(); ++index) {
        QList<QPointF> points;
        if (index < lines.size()) {
            const TimedRun &run = lines[index];
            points.reserve(steps ? run.size() * 2 : run.size());
            for (qsizetype at = 0; at < run.size(); ++at) {
                if (steps && at > 0)
                    points.append({axisValue(run[at].timeMs), run[at - 1].value});
                points.append({axisValue(run[at].timeMs), run[at].value});
            }
        }
        m_lines[index]->replace(points);
    }
    fitValueAxis();
}

void HistoryChart::setTimeRange(qint64 fromMs, qint64 toMs)
{
    m_fromMs = fromMs;
    m_toMs = std::max(toMs, fromMs + 1);
    m_timeAxis->setFormat(timeFormat(m_toMs - m_fromMs));
    m_timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(qint64(axisValue(m_fromMs))),
                         QDateTime::fromMSecsSinceEpoch(qint64(axisValue(m_toMs))));
    drawLimits();
}

void HistoryChart::setLimits(std::optional<double> low, std::optional<double> high)
{
    m_low = low;
    m_high = high;
    fitValueAxis();
    drawLimits();
}

int HistoryChart::plotColumns() const
{
    // Before the chart's first layout its plot area is empty: the widget's width is near it.
    const QRectF plotArea = m_chart->plotArea();
    return std::max(1, plotArea.isEmpty() ? width() : int(plotArea.width()));
}

QList<QList<QPointF>> HistoryChart::drawnLines() const
{
    QList<QList<QPointF>> lines;
    for (qsizetype index = 0; index < m_usedLines; ++index) {
        QList<QPointF> points = m_lines[index]->points();
        for (QPointF &point : points)
            point.setX(double(utcFromAxis(point.x())));
        lines.append(points);
    }
    return lines;
}

QList<QPointF> HistoryChart::markedPoints() const
{
    QList<QPointF> points = m_marks->points();
    for (QPointF &point : points)
        point.setX(double(utcFromAxis(point.x())));
    return points;
}

QImage HistoryChart::image() const
{
    return m_view->grab().toImage();
}

void HistoryChart::requestColumns(double fromPixel, double toPixel)
{
    const qint64 from = timeAtPixel(fromPixel);
    const qint64 to = timeAtPixel(toPixel);
    if (to - from >= 1)
        emit rangeRequested(from, std::max(to, from + ShortestRangeMs));
}

void HistoryChart::requestZoom(double centrePixel, double factor)
{
    const qint64 centre = timeAtPixel(centrePixel);
    const double span = std::max(double(ShortestRangeMs), double(m_toMs - m_fromMs) * factor);
    const double share = double(centre - m_fromMs) / double(m_toMs - m_fromMs);
    const auto from = qint64(std::llround(double(centre) - span * share));
    emit rangeRequested(from, from + qint64(std::llround(span)));
}

qint64 HistoryChart::timeAtPixel(double x) const
{
    const QRectF area = m_chart->plotArea();
    const double share = std::clamp((x - area.left()) / std::max(1.0, area.width()), 0.0, 1.0);
    return m_fromMs + qint64(std::llround(share * double(m_toMs - m_fromMs)));
}

// Room above and below the values and limits, so that neither touches the plot's edge; a flat
// channel gets a unit either side.
void HistoryChart::fitValueAxis()
{
    double lowest = std::numeric_limits<double>::infinity();
    double highest = -lowest;
    for (const TimedRun &run : std::as_const(m_runs)) {
        for (const TimedValue &value : run) {
            lowest = std::min(lowest, value.value);
            highest = std::max(highest, value.value);
        }
    }
    for (const std::optional<double> &limit : {m_low, m_high}) {
        if (limit) {
            lowest = std::min(lowest, *limit);
            highest = std::max(highest, *limit);
        }
    }
    if (!std::isfinite(lowest)) {
        lowest = 0.0;
        highest = 1.0;
    }
    const double margin = highest > lowest ? (highest - lowest) * 0.08 : 1.0;
    m_valueAxis->setRange(lowest - margin, highest + margin);
    m_valueAxis->applyNiceNumbers();
}

void HistoryChart::drawLimits()
{
    const double from = axisValue(m_fromMs);
    const double to = axisValue(m_toMs);
    m_lowLine->clear();
    m_highLine->clear();
    if (m_low)
        m_lowLine->append({{from, *m_low}, {to, *m_low}});
    if (m_high)
        m_highLine->append({{from, *m_high}, {to, *m_high}});
}

void HistoryChart::setMarks(const QList<TimedValue> &marked)
{
    QList<QPointF> points;
    points.reserve(marked.size());
    for (const TimedValue &value : marked)
        points.append({axisValue(value.timeMs), value.value});
    m_marks->replace(points);
}

} // namespace tovrin3
