// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QList>
#include <QPoint>
#include <QPointF>
#include <QString>
#include <QWidget>

#include <optional>

QT_BEGIN_NAMESPACE
class QChart;
class QDateTimeAxis;
class QLineSeries;
class QScatterSeries;
class QValueAxis;
QT_END_NAMESPACE

namespace tovrin3 {

class HistoryChartView;

// A value at a time: UTC milliseconds since 1970.
struct TimedValue
{
    qint64 timeMs = 0;
    double value = 0.0;
    bool operator==(const TimedValue &) const = default;
};

// A run of values drawn as one line; the line is broken between runs.
using TimedRun = QList<TimedValue>;

// The History window's plot of one channel against UTC time. The window speaks to it in runs of
// timed values and a time range; the chart draws each run as a line of its own (held from value
// to value for a step plot), a low and a high limit as lines across, and marks the values the
// window names (those beyond a limit). Dragging a rectangle or turning the wheel asks for a new
// time range; the chart does not change its range itself, so the window keeps one account of what
// is shown.
class HistoryChart : public QWidget
{
    Q_OBJECT

public:
    explicit HistoryChart(QWidget *parent = nullptr);

    void setPlot(const QList<TimedRun> &runs, bool steps);
    void setTimeRange(qint64 fromMs, qint64 toMs);
    void setLimits(std::optional<double> low, std::optional<double> high);
    void setMarks(const QList<TimedValue> &marked);

    qint64 fromMs() const { return m_fromMs; }
    qint64 toMs() const { return m_toMs; }
    // The width of the plot area in pixels: how many columns a range is drawn in.
    int plotColumns() const;

    // What is drawn: each line's points (a step plot with its corners), and the marked values.
    QList<QList<QPointF>> drawnLines() const;
    QList<QPointF> markedPoints() const;

    // The chart as an image, at the size it is shown.
    QImage image() const;

signals:
    void rangeRequested(qint64 fromMs, qint64 toMs);
    // The pointer rests on a line near this time; `globalPosition` is where, on screen.
    void hovered(qint64 timeMs, QPoint globalPosition);
    void hoverLeft();

private:
    friend class HistoryChartView;
    void requestColumns(double fromPixel, double toPixel);
    void requestZoom(double centrePixel, double factor);
    qint64 timeAtPixel(double x) const;
    void fitValueAxis();
    void drawLimits();

    QChart *m_chart = nullptr;
    HistoryChartView *m_view = nullptr;
    QDateTimeAxis *m_timeAxis = nullptr;
    QValueAxis *m_valueAxis = nullptr;
    QList<QLineSeries *> m_lines; // kept for the next plot; the first m_usedLines are drawn
    qsizetype m_usedLines = 0;
    QLineSeries *m_lowLine = nullptr;
    QLineSeries *m_highLine = nullptr;
    QScatterSeries *m_marks = nullptr;
    QList<TimedRun> m_runs;
    std::optional<double> m_low;
    std::optional<double> m_high;
    qint64 m_fromMs = 0;
    qint64 m_toMs = 1;
};

} // namespace tovrin3
