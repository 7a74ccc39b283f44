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

// Each row is stretched over the width; the newest row is the top line of the picture.
void Waterfall::addRow(std::span<const float> decibels)
{
    const int width = static_cast<int>(decibels.size());
    if (width == 0)
        return;
    if (m_image.width() != width) {
        m_image = QImage(width, HistoryRows, QImage::Format_RGB32);
        m_image.fill(colourOf(0.0F));
    }
    const auto lineBytes = static_cast<std::size_t>(m_image.bytesPerLine());
    std::memmove(m_image.scanLine(1), m_image.constScanLine(0), lineBytes * (HistoryRows - 1));

    std::vector<float> sorted(decibels.begin(), decibels.end());
    std::nth_element(sorted.begin(), sorted.begin() + width / 2, sorted.end());
    const float floor = sorted[static_cast<std::size_t>(width / 2)];
    auto *line = reinterpret_cast<QRgb *>(m_image.scanLine(0));
    for (int column = 0; column < width; ++column)
        line[column] =
            colourOf((decibels[static_cast<std::size_t>(column)] - floor) / DisplayRangeDb);
    update();
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
    const double fraction =
        (hz - morse::WaterfallSpectrum::LowestHz) /
        (morse::WaterfallSpectrum::HighestHz - morse::WaterfallSpectrum::LowestHz);
    return static_cast<int>(std::lround(fraction * (width() - 1)));
}

void Waterfall::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (m_image.isNull())
        painter.fillRect(rect(), colourOf(0.0F));
    else
        painter.drawImage(rect(), m_image);

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
