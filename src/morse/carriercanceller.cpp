// SPDX-License-Identifier: GPL-3.0-or-later
#include "carriercanceller.h"

#include "bandanalysis.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace tovrin3::morse {

namespace {

// Carriers are looked for in the spectra of the last 4 s (125 frames), every half second. A
// steady bin's quietest frame there is loud too, and its loudest no more than SteadySpread over
// it. Morse keying at 8 WPM or faster pauses for a frame's length at least once in any 4 s (a
// beacon frame keyed as one word has a letter gap every 1.3 s at 20 WPM), so keying, however
// densely keyed, never reads as steady.
constexpr std::size_t LookFrames = 125;
constexpr std::size_t LookEveryFrames = 16;
// 6 dB: a carrier 20 dB or more over the noise of its bin (CarrierProminence) varies by far less.
constexpr double SteadySpread = 4.0;
// Bins quieter than this (100 dB under a full-scale sine's 16,384) hold no carrier worth a notch:
// digital silence and a resampler's rounding are not carriers.
constexpr double QuietestCarrier = 1.6e-6;
// The bins a carrier's own is compared with lie 3 to 8 bins away: past its window's main lobe
// (2 bins either side) and within 125 Hz, where a receiver's shaped noise changes little.
constexpr int NearestReferenceBin = 3;
constexpr int FarthestReferenceBin = 8;
// A carrier stands 20 dB or more over the median of those bins. One weaker is no threat to the
// keying (the beacon itself stands about 20 dB over a bin's noise at 0 dB in 3 kHz, and a carrier
// must be stronger than the beacon to bury it), and noise would make its quietest and loudest
// frames stray past SteadySpread now and then, so it would come and go.
constexpr double CarrierProminence = 100.0;
// A carrier found again within this distance is the same carrier. One no longer found for 5 s is
// dropped once its envelope has followed it down to a hundredth (-20 dB) of its loudest, so
// dropping it changes nothing; a carrier that only stands less clear of the noise for a while is
// kept, since putting it back whole would look like keying to the floors.
constexpr double SameCarrierHz = 8.0;
constexpr int MissedLooksToDrop = 10;
constexpr double GoneShare = 0.01;
// The envelope: the mean over the last 0.25 s, twice over (a triangle half a second long), so
// keying 50 Hz away leaks a thousandth (-64 dB) of its amplitude into it, and the noise in it is
// that of a notch a few hertz wide.
constexpr auto EnvelopeSamples = std::size_t(0.25 * InternalRate);
// The frequency loop: the envelope's turn over 0.1 s (up to 5 Hz either way, more than the bin
// interpolation misses) corrects the frequency by half of it, so it settles within a second and
// follows a slow drift. It pulls no farther than 3 Hz from where the carrier was last found: with
// the carrier gone, it would wander on the noise.
constexpr auto BlockSamples = std::size_t(0.1 * InternalRate);
constexpr double FrequencyGain = 0.5;
constexpr double FarthestPullHz = 3.0;

constexpr double TwoPi = 2 * std::numbers::pi;

} // namespace

std::vector<double> steadyCarriers(std::span<const double> quietest,
                                   std::span<const double> loudest)
{
    std::vector<double> carriers;
    std::vector<double> around;
    const int bins = int(quietest.size());
    for (int bin = 1; bin + 1 < bins; ++bin) {
        const auto b = std::size_t(bin);
        // A bin of infinite power (samples near the float's limit) is no carrier to follow.
        if (!std::isfinite(loudest[b]) || quietest[b] < QuietestCarrier ||
            loudest[b] > SteadySpread * quietest[b] || quietest[b] < quietest[b - 1] ||
            quietest[b] < quietest[b + 1])
            continue;
        around.clear();
        for (int d = NearestReferenceBin; d <= FarthestReferenceBin; ++d) {
            for (const int other : {bin - d, bin + d}) {
                if (other >= 0 && other < bins)
                    around.push_back(quietest[std::size_t(other)]);
            }
        }
        const auto median = around.begin() + std::ptrdiff_t(around.size() / 2);
        std::nth_element(around.begin(), median, around.end());
        if (quietest[b] < CarrierProminence * *median)
            continue;
        // The peak between bins, from the parabola through the log powers.
        const double offset = parabolicPeakOffset(
            std::log(std::max(quietest[b - 1], QuietestCarrier)), std::log(quietest[b]),
            std::log(std::max(quietest[b + 1], QuietestCarrier)));
        carriers.push_back((LowestBin + bin + offset) * BinHz);
    }
    return carriers;
}

CarrierCanceller::CarrierCanceller() : m_fft(FftSize), m_window(hannWindow(FftSize))
{
    m_frame.reserve(FftSize);
    m_powers.assign(LookFrames * SearchBins, 0.0f);
}

void CarrierCanceller::process(std::span<const float> samples, std::vector<float> &cleaned)
{
    for (const float sample : samples) {
        if (!m_started) {
            m_start.push_back(sample);
            analyse(sample);
            if (m_started)
                release(cleaned);
            continue;
        }
        float out = sample;
        for (Carrier &carrier : m_carriers)
            out = cancel(carrier, out);
        cleaned.push_back(out);
        analyse(sample);
    }
}

void CarrierCanceller::finish(std::vector<float> &cleaned)
{
    if (!m_started)
        cleaned.insert(cleaned.end(), m_start.begin(), m_start.end());
    m_start.clear();
    m_started = true;
}

void CarrierCanceller::analyse(float sample)
{
    m_frame.push_back(sample);
    if (m_frame.size() < std::size_t(FftSize))
        return;
    const std::span<float> input = m_fft.input();
    for (int n = 0; n < FftSize; ++n)
        input[std::size_t(n)] = m_frame[std::size_t(n)] * m_window[std::size_t(n)];
    m_fft.execute();
    const std::size_t row = (m_frames % LookFrames) * SearchBins;
    for (int b = 0; b < SearchBins; ++b)
        m_powers[row + std::size_t(b)] = std::norm(m_fft.output()[std::size_t(LowestBin + b)]);
    ++m_frames;
    m_frame.erase(m_frame.begin(), m_frame.begin() + FrameHop);
    if (m_frames >= LookFrames && m_frames % LookEveryFrames == 0) {
        look();
        m_started = true;
    }
}

void CarrierCanceller::release(std::vector<float> &cleaned)
{
    // Each carrier's frequency settles over the held samples, then its envelope is their mean
    // mixed down by that frequency from the first sample on, as if it had always been followed.
    for (Carrier &carrier : m_carriers) {
        for (const float sample : m_start)
            cancel(carrier, sample);
        const double foundHz = carrier.foundHz;
        carrier = newCarrier(carrier.hz);
        carrier.foundHz = foundHz;
        std::complex<double> mean;
        std::complex<double> oscillator = 1.0;
        for (const float sample : m_start) {
            mean += double(sample) * std::conj(oscillator);
            oscillator *= carrier.turn;
        }
        mean /= double(m_start.size());
        std::fill(carrier.mixed.begin(), carrier.mixed.end(), mean);
        std::fill(carrier.averaged.begin(), carrier.averaged.end(), mean);
        carrier.mixedSum = mean * double(EnvelopeSamples);
        carrier.averagedSum = mean * double(EnvelopeSamples);
        carrier.filled = EnvelopeSamples;
    }
    for (const float sample : m_start) {
        float out = sample;
        for (Carrier &carrier : m_carriers)
            out = cancel(carrier, out);
        cleaned.push_back(out);
    }
    m_start.clear();
    m_start.shrink_to_fit();
}

CarrierCanceller::Carrier CarrierCanceller::newCarrier(double hz)
{
    Carrier carrier;
    carrier.hz = hz;
    carrier.foundHz = hz;
    carrier.turn = std::polar(1.0, TwoPi * hz / InternalRate);
    carrier.mixed.assign(EnvelopeSamples, {});
    carrier.averaged.assign(EnvelopeSamples, {});
    return carrier;
}

float CarrierCanceller::cancel(Carrier &carrier, float sample)
{
    const std::complex<double> oscillator = carrier.oscillator;
    const std::complex<double> mixed = double(sample) * std::conj(oscillator);
    // The envelope from the samples before this one only.
    const double count =
        double(std::max<std::size_t>(1, std::min(carrier.filled, EnvelopeSamples)));
    const std::complex<double> envelope = carrier.averagedSum / count;
    const auto cleaned = float(double(sample) - 2 * std::real(envelope * oscillator));

    std::complex<double> &oldMixed = carrier.mixed[carrier.ring];
    carrier.mixedSum += mixed - oldMixed;
    oldMixed = mixed;
    ++carrier.filled;
    const std::complex<double> mean =
        carrier.mixedSum / double(std::min(carrier.filled, EnvelopeSamples));
    std::complex<double> &oldAveraged = carrier.averaged[carrier.ring];
    carrier.averagedSum += mean - oldAveraged;
    oldAveraged = mean;
    carrier.ring = (carrier.ring + 1) % EnvelopeSamples;

    carrier.blockSum += mixed;
    if (++carrier.blockFilled == BlockSamples) {
        if (carrier.lastBlockSum != 0.0) {
            const double turn = std::arg(carrier.blockSum * std::conj(carrier.lastBlockSum));
            carrier.hz += FrequencyGain * turn / (TwoPi * double(BlockSamples) / InternalRate);
            carrier.hz = std::clamp(carrier.hz, carrier.foundHz - FarthestPullHz,
                                    carrier.foundHz + FarthestPullHz);
            carrier.turn = std::polar(1.0, TwoPi * carrier.hz / InternalRate);
        }
        carrier.oscillator /= std::abs(carrier.oscillator);
        carrier.lastBlockSum = carrier.blockSum;
        carrier.blockSum = 0.0;
        carrier.blockFilled = 0;
    }
    carrier.oscillator *= carrier.turn;
    return cleaned;
}

void CarrierCanceller::look()
{
    std::vector<double> quietest(SearchBins, std::numeric_limits<double>::max());
    std::vector<double> loudest(SearchBins, 0.0);
    for (std::size_t f = 0; f < LookFrames; ++f) {
        for (std::size_t b = 0; b < SearchBins; ++b) {
            const double power = m_powers[f * SearchBins + b];
            quietest[b] = std::min(quietest[b], power);
            loudest[b] = std::max(loudest[b], power);
        }
    }
    for (Carrier &carrier : m_carriers)
        ++carrier.missedLooks;
    for (const double hz : steadyCarriers(quietest, loudest)) {
        const auto same = std::find_if(m_carriers.begin(), m_carriers.end(), [&](const Carrier &c) {
            return std::abs(c.hz - hz) < SameCarrierHz;
        });
        if (same != m_carriers.end()) {
            same->missedLooks = 0;
            same->foundHz = hz;
            continue;
        }
        m_carriers.push_back(newCarrier(hz));
    }
    for (Carrier &carrier : m_carriers) {
        carrier.power = std::norm(carrier.averagedSum / double(EnvelopeSamples));
        carrier.loudest = std::max(carrier.loudest, carrier.power);
    }
    std::erase_if(m_carriers, [](const Carrier &carrier) {
        return carrier.missedLooks >= MissedLooksToDrop &&
               carrier.power < GoneShare * carrier.loudest;
    });
}

} // namespace tovrin3::morse
