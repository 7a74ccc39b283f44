// SPDX-License-Identifier: GPL-3.0-or-later
#include "waterfall.h"

#include "fftwplanning.h"

#include <QMouseEvent>
#include <QPainter>

#include <fftw3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

namespace tovrin3 {

namespace {

// Bins of about 15 Hz or finer: a CW signal stands out as a trace a few pixels wide.
constexpr double FinestUsefulBinHz = 16.0;
constexpr int HistoryRows = 240;
// Levels this far above a row's median run from dark to full colour.
constexpr float DisplayRangeDb = 40.0F;

std::size_t blockLength(double sampleRate)
{
    std::size_t length = 256;
    while (sampleRate / static_cast<double>(length) > FinestUsefulBinHz)
        length *= 2;
    return length;
}

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

struct SpectrumRows::Fft
{
    float *input;
    fftwf_complex *output;
    fftwf_plan plan;

    explicit Fft(std::size_t length)
        : input(fftwf_alloc_real(length)), output(fftwf_alloc_complex(length / 2 + 1))
    {
        const std::lock_guard lock(morse::fftwPlanning());
        plan = fftwf_plan_dft_r2c_1d(static_cast<int>(length), input, output, FFTW_ESTIMATE);
    }
    ~Fft()
    {
        {
            const std::lock_guard lock(morse::fftwPlanning());
            fftwf_destroy_plan(plan);
        }
        fftwf_free(output);
        fftwf_free(input);
    }
    Fft(const Fft &) = delete;
    Fft &operator=(const Fft &) = delete;
};

SpectrumRows::SpectrumRows(double sampleRate) : m_window(blockLength(sampleRate))
{
    const std::size_t length = m_window.size();
    m_binHz = sampleRate / static_cast<double>(length);
    m_firstBin = static_cast<int>(std::ceil(LowestHz / m_binHz));
    m_columnCount = static_cast<int>(std::floor(HighestHz / m_binHz)) - m_firstBin + 1;
    for (std::size_t index = 0; index < length; ++index) {
        m_window[index] = static_cast<float>(
            0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(index) /
                                 static_cast<double>(length)));
    }
    m_fft = std::make_unique<Fft>(length);
}

SpectrumRows::~SpectrumRows() = default;

std::vector<std::vector<float>> SpectrumRows::process(std::span<const float> samples)
{
    std::vector<std::vector<float>> rows;
    while (!samples.empty()) {
        const std::size_t take = std::min(samples.size(), m_window.size() - m_filled);
        for (std::size_t index = 0; index < take; ++index)
            m_fft->input[m_filled + index] = samples[index] * m_window[m_filled + index];
        m_filled += take;
        samples = samples.subspan(take);
        if (m_filled == m_window.size())
            rows.push_back(finishBlock());
    }
    return rows;
}

std::vector<float> SpectrumRows::finishBlock()
{
    m_filled = 0;
    fftwf_execute(m_fft->plan);
    std::vector<float> row(static_cast<std::size_t>(m_columnCount));
    for (int column = 0; column < m_columnCount; ++column) {
        const fftwf_complex &bin = m_fft->output[m_firstBin + column];
        const float power = bin[0] * bin[0] + bin[1] * bin[1];
        row[static_cast<std::size_t>(column)] = 10.0F * std::log10(power + 1e-20F);
    }
    return row;
}

double SpectrumRows::frequencyOfColumn(int column) const
{
    return (m_firstBin + column) * m_binHz;
}

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
    return SpectrumRows::LowestHz + fraction * (SpectrumRows::HighestHz - SpectrumRows::LowestHz);
}

int Waterfall::positionOf(double hz) const
{
    const double fraction =
        (hz - SpectrumRows::LowestHz) / (SpectrumRows::HighestHz - SpectrumRows::LowestHz);
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
    for (int hz = 500; hz < SpectrumRows::HighestHz; hz += 500) {
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
