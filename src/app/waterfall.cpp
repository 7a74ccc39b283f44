// SPDX-License-Identifier: GPL-3.0-or-later
#include "waterfall.h"

#include "bandanalysis.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace tovrin3 {

namespace {

constexpr int HistoryRows = 240;
// The rows the trace is found in: half a second to a second of sound.
constexpr std::size_t TraceRows = 16;
// Levels this far above a row's median run from dark to full colour.
constexpr float DisplayRangeDb = 40.0F;

// From the background's dark blue through cyan and yellow to white, level 0 to 1.
QRgb colourOf(float level)
{
    static constexpr std::array<std::array<float, 3>, 5> Stops{
        {{0, 0, 48}, {0, 64, 160}, {0, 200, 220}, {250, 230, 0}, {255, 255, 255}}};
    const float position = std::clamp(level, 0.0F, 1.0F) * (Stops.size() - 1);
    const auto lower = std::min(static_cast<std::size_t>(position), Stops.size() - 2);
    const float blend = position - static_cast<float>(lower);
    const auto mix = [&](std::size_t channel) {
        return static_cast<int>(Stops[lower][channel] +
                                blend * (Stops[lower + 1][channel] - Stops[lower][channel]));
    };
    return qRgb(mix(0), mix(1), mix(2));
}

} // namespace

Waterfall::Waterfall(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::CrossCursor);
    setMinimumSize(300, 120);
}

QSize Waterfall::sizeHint() const
{
    return {540, HistoryRows};
}

void Waterfall::setColumns(double firstHz, double stepHz)
{
    m_firstColumnHz = firstHz;
    m_columnStepHz = stepHz;
    update();
}

double Waterfall::columnHz(int column) const
{
    if (m_columnStepHz > 0.0)
        return m_firstColumnHz + column * m_columnStepHz;
    const double step = (morse::WaterfallSpectrum::HighestHz - morse::WaterfallSpectrum::LowestHz) /
                        std::max(1, m_image.width());
    return morse::WaterfallSpectrum::LowestHz + (column + 0.5) * step;
}

// The newest row is the top line of the picture.
void Waterfall::addRow(std::span<const float> decibels)
{
    const int width = static_cast<int>(decibels.size());
    if (width == 0)
        return;
    if (m_image.width() != width) {
        m_image = QImage(width, HistoryRows, QImage::Format_RGB32);
        m_image.fill(colourOf(0.0F));
        m_recentRows.clear();
    }
    const auto lineBytes = static_cast<std::size_t>(m_image.bytesPerLine());
    std::memmove(m_image.scanLine(1), m_image.constScanLine(0), lineBytes * (HistoryRows - 1));

    std::vector<float> sorted(decibels.begin(), decibels.end());
    std::nth_element(sorted.begin(), sorted.begin() + width / 2, sorted.end());
    const float floor = sorted[static_cast<std::size_t>(width / 2)];
    auto *line = reinterpret_cast<QRgb *>(m_image.scanLine(0));
    std::vector<float> excess(decibels.size());
    for (std::size_t column = 0; column < excess.size(); ++column) {
        excess[column] = decibels[column] - floor;
        line[column] = colourOf(excess[column] / DisplayRangeDb);
    }
    m_recentRows.push_front(std::move(excess));
    if (m_recentRows.size() > TraceRows)
        m_recentRows.pop_back();
    update();
}

double Waterfall::traceHz() const
{
    if (m_recentRows.empty())
        return 0.0;
    std::vector<float> sums(m_recentRows.front().size(), 0.0F);
    for (const std::vector<float> &row : m_recentRows) {
        if (row.size() != sums.size())
            break;
        for (std::size_t column = 0; column < sums.size(); ++column)
            sums[column] += row[column];
    }
    const auto peak = std::max_element(sums.begin(), sums.end());
    return columnHz(static_cast<int>(std::distance(sums.begin(), peak)));
}

void Waterfall::setMark(double pitchHz, bool locked)
{
    if (pitchHz == m_markHz && locked == m_markLocked)
        return;
    m_markHz = pitchHz;
    m_markLocked = locked;
    update();
}

double Waterfall::frequencyAt(int x) const
{
    const double fraction = std::clamp(static_cast<double>(x) / std::max(1, width() - 1), 0.0, 1.0);
    return morse::WaterfallSpectrum::LowestHz +
           fraction * (morse::WaterfallSpectrum::HighestHz - morse::WaterfallSpectrum::LowestHz);
}

int Waterfall::positionOf(double hz) const
{
    return static_cast<int>(std::lround(positionAt(hz)));
}

double Waterfall::positionAt(double hz) const
{
    const double fraction =
        (hz - morse::WaterfallSpectrum::LowestHz) /
        (morse::WaterfallSpectrum::HighestHz - morse::WaterfallSpectrum::LowestHz);
    return fraction * (width() - 1);
}

void Waterfall::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), colourOf(0.0F));
    if (!m_image.isNull()) {
        // Each column from half a step below its frequency to half a step above.
        const double halfStep = (columnHz(1) - columnHz(0)) / 2.0;
        const double left = positionAt(columnHz(0) - halfStep);
        const double right = positionAt(columnHz(m_image.width() - 1) + halfStep);
        painter.drawImage(QRectF(left, 0.0, right - left, height()), m_image);
    }

    painter.setPen(QColor(255, 255, 255, 160));
    for (int hz = 500; hz < morse::WaterfallSpectrum::HighestHz; hz += 500) {
        const int x = positionOf(hz);
        painter.drawLine(x, height() - 6, x, height());
        painter.drawText(x + 3, height() - 3, QString::number(hz));
    }
    if (m_markHz <= 0.0)
        return;
    const int x = positionOf(m_markHz);
    painter.setPen(QPen(m_markLocked ? QColor(255, 64, 64) : QColor(255, 255, 255), 1,
                        m_markLocked ? Qt::SolidLine : Qt::DashLine));
    painter.drawLine(x, 0, x, height());
}

void Waterfall::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit clicked(frequencyAt(static_cast<int>(event->position().x())));
}

} // namespace tovrin3
