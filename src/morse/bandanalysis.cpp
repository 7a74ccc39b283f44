// SPDX-License-Identifier: GPL-3.0-or-later
#include "bandanalysis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace tovrin3::morse {

namespace {

// Per-bin floor tracking. The quantile a bin keeps: 20 %, low enough that a bin keyed down half
// the time still has pauses below it, high enough to be steady; for exponential noise power it
// lies at -ln(0.8) = 0.223 times the mean.
constexpr float QuantileShare = 0.2f;
constexpr float QuantileOfMean = 0.2231436f;
// Its step in the log domain per frame (32 ms): it falls by (1 - share) of it, 22 dB a second,
// and climbs by the share of it, 5 dB a second, so it settles within half a second of the start
// on noise that is already there; in noise it wavers by about 1.3 dB, which the median over the
// bins around takes down to about half a dB. The first frames take larger steps (one over the
// frame count).
constexpr float QuantileStep = 0.2f;
// The mean power's and mean square power's smoothing per frame: about one second, a few
// elements at the slowest speed.
constexpr float MeanSmoothing = 1.0f / 32;
// A bin whose power varies less than this (variance over squared mean) is steady: a carrier
// 10 dB or more over its bin's noise (2 over the carrier's power over the noise); noise varies
// by 1, keying down half the time by 1 and keying down 80 % of the time (a run of dashes) by 0.25.
// The variation of fewer than SteadyFrames frames (a quarter second) is no guide: until then
// every bin is taken as steady, so a carrier there from the start never stands out.
constexpr float SteadyVariation = 0.2f;
constexpr long SteadyFrames = 8;
// A steady part plus noise varies by less than that only when the part is 10 dB over the noise:
// power |A + n|^2 with noise power N has the mean m = A^2 + N and the variance N (2m - N), so the
// window's skirt beside a carrier (its leakage a few dB over the noise) varies almost as much as
// noise, and over the floor of the bins around, which lies under the leakage, it would read as
// keyed. A bin counts as such a skirt when a steady bin nearby can leak at least the noise into it
// (SkirtLeakage: the most a Hann window leaks a tone into a bin 1 to 6 bins away, the tone half a
// bin off the centre of its own, in power: -1.4, -15.4, -32.3, -41.8, -48.7 and -54.1 dB), and
// it then takes its mean as well when its power varies as a steady part plus the noise around it
// does: a variance under SkirtFit times N (2m - N), and its low quantile, as a floor, at or over
// SkirtQuantile of its mean (a steady part's lies over its mean, noise's about at it). Keying
// there has pauses at the noise: down half the time, its quantile lies under two thirds of its
// mean, and its variance exceeds N (2m - N) by a quarter of its power squared, twice N (2m - N)
// from 7 dB over the noise (-14 dB in 3 kHz) on. SkirtFit and SkirtQuantile: over about a second
// the variance wavers by a quarter on a skirt, now and then by a half, and the quantile by about
// 1.3 dB.
constexpr int SkirtBins = 6;
constexpr std::array<float, SkirtBins + 1> SkirtLeakage{1.0f,     0.72f,    0.0288f, 5.88e-4f,
                                                        6.54e-5f, 1.35e-5f, 3.92e-6f};
constexpr float SkirtFit = 2.0f;
constexpr float SkirtQuantile = 0.75f;
// The bins either side whose floors, with the bin's own, give the median floor of a bin that is
// not steady: 5 bins, 78 Hz, past a keyed signal's own spread (a 40 WPM dot, about 30 Hz) on both
// sides, close enough to follow a hump; the median of eleven also steadies the floor to about
// half a dB.
constexpr int AroundBins = 5;
// The median around puts the floor under the top of a narrow noise hump (200 Hz wide at half
// its height in dB: 3.5 dB under it at the top of a 25 dB hump), where the noise would then read
// as keying. Such a top shows in the floors around: they rise toward the bin on both sides, from
// AroundBins out to PeakInnerBins, by more than 2 dB (their own wavering is about 1.3 dB). There
// the floor is the top of the parabola (in dB) through those floors, drawn from them and not
// from the bin's own floor, which keying at the top would lift. A keyed bin on a flat floor or on
// a hump's side sees no such rise and keeps the median.
constexpr int PeakInnerBins = 2;
constexpr float PeakRise = 1.6f;
// A hump of the receiver's chain rises a few dB over those bins (7 dB for 25 dB, 200 Hz wide;
// 12 dB for 30 dB, 150 Hz wide). A rise of over 15 dB is the window's skirt around a strong
// tone, keyed itself, whose floor the parabola would lift far over its pauses.
constexpr float SteepestPeakRise = 31.6f;

// No floor lies more than 60 dB under the strongest bin's mean power: a clean signal's pauses,
// the FFT's leakage and the resampler's residue then read as quiet, not as keying over a floor
// of nothing. 60 dB is beyond any carrier the band holds over its noise (30 dB over a beacon
// 20 dB over its bin's noise).
constexpr float DynamicRange = 1e-6f;

// Keying presence. A ratio above LoudRatio counts as keyed down (noise alone: e^-5, 0.7 % of
// frames, 2 % on a floor 1 dB low, as the top of a hump may have); below QuietRatio as keyed up
// (noise alone: 86 %). Both shares are smoothed over about a second; keying, down about half the
// time, holds each above KeyedShare; noise would need several frames loud out of ten, and a steady
// carrier over its floor is never loud.
constexpr float LoudRatio = 5.0f;
constexpr float QuietRatio = 2.0f;
constexpr float PresenceSmoothing = 1.0f / 32;
constexpr float KeyedShare = 0.2f;
// The floors settle within the first second, and the shares take another to forget it; keying
// is not judged before.
constexpr long SettlingFrames = 62;

// A floor never quite zero, so digital silence gives finite ratios.
constexpr float SmallestFloor = 1e-20f;
// The floors climb slowly, so a band whose noise rises at once (a stream that starts in digital
// silence, a receiver unmuted) would read as keyed for seconds. When the median bin of the band
// stays more than 20 dB over the median floor for an eighth of a second, the floors are measured
// afresh: keying raises a few bins, never the median of the band, and a click is shorter. A clean
// tone over digital silence raises the median by its leakage only, far more than DynamicRange
// under the tone itself: that is no new band.
constexpr float NewBandRatio = 100.0f;
constexpr int NewBandFrames = 4;
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

double parabolicPeakOffset(double left, double middle, double right)
{
    const double curvature = left - 2 * middle + right;
    return curvature < 0 ? std::clamp(0.5 * (left - right) / curvature, -0.5, 0.5) : 0.0;
}

std::vector<float> hannWindow(int size)
{
    std::vector<float> window(std::size_t(std::max(size, 0)));
    for (int n = 0; n < size; ++n)
        window[std::size_t(n)] =
            float(0.5 - 0.5 * std::cos(2 * std::numbers::pi * (n + 0.5) / size));
    return window;
}

void NoiseFloor::update(std::span<const float> powers, std::span<float> floors)
{
    const auto bins = powers.size();
    if (m_frames > 0 && isNewBand(powers)) {
        m_frames = 0;
        m_louderFrames = 0;
    }
    if (m_frames == 0) {
        m_quantile.resize(bins);
        m_mean.resize(bins);
        m_meanSquare.resize(bins);
        m_own.resize(bins);
        for (std::size_t b = 0; b < bins; ++b) {
            const float power = std::max(powers[b], SmallestFloor);
            m_quantile[b] = power * QuantileOfMean;
        }
    }
    ++m_frames;
    const float step = std::max(QuantileStep, 1.0f / float(m_frames));
    const float smoothing = std::max(MeanSmoothing, 1.0f / float(m_frames));
    // The log-domain steps as factors, so the bins need no logarithm.
    const float up = std::exp(step * QuantileShare);
    const float down = std::exp(step * (QuantileShare - 1.0f));
    for (std::size_t b = 0; b < bins; ++b) {
        const float power = std::max(powers[b], SmallestFloor);
        m_quantile[b] =
            std::max(m_quantile[b] * (power > m_quantile[b] ? up : down), SmallestFloor);
        m_mean[b] += (power - m_mean[b]) * smoothing;
        m_meanSquare[b] += (power * power - m_meanSquare[b]) * smoothing;
        m_own[b] = m_quantile[b] / QuantileOfMean;
    }
    const float lowest = *std::max_element(m_mean.begin(), m_mean.end()) * DynamicRange;
    m_steady.resize(bins);
    for (std::size_t b = 0; b < bins; ++b) {
        const float mean = std::max(m_mean[b], SmallestFloor);
        m_steady[b] =
            m_frames < SteadyFrames || m_meanSquare[b] / mean / mean - 1.0f < SteadyVariation;
    }
    for (std::size_t b = 0; b < bins; ++b) {
        float floor = m_mean[b];
        if (!m_steady[b]) {
            const std::size_t from = b >= std::size_t(AroundBins) ? b - AroundBins : 0;
            const std::size_t to = std::min(bins, b + AroundBins + 1);
            m_around.assign(m_own.begin() + std::ptrdiff_t(from),
                            m_own.begin() + std::ptrdiff_t(to));
            const auto middle = m_around.begin() + std::ptrdiff_t(m_around.size() / 2);
            std::nth_element(m_around.begin(), middle, m_around.end());
            if (!isSteadySkirt(b, *middle))
                floor = std::max(*middle, noisePeakFloor(b));
        }
        floors[b] = std::max({floor, lowest, SmallestFloor});
    }
}

bool NoiseFloor::isSteadySkirt(std::size_t bin, float noise) const
{
    const std::size_t from = bin >= std::size_t(SkirtBins) ? bin - SkirtBins : 0;
    const std::size_t to = std::min(m_mean.size(), bin + SkirtBins + 1);
    bool besideCarrier = false;
    for (std::size_t b = from; b < to && !besideCarrier; ++b) {
        const auto distance = std::size_t(std::abs(std::ptrdiff_t(b) - std::ptrdiff_t(bin)));
        besideCarrier = m_steady[b] && m_mean[b] * SkirtLeakage[distance] > noise;
    }
    if (!besideCarrier)
        return false;
    const float mean = m_mean[bin];
    const float variance = m_meanSquare[bin] - mean * mean;
    return m_own[bin] >= SkirtQuantile * mean &&
           variance < SkirtFit * noise * (2.0f * mean - noise);
}

float NoiseFloor::noisePeakFloor(std::size_t bin) const
{
    if (bin < std::size_t(AroundBins) || bin + AroundBins >= m_own.size())
        return 0.0f;
    const float innerLow = m_own[bin - PeakInnerBins];
    const float innerHigh = m_own[bin + PeakInnerBins];
    if (innerLow < PeakRise * m_own[bin - AroundBins] ||
        innerHigh < PeakRise * m_own[bin + AroundBins])
        return 0.0f;
    // In dB, level(d) = top - c d^2: the inner floors lie c (5^2 - 2^2) under the outer ones'
    // rise, and 2^2 c under the top.
    constexpr float Inner = float(PeakInnerBins * PeakInnerBins);
    constexpr float Outer = float(AroundBins * AroundBins);
    const float inner = std::sqrt(innerLow * innerHigh);
    const float outer = std::sqrt(m_own[bin - AroundBins] * m_own[bin + AroundBins]);
    if (inner > SteepestPeakRise * outer)
        return 0.0f;
    return inner * std::pow(inner / outer, Inner / (Outer - Inner));
}

bool NoiseFloor::isNewBand(std::span<const float> powers)
{
    const auto medianOf = [this](auto begin, auto end) {
        m_around.assign(begin, end);
        const auto middle = m_around.begin() + std::ptrdiff_t(m_around.size() / 2);
        std::nth_element(m_around.begin(), middle, m_around.end());
        return *middle;
    };
    const float band = medianOf(powers.begin(), powers.end());
    const float floor = medianOf(m_own.begin(), m_own.end());
    const float strongest = *std::max_element(powers.begin(), powers.end());
    const bool louder = band > floor * NewBandRatio && band > strongest * DynamicRange;
    m_louderFrames = louder ? m_louderFrames + 1 : 0;
    return m_louderFrames >= NewBandFrames;
}

void KeyingPresence::update(std::span<const float> ratios)
{
    m_loud.resize(ratios.size(), 0.0f);
    m_quiet.resize(ratios.size(), 0.0f);
    ++m_frames;
    for (std::size_t b = 0; b < ratios.size(); ++b) {
        m_loud[b] += ((ratios[b] > LoudRatio ? 1.0f : 0.0f) - m_loud[b]) * PresenceSmoothing;
        m_quiet[b] += ((ratios[b] < QuietRatio ? 1.0f : 0.0f) - m_quiet[b]) * PresenceSmoothing;
    }
}

bool KeyingPresence::isKeyed(int bin) const
{
    const auto b = std::size_t(bin);
    return m_frames >= SettlingFrames && b < m_loud.size() && m_loud[b] > KeyedShare &&
           m_quiet[b] > KeyedShare;
}

float KeyingPresence::quietShare(int bin) const
{
    const auto b = std::size_t(bin);
    return b < m_quiet.size() ? m_quiet[b] : 0.0f;
}

FrameSpectrum::FrameSpectrum() : m_fft(FftSize), m_window(hannWindow(FftSize)), m_floors(SearchBins)
{
}

void FrameSpectrum::process(std::span<const float> frame, std::span<float> powers)
{
    const std::span<float> input = m_fft.input();
    for (std::size_t n = 0; n < input.size(); ++n)
        input[n] = frame[n] * m_window[n];
    m_fft.execute();
    const auto bins = m_fft.output();
    for (int b = 0; b < SearchBins; ++b)
        powers[std::size_t(b)] = std::norm(bins[std::size_t(LowestBin + b)]);
    m_floor.update(powers, m_floors);
    for (std::size_t b = 0; b < powers.size(); ++b)
        powers[b] /= m_floors[b];
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
