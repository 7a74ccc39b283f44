// SPDX-License-Identifier: GPL-3.0-or-later
#include "spectrum.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tovrin3::morse {

namespace {

// A floor never quite zero, so digital silence gives finite ratios.
constexpr float SmallestFloor = 1e-20f;
// Bins of about 15 Hz or finer: a CW signal stands out on a waterfall as a trace a few pixels
// wide.
constexpr double FinestUsefulBinHz = 16.0;

int waterfallLength(double sampleRate)
{
    int length = 256;
    while (sampleRate / length > FinestUsefulBinHz)
        length *= 2;
    return length;
}

} // namespace

std::vector<float> hannWindow(int size)
{
    std::vector<float> window(std::size_t(std::max(size, 0)));
    for (int n = 0; n < size; ++n)
        window[std::size_t(n)] =
            float(0.5 - 0.5 * std::cos(2 * std::numbers::pi * (n + 0.5) / size));
    return window;
}

FrameSpectrum::FrameSpectrum() : m_fft(FftSize), m_window(hannWindow(FftSize)) {}

void FrameSpectrum::process(std::span<const float> frame, std::span<float> powers)
{
    const std::span<float> input = m_fft.input();
    for (std::size_t n = 0; n < input.size(); ++n)
        input[n] = frame[n] * m_window[n];
    m_fft.execute();
    const auto bins = m_fft.output();
    for (int b = 0; b < SearchBins; ++b)
        powers[std::size_t(b)] = std::norm(bins[std::size_t(LowestBin + b)]);
    m_sorted.assign(powers.begin(), powers.end());
    const auto middle = m_sorted.begin() + SearchBins / 2;
    std::nth_element(m_sorted.begin(), middle, m_sorted.end());
    const float floor = std::max(*middle / float(std::numbers::ln2), SmallestFloor);
    for (float &power : powers)
        power /= floor;
}

WaterfallSpectrum::WaterfallSpectrum(double sampleRate)
    : m_fft(waterfallLength(sampleRate)), m_window(hannWindow(m_fft.size()))
{
    m_binHz = sampleRate / m_fft.size();
    m_firstBin = int(std::ceil(LowestHz / m_binHz));
    m_columnCount =
        std::min(int(std::floor(HighestHz / m_binHz)), m_fft.size() / 2) - m_firstBin + 1;
}

std::vector<std::vector<float>> WaterfallSpectrum::process(std::span<const float> samples)
{
    std::vector<std::vector<float>> rows;
    const std::span<float> input = m_fft.input();
    while (!samples.empty()) {
        const std::size_t take = std::min(samples.size(), m_window.size() - m_filled);
        for (std::size_t n = 0; n < take; ++n)
            input[m_filled + n] = samples[n] * m_window[m_filled + n];
        m_filled += take;
        samples = samples.subspan(take);
        if (m_filled == m_window.size())
            rows.push_back(finishBlock());
    }
    return rows;
}

std::vector<float> WaterfallSpectrum::finishBlock()
{
    m_filled = 0;
    m_fft.execute();
    const auto bins = m_fft.output();
    std::vector<float> row(std::size_t(std::max(m_columnCount, 0)));
    for (std::size_t column = 0; column < row.size(); ++column)
        row[column] =
            10.0f * std::log10(std::norm(bins[std::size_t(m_firstBin) + column]) + SmallestFloor);
    return row;
}

double WaterfallSpectrum::frequencyOfColumn(int column) const
{
    return (m_firstBin + column) * m_binHz;
}

} // namespace tovrin3::morse
