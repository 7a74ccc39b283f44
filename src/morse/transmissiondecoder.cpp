// SPDX-License-Identifier: GPL-3.0-or-later
#include "transmissiondecoder.h"

#include "morsecode.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <mutex>
#include <numbers>
#include <vector>

namespace tovrin3::morse {

namespace {

using Complex = std::complex<float>;

constexpr double BasebandRate = InternalRate / Decimation;
constexpr float MinusInfinity = -std::numeric_limits<float>::infinity();
// A path through the spectra (scored in compressed power over the noise floor) may move one bin
// a frame for a small cost, so it follows a drift but does not wander off through the gaps; a
// jump elsewhere (the operator retuned) costs far more.
constexpr float PitchJumpCost = 15.0f;
constexpr float PitchMoveCost = 1.0f;
// Unit lengths in baseband samples: 40 down to 8 words per minute, with a margin.
constexpr double ShortestUnit = 6.5;
constexpr double LongestUnit = 40.0;
// Log-likelihood a generic character must beat; keeps noise from turning into letters.
constexpr float CharacterPenalty = 4.0f;
// What a frame whose header fits is worth over the same keying read character by character.
constexpr float FrameBonus = 20.0f;
constexpr int LetterGap = 3;
constexpr int WordGap = 7;
// Gaps from this many units on separate words.
constexpr int WordGapThreshold = 5;

// ---- Pitch track ---------------------------------------------------------------------------

// A locked pitch keeps the path this many bins around it.
constexpr int LockedReach = 4;

// The best path of bins through the spectra (Viterbi) on compressed powers: slow drift moves
// one bin per frame at most, a jump pays PitchJumpCost.
std::vector<int> pitchPath(std::span<const float> spectra, int frames, double lockedHz)
{
    int low = 0;
    int high = SearchBins - 1;
    if (lockedHz > 0) {
        const int centre = int(std::lround(lockedHz / BinHz)) - LowestBin;
        low = std::clamp(centre - LockedReach, 0, SearchBins - 1);
        high = std::clamp(centre + LockedReach, 0, SearchBins - 1);
    }
    std::vector<float> score(SearchBins, MinusInfinity);
    std::vector<float> next(SearchBins);
    std::vector<std::int16_t> from(std::size_t(frames) * SearchBins, 0);
    for (int b = low; b <= high; ++b)
        score[std::size_t(b)] = std::log1p(spectra[std::size_t(b)]);
    for (int f = 1; f < frames; ++f) {
        const auto best = std::max_element(score.begin(), score.end());
        const float jumpScore = lockedHz > 0 ? MinusInfinity : *best - PitchJumpCost;
        const auto jumpFrom = std::int16_t(best - score.begin());
        const float *row = spectra.data() + std::size_t(f) * SearchBins;
        std::int16_t *back = from.data() + std::size_t(f) * SearchBins;
        for (int b = 0; b < SearchBins; ++b) {
            if (b < low || b > high) {
                next[std::size_t(b)] = MinusInfinity;
                continue;
            }
            float value = score[std::size_t(b)];
            auto origin = std::int16_t(b);
            for (const int neighbour : {b - 1, b + 1}) {
                if (neighbour >= 0 && neighbour < SearchBins &&
                    score[std::size_t(neighbour)] - PitchMoveCost > value) {
                    value = score[std::size_t(neighbour)] - PitchMoveCost;
                    origin = std::int16_t(neighbour);
                }
            }
            if (jumpScore > value) {
                value = jumpScore;
                origin = jumpFrom;
            }
            next[std::size_t(b)] = value + std::log1p(row[b]);
            back[b] = origin;
        }
        std::swap(score, next);
    }
    std::vector<int> path(static_cast<std::size_t>(frames));
    int bin = int(std::max_element(score.begin(), score.end()) - score.begin());
    for (int f = frames - 1; f >= 0; --f) {
        path[std::size_t(f)] = bin;
        bin = from[std::size_t(f) * SearchBins + std::size_t(bin)];
    }
    return path;
}

// Power over the noise floor that counts as the carrier in a frame; noise alone rarely has it.
constexpr double KeyedPower = 4.0;

// Pitch in Hz per frame along the path: the peak interpolated between bins, averaged over
// nearby frames weighted by their keyed power, never across a jump.
std::vector<double> pitchTrack(std::span<const float> spectra, const std::vector<int> &path)
{
    const int frames = int(path.size());
    const auto power = [&](int f, int b) {
        return double(spectra[std::size_t(f) * SearchBins + std::size_t(b)]);
    };
    std::vector<double> raw(static_cast<std::size_t>(frames));
    std::vector<double> weight(static_cast<std::size_t>(frames));
    for (int f = 0; f < frames; ++f) {
        const int b = path[std::size_t(f)];
        double sums[3] = {0, 0, 0};
        for (int g = std::max(0, f - 2); g <= std::min(frames - 1, f + 2); ++g) {
            for (int d = -1; d <= 1; ++d)
                sums[d + 1] += power(g, std::clamp(b + d, 0, SearchBins - 1));
        }
        double offset = 0.0;
        if (b > 0 && b < SearchBins - 1) {
            const double a = std::log(sums[0] + 1e-9);
            const double c = std::log(sums[1] + 1e-9);
            const double e = std::log(sums[2] + 1e-9);
            const double curvature = a - 2 * c + e;
            if (curvature < 0)
                offset = std::clamp(0.5 * (a - e) / curvature, -0.5, 0.5);
        }
        raw[std::size_t(f)] = (LowestBin + b + offset) * BinHz;
        weight[std::size_t(f)] = std::max(power(f, b) - KeyedPower, 0.0);
    }
    std::vector<double> track(static_cast<std::size_t>(frames));
    constexpr int Reach = 8;
    for (int f = 0; f < frames; ++f) {
        double sum = 0.0;
        double total = 0.0;
        for (int g = std::max(0, f - Reach); g <= std::min(frames - 1, f + Reach); ++g) {
            if (std::abs(path[std::size_t(g)] - path[std::size_t(f)]) > 2)
                continue;
            sum += weight[std::size_t(g)] * raw[std::size_t(g)];
            total += weight[std::size_t(g)];
        }
        track[std::size_t(f)] = total > 0 ? sum / total : -1.0;
    }
    // Frames without keying nearby keep the pitch of the keying before them (or after, at the
    // start).
    const auto firstKeyed =
        std::find_if(track.begin(), track.end(), [](double hz) { return hz > 0; });
    if (firstKeyed == track.end())
        return raw;
    std::fill(track.begin(), firstKeyed, *firstKeyed);
    for (std::size_t f = 1; f < track.size(); ++f) {
        if (track[f] < 0)
            track[f] = track[f - 1];
    }
    return track;
}

// ---- Baseband --------------------------------------------------------------------------------

// Mixes the block down along the pitch track and keeps one sample per Decimation input samples,
// each a triangle-weighted sum over twice that span (other carriers in the passband stay out).
// Baseband sample k is centred on input sample Decimation * (k + 1).
std::vector<Complex> mixDown(std::span<const float> samples, const std::vector<double> &track,
                             int firstFrameOffset)
{
    const std::size_t count = samples.size() / Decimation;
    std::vector<std::complex<double>> sums(count + 1, 0.0);
    const auto frequencyAt = [&](double sample) {
        const double position = (sample - firstFrameOffset - FftSize / 2.0) / FrameHop;
        if (position <= 0)
            return track.front();
        const auto index = std::size_t(position);
        if (index + 1 >= track.size())
            return track.back();
        const double fraction = position - double(index);
        return track[index] * (1 - fraction) + track[index + 1] * fraction;
    };
    double phase = 0.0;
    for (std::size_t k = 0; k < count; ++k) {
        const double start = double(k * Decimation);
        const double step =
            2 * std::numbers::pi * frequencyAt(start + Decimation / 2.0) / InternalRate;
        std::complex<double> rotor = std::polar(1.0, -phase);
        const std::complex<double> turn = std::polar(1.0, -step);
        const float *x = samples.data() + k * Decimation;
        std::complex<double> rising = 0.0;
        std::complex<double> falling = 0.0;
        for (int n = 0; n < Decimation; ++n) {
            const std::complex<double> mixed = double(x[n]) * rotor;
            rising += (n + 0.5) * mixed;
            falling += (Decimation - n - 0.5) * mixed;
            rotor *= turn;
        }
        sums[k] += rising;
        if (k > 0)
            sums[k - 1] += falling;
        phase = std::fmod(phase + step * Decimation, 2 * std::numbers::pi);
    }
    std::vector<Complex> baseband(count == 0 ? 0 : count - 1);
    for (std::size_t k = 0; k < baseband.size(); ++k)
        baseband[k] =
            Complex(float(sums[k].real() / Decimation), float(sums[k].imag() / Decimation));
    return baseband;
}

// Energy after a short moving sum, which a residual frequency offset lowers.
double shortSumEnergy(std::span<const Complex> baseband, double offsetHz)
{
    constexpr int Length = 10;
    const std::complex<double> turn =
        std::polar(1.0, -2 * std::numbers::pi * offsetHz / BasebandRate);
    std::complex<double> rotor = 1.0;
    std::vector<std::complex<double>> shifted(baseband.size());
    for (std::size_t k = 0; k < baseband.size(); ++k) {
        shifted[k] = std::complex<double>(baseband[k]) * rotor;
        rotor *= turn;
    }
    std::complex<double> window = 0.0;
    double energy = 0.0;
    for (std::size_t k = 0; k < shifted.size(); ++k) {
        window += shifted[k];
        if (k >= Length)
            window -= shifted[k - Length];
        energy += std::norm(window);
    }
    return energy;
}

// Removes what is left of the pitch error after the bin interpolation.
double refineFrequency(std::vector<Complex> &baseband)
{
    double bestOffset = 0.0;
    double bestEnergy = -1.0;
    for (double offset = -4.0; offset <= 4.0; offset += 0.5) {
        const double energy = shortSumEnergy(baseband, offset);
        if (energy > bestEnergy) {
            bestEnergy = energy;
            bestOffset = offset;
        }
    }
    const std::complex<double> turn =
        std::polar(1.0, -2 * std::numbers::pi * bestOffset / BasebandRate);
    std::complex<double> rotor = 1.0;
    for (Complex &value : baseband) {
        value = Complex(std::complex<double>(value) * rotor);
        rotor *= turn;
    }
    return bestOffset;
}

// ---- Unit grid ---------------------------------------------------------------------------------

constexpr int EdgeSmoothing = 4;

struct UnitGrid
{
    double unit = 0.0;  // baseband samples
    double phase = 0.0; // start of slot 0, baseband samples
};

// Running sums of the baseband, read between samples by linear interpolation.
class CumulativeSum
{
public:
    explicit CumulativeSum(std::span<const Complex> baseband) : m_sums(baseband.size() + 1)
    {
        std::complex<double> sum = 0.0;
        for (std::size_t k = 0; k < baseband.size(); ++k) {
            sum += std::complex<double>(baseband[k]);
            m_sums[k + 1] = sum;
        }
    }
    double length() const { return double(m_sums.size() - 1); }
    std::complex<double> at(double t) const
    {
        const auto index = std::size_t(t);
        if (index + 1 >= m_sums.size())
            return m_sums.back();
        const double fraction = t - double(index);
        return m_sums[index] + (m_sums[index + 1] - m_sums[index]) * fraction;
    }

private:
    std::vector<std::complex<double>> m_sums;
};

// Keying energy captured by whole slots; largest when the slots sit on the keying.
double gridEnergy(const CumulativeSum &sums, double unit, double phase)
{
    double energy = 0.0;
    std::complex<double> previous = sums.at(phase);
    for (double t = phase + unit; t <= sums.length(); t += unit) {
        const std::complex<double> current = sums.at(t);
        energy += std::norm(current - previous);
        previous = current;
    }
    return energy;
}

// The grid of the edge signal's periodicity at an FFT peak: interpolated unit, and the phase
// where the slots start.
UnitGrid gridAt(std::span<const Complex> spectrum, std::span<const float> edges, std::size_t peak,
                std::size_t count)
{
    const double a = double(std::abs(spectrum[peak - 1]));
    const double b = double(std::abs(spectrum[peak]));
    const double c = double(std::abs(spectrum[peak + 1]));
    const double curvature = a - 2 * b + c;
    const double offset = curvature < 0 ? std::clamp(0.5 * (a - c) / curvature, -0.5, 0.5) : 0.0;
    const auto size = double(edges.size());
    const double frequency = (double(peak) + offset) / size; // cycles per baseband sample
    UnitGrid grid;
    grid.unit = 1.0 / frequency;
    std::complex<double> sum = 0.0;
    for (std::size_t k = 0; k < count; ++k)
        sum += double(edges[k]) * std::polar(1.0, -2 * std::numbers::pi * frequency * double(k));
    // The edge signal peaks EdgeSmoothing/2 samples after an edge.
    double phase = -std::arg(sum) / (2 * std::numbers::pi) * grid.unit - EdgeSmoothing / 2.0 + 0.5;
    phase = std::fmod(phase, grid.unit);
    grid.phase = phase < 0 ? phase + grid.unit : phase;
    return grid;
}

// The keying edges repeat at multiples of the unit: the strongest periodicity of an edge signal
// gives the unit, its phase where the slots start.
std::vector<UnitGrid> coarseGrids(std::span<const Complex> baseband)
{
    constexpr int Smoothing = EdgeSmoothing;
    const std::size_t count = baseband.size();
    if (count < 8 * std::size_t(LongestUnit))
        return {};
    std::vector<double> envelope(count, 0.0);
    Complex window = 0.0f;
    for (std::size_t k = 0; k < count; ++k) {
        window += baseband[k];
        if (k >= Smoothing)
            window -= baseband[k - Smoothing];
        envelope[k] = std::abs(window);
    }
    int size = 1;
    while (size < int(4 * count))
        size *= 2;
    std::vector<float> edges(std::size_t(size), 0.0f);
    double mean = 0.0;
    for (std::size_t k = Smoothing; k < count; ++k) {
        edges[k] = float(std::abs(envelope[k] - envelope[k - Smoothing]));
        mean += edges[k];
    }
    mean /= double(count);
    for (std::size_t k = Smoothing; k < count; ++k)
        edges[k] -= float(mean);

    std::vector<Complex> spectrum(std::size_t(size / 2 + 1));
    fftwf_plan plan;
    {
        const std::lock_guard lock(fftwPlanning());
        plan = fftwf_plan_dft_r2c_1d(
            size, edges.data(), reinterpret_cast<fftwf_complex *>(spectrum.data()), FFTW_ESTIMATE);
    }
    fftwf_execute(plan);
    {
        const std::lock_guard lock(fftwPlanning());
        fftwf_destroy_plan(plan);
    }
    // Each magnitude over the mean of its neighbourhood, since the noise of an edge signal is
    // far from white.
    const auto low = std::size_t(std::floor(size / LongestUnit));
    const auto high = std::min(std::size_t(std::ceil(size / ShortestUnit)), spectrum.size() - 2);
    std::vector<double> prefix(spectrum.size() + 1, 0.0);
    for (std::size_t i = 0; i < spectrum.size(); ++i)
        prefix[i + 1] = prefix[i] + double(std::abs(spectrum[i]));
    const auto whitened = [&](std::size_t i) {
        const std::size_t reach = i / 10 + 8;
        const std::size_t from = i > reach ? i - reach : 0;
        const std::size_t to = std::min(spectrum.size(), i + reach + 1);
        const double around =
            prefix[to] - prefix[from] - (prefix[std::min(to, i + 4)] - prefix[i > 3 ? i - 3 : 0]);
        const double bins = double(to - from) - double(std::min(to, i + 4) - (i > 3 ? i - 3 : 0));
        return double(std::abs(spectrum[i])) / std::max(around / bins, 1e-30);
    };
    std::vector<double> white(spectrum.size(), 0.0);
    for (std::size_t i = 1; i < spectrum.size(); ++i)
        white[i] = whitened(i);
    // Sharp keying shows many harmonics of the unit frequency: sum a few of them.
    constexpr std::size_t Harmonics = 5;
    std::size_t peak = low;
    double peakValue = 0.0;
    for (std::size_t i = low; i <= high; ++i) {
        double value = 0.0;
        for (std::size_t h = 1; h <= Harmonics && h * i < white.size(); ++h)
            value += white[h * i];
        if (value > peakValue) {
            peakValue = value;
            peak = i;
        }
    }
    // The keying envelope itself puts power at half the unit frequency, and slow keying may show
    // a harmonic strongest, a short one its subharmonic: simple ratios are candidates too, and the
    // slot energies decide, longest unit first.
    std::vector<UnitGrid> grids;
    for (const double multiple : {0.25, 1.0 / 3, 0.5, 1.0, 2.0, 3.0, 4.0}) {
        const auto centre = std::size_t(std::lround(double(peak) * multiple));
        if (centre <= 1 || centre + 1 >= spectrum.size())
            continue;
        std::size_t candidate = centre;
        for (std::size_t i = centre - 1; i <= centre + 1; ++i) {
            if (std::abs(spectrum[i]) > std::abs(spectrum[candidate]))
                candidate = i;
        }
        const UnitGrid grid = gridAt(spectrum, edges, candidate, count);
        if (grid.unit >= ShortestUnit && grid.unit <= 2 * LongestUnit)
            grids.push_back(grid);
    }
    return grids;
}

// Searches unit and phase around the coarse grid for the most keying energy in whole slots.
UnitGrid refineGrid(const CumulativeSum &sums, UnitGrid grid)
{
    UnitGrid best = grid;
    double bestEnergy = gridEnergy(sums, grid.unit, grid.phase);
    const auto search = [&](double unitSpan, int unitSteps, double phaseSpan, int phaseSteps) {
        const UnitGrid centre = best;
        for (int i = -unitSteps; i <= unitSteps; ++i) {
            const double unit = centre.unit * (1 + unitSpan * i / unitSteps);
            for (int j = -phaseSteps; j <= phaseSteps; ++j) {
                double phase = centre.phase + phaseSpan * unit * j / phaseSteps;
                if (phase < 0)
                    phase += unit;
                const double energy = gridEnergy(sums, unit, phase);
                if (energy > bestEnergy) {
                    bestEnergy = energy;
                    best = {unit, phase};
                }
            }
        }
    };
    search(0.003, 10, 0.5, 8);
    search(0.0006, 6, 0.08, 4);
    return best;
}

// Noise energy per baseband sample, from the quieter samples (exponential in noise alone).
double basebandNoise(std::span<const Complex> baseband)
{
    std::vector<float> energy(baseband.size());
    std::transform(baseband.begin(), baseband.end(), energy.begin(),
                   [](Complex value) { return std::norm(value); });
    const auto quantile = energy.begin() + std::ptrdiff_t(energy.size() * 3 / 10);
    std::nth_element(energy.begin(), quantile, energy.end());
    return double(*quantile) / 0.3567;
}

// ---- Slot likelihoods ---------------------------------------------------------------------

constexpr double LevelReachSeconds = 1.0;

double logBesselI0(double x)
{
    if (x < 50)
        return std::log(std::cyl_bessel_i(0.0, x));
    return x - 0.5 * std::log(2 * std::numbers::pi * x) + std::log1p(1 / (8 * x));
}

struct SlotLikelihoods
{
    std::vector<float> keyed;   // log-likelihood ratio keyed over unkeyed, per slot
    double signalToNoise = 0.0; // keyed slot energy over noise, whole block
};

SlotLikelihoods slotLikelihoods(const CumulativeSum &sums, const UnitGrid &grid)
{
    std::vector<double> energy;
    std::vector<double> magnitude;
    std::complex<double> previous = sums.at(grid.phase);
    for (double t = grid.phase + grid.unit; t <= sums.length(); t += grid.unit) {
        const std::complex<double> current = sums.at(t);
        energy.push_back(std::norm(current - previous));
        magnitude.push_back(std::abs(current - previous));
        previous = current;
    }
    const std::size_t count = energy.size();
    SlotLikelihoods result;
    result.keyed.assign(count, 0.0f);
    if (count < 10)
        return result;

    // Noise from the low part of the slot energies (exponential in noise alone).
    std::vector<double> sorted = energy;
    const auto quantile = sorted.begin() + std::ptrdiff_t(count * 3 / 10);
    std::nth_element(sorted.begin(), quantile, sorted.end());
    // A noiseless signal still gets finite likelihoods.
    const double loudest = *std::max_element(energy.begin(), energy.end());
    const double noise = std::max(*quantile / 0.3567, 1e-6 * loudest + 1e-30);

    std::vector<char> keyed(count);
    for (std::size_t i = 0; i < count; ++i)
        keyed[i] = energy[i] > 5 * noise;
    std::vector<double> level(count);
    // The keyed level is followed over about a second either side, quick enough for slow fading.
    const auto reach =
        std::max<std::ptrdiff_t>(8, std::lround(LevelReachSeconds * BasebandRate / grid.unit));
    for (int pass = 0; pass < 2; ++pass) {
        double globalSum = 0.0;
        std::size_t globalCount = 0;
        std::vector<double> prefixSum(count + 1, 0.0);
        std::vector<double> prefixCount(count + 1, 0.0);
        for (std::size_t i = 0; i < count; ++i) {
            const double e = keyed[i] ? energy[i] : 0.0;
            prefixSum[i + 1] = prefixSum[i] + e;
            prefixCount[i + 1] = prefixCount[i] + (keyed[i] ? 1 : 0);
            globalSum += e;
            globalCount += keyed[i] ? 1 : 0;
        }
        const double globalLevel = globalCount > 0 ? globalSum / double(globalCount) : 2 * noise;
        for (std::size_t i = 0; i < count; ++i) {
            const auto from = std::size_t(std::max<std::ptrdiff_t>(0, std::ptrdiff_t(i) - reach));
            const std::size_t to = std::min(count, i + std::size_t(reach) + 1);
            const double n = prefixCount[to] - prefixCount[from];
            const double mean = n >= 4 ? (prefixSum[to] - prefixSum[from]) / n : globalLevel;
            level[i] = std::sqrt(std::max(mean - noise, noise));
        }
        for (std::size_t i = 0; i < count; ++i) {
            const double a = level[i];
            const double llr = logBesselI0(2 * a * magnitude[i] / noise) - a * a / noise;
            result.keyed[i] = float(llr);
            keyed[i] = llr > 0;
        }
        result.signalToNoise = std::max(globalLevel - noise, 0.0) / noise;
    }
    return result;
}

// ---- Decisions over the slots ---------------------------------------------------------------

struct KeyingTemplate
{
    QString text;
    std::vector<std::pair<int, int>> runs; // start and length of each key-down, in units
    int length = 0;
};

KeyingTemplate keyingOf(std::string_view elements, QString text)
{
    KeyingTemplate result{std::move(text), {}, 0};
    for (const char element : elements) {
        if (result.length > 0)
            result.length += 1;
        const int run = element == '-' ? 3 : 1;
        result.runs.emplace_back(result.length, run);
        result.length += run;
    }
    return result;
}

KeyingTemplate headerTemplate()
{
    KeyingTemplate result{
        QString::fromLatin1(BeaconHeader.data(), qsizetype(BeaconHeader.size())), {}, 0};
    for (const char character : BeaconHeader) {
        if (result.length > 0)
            result.length += LetterGap;
        const KeyingTemplate letter = keyingOf(morseElements(QLatin1Char(character)), {});
        for (const auto &[start, run] : letter.runs)
            result.runs.emplace_back(result.length + start, run);
        result.length += letter.length;
    }
    return result;
}

struct Templates
{
    std::vector<KeyingTemplate> alphabet;
    std::vector<KeyingTemplate> hexadecimal;
    KeyingTemplate header;
    int headerKeyedUnits = 0;
};

const Templates &templates()
{
    static const Templates all = [] {
        Templates result;
        for (const MorseSymbol &symbol : morseAlphabet()) {
            result.alphabet.push_back(
                keyingOf(symbol.elements, QString(QLatin1Char(symbol.character))));
            const bool hex = (symbol.character >= '0' && symbol.character <= '9') ||
                             (symbol.character >= 'A' && symbol.character <= 'F');
            if (hex)
                result.hexadecimal.push_back(result.alphabet.back());
        }
        result.header = headerTemplate();
        for (const auto &run : result.header.runs)
            result.headerKeyedUnits += run.second;
        return result;
    }();
    return all;
}

class SlotScores
{
public:
    explicit SlotScores(const std::vector<float> &keyed) : m_prefix(keyed.size() + 1, 0.0)
    {
        for (std::size_t i = 0; i < keyed.size(); ++i)
            m_prefix[i + 1] = m_prefix[i] + keyed[i];
    }
    int count() const { return int(m_prefix.size()) - 1; }
    // Score of a template placed at `start`; MinusInfinity where it runs off the end.
    float score(const KeyingTemplate &keying, int start) const
    {
        if (start + keying.length > count())
            return MinusInfinity;
        double sum = 0.0;
        for (const auto &[offset, run] : keying.runs)
            sum +=
                m_prefix[std::size_t(start + offset + run)] - m_prefix[std::size_t(start + offset)];
        return float(sum);
    }

private:
    std::vector<double> m_prefix;
};

struct Token
{
    int start = 0;
    int end = 0; // after the last key-down
    QString text;
};

// The most likely nine groups of two hexadecimal digits from `start` on, word gaps between the
// groups and letter gaps inside them.
bool bestFrameBody(const SlotScores &scores, int start, float &score, Token &token)
{
    const auto &digits = templates().hexadecimal;
    const int limit = scores.count();
    if (start >= limit)
        return false;
    struct Cell
    {
        float score = MinusInfinity;
        int previous = -1;
        int digit = -1;
    };
    const int span = limit - start + 1;
    std::vector<std::vector<Cell>> cells(BeaconDigits + 1, std::vector<Cell>(std::size_t(span)));
    cells[0][0].score = 0.0f;
    // Position k holds where digit k may start.
    for (int k = 0; k < BeaconDigits; ++k) {
        const int gap = k == BeaconDigits - 1 ? 0 : (k % 2 == 0 ? LetterGap : WordGap);
        for (int x = 0; x < span; ++x) {
            const Cell &cell = cells[std::size_t(k)][std::size_t(x)];
            if (cell.score == MinusInfinity)
                continue;
            for (std::size_t d = 0; d < digits.size(); ++d) {
                const float s = scores.score(digits[d], start + x);
                if (s == MinusInfinity)
                    continue;
                const int y = x + digits[d].length + gap;
                if (y >= span)
                    continue;
                Cell &target = cells[std::size_t(k + 1)][std::size_t(y)];
                if (cell.score + s > target.score)
                    target = {cell.score + s, x, int(d)};
            }
        }
    }
    const auto &last = cells[BeaconDigits];
    const auto end = std::max_element(
        last.begin(), last.end(), [](const Cell &a, const Cell &b) { return a.score < b.score; });
    if (end->score == MinusInfinity)
        return false;
    score = end->score;
    QString text;
    int x = int(end - last.begin());
    token.end = start + x;
    for (int k = BeaconDigits; k > 0; --k) {
        const Cell &cell = cells[std::size_t(k)][std::size_t(x)];
        text.prepend(digits[std::size_t(cell.digit)].text);
        if (k % 2 == 1 && k > 1)
            text.prepend(QLatin1Char(' '));
        x = cell.previous;
    }
    token.text = text;
    return true;
}

struct FrameCandidate
{
    int start;
    float score;
    Token token;
};

// Frames whose header fits strongly enough, with their best bodies.
std::vector<FrameCandidate> frameCandidates(const SlotScores &scores, double signalToNoise)
{
    const KeyingTemplate &header = templates().header;
    const int last = scores.count() - header.length;
    std::vector<float> fit(std::size_t(std::max(last + 1, 0)));
    for (int p = 0; p <= last; ++p)
        fit[std::size_t(p)] = scores.score(header, p);
    const float needed =
        float(std::max(30.0, 0.3 * templates().headerKeyedUnits * std::max(signalToNoise, 1.0)));
    std::vector<FrameCandidate> candidates;
    for (int p = 0; p <= last; ++p) {
        const float value = fit[std::size_t(p)];
        if (value < needed)
            continue;
        const int from = std::max(0, p - header.length / 2);
        const int to = std::min(last, p + header.length / 2);
        if (*std::max_element(fit.begin() + from, fit.begin() + to + 1) > value)
            continue;
        float body = 0.0f;
        Token token;
        if (!bestFrameBody(scores, p + header.length + WordGap, body, token))
            continue;
        token.start = p;
        token.text = header.text + QLatin1Char(' ') + token.text;
        candidates.push_back({p, value + body, token});
    }
    return candidates;
}

// Dynamic programme over the slots: characters of the alphabet or whole frames, at least a
// letter gap after each, any number of unkeyed slots between.
std::vector<Token> bestTokens(const SlotScores &scores, const std::vector<FrameCandidate> &frames)
{
    const int count = scores.count();
    const int end = count + WordGap + 1;
    struct Cell
    {
        float score = MinusInfinity;
        int previous = -1;
        int choice = -1; // -1: an unkeyed slot; below the alphabet's size: a character
    };
    std::vector<Cell> cells(std::size_t(end + 1));
    cells[0].score = 0.0f;
    const auto &alphabet = templates().alphabet;
    const int alphabetSize = int(alphabet.size());
    std::vector<int> frameAt(std::size_t(count + 1), -1);
    for (std::size_t f = 0; f < frames.size(); ++f)
        frameAt[std::size_t(frames[f].start)] = int(f);
    for (int p = 0; p < end; ++p) {
        const Cell cell = cells[std::size_t(p)];
        if (cell.score == MinusInfinity)
            continue;
        if (cell.score > cells[std::size_t(p + 1)].score)
            cells[std::size_t(p + 1)] = {cell.score, p, -1};
        if (p >= count)
            continue;
        for (int c = 0; c < alphabetSize; ++c) {
            const float s = scores.score(alphabet[std::size_t(c)], p);
            if (s == MinusInfinity)
                continue;
            const int next = std::min(end, p + alphabet[std::size_t(c)].length + LetterGap);
            const float total = cell.score + s - CharacterPenalty;
            if (total > cells[std::size_t(next)].score)
                cells[std::size_t(next)] = {total, p, c};
        }
        if (const int f = frameAt[std::size_t(p)]; f >= 0) {
            const FrameCandidate &frame = frames[std::size_t(f)];
            const int next = std::min(end, frame.token.end + LetterGap);
            const float total = cell.score + frame.score + FrameBonus;
            if (total > cells[std::size_t(next)].score)
                cells[std::size_t(next)] = {total, p, alphabetSize + f};
        }
    }
    std::vector<Token> tokens;
    for (int p = end; p > 0;) {
        const Cell &cell = cells[std::size_t(p)];
        if (cell.choice >= alphabetSize) {
            tokens.push_back(frames[std::size_t(cell.choice - alphabetSize)].token);
        } else if (cell.choice >= 0) {
            const KeyingTemplate &keying = alphabet[std::size_t(cell.choice)];
            tokens.push_back({cell.previous, cell.previous + keying.length, keying.text});
        }
        p = cell.previous;
    }
    std::reverse(tokens.begin(), tokens.end());
    return tokens;
}

QString joinTokens(const std::vector<Token> &tokens)
{
    QString text;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (i > 0 && tokens[i].start - tokens[i - 1].end >= WordGapThreshold)
            text += QLatin1Char(' ');
        text += tokens[i].text;
    }
    return text;
}

} // namespace

DecodedTransmission decodeTransmission(const TransmissionBlock &block)
{
    DecodedTransmission result;
    const int frames = int(block.spectra.size() / SearchBins);
    if (frames < 4)
        return result;
    const std::vector<int> path = pitchPath(block.spectra, frames, block.lockedPitchHz);
    const std::vector<double> track = pitchTrack(block.spectra, path);
    std::vector<Complex> baseband = mixDown(block.samples, track, block.firstFrameOffset);
    const double offset = refineFrequency(baseband);
    result.pitchHz = track.back() + offset;

    const CumulativeSum sums(baseband);
    UnitGrid grid;
    double bestKeying = 0.0;
    const double noise = basebandNoise(baseband);
    // Longest unit first: half the unit captures the same keyed energy, so a shorter unit must
    // capture clearly more.
    for (const UnitGrid &candidate : coarseGrids(baseband)) {
        const UnitGrid refined = refineGrid(sums, candidate);
        // Slot energy per sample less the noise every slot brings: the keyed energy captured.
        const double keying =
            (gridEnergy(sums, refined.unit, refined.phase) - sums.length() * noise) / refined.unit;
        const bool better = grid.unit == 0.0 || keying > bestKeying + 0.15 * std::abs(bestKeying);
        if (better && refined.unit <= LongestUnit && refined.unit >= ShortestUnit) {
            bestKeying = keying;
            grid = refined;
        }
    }
    if (grid.unit == 0.0)
        return result;
    result.wordsPerMinute = 1.2 / (grid.unit / BasebandRate);

    const SlotLikelihoods likelihoods = slotLikelihoods(sums, grid);
    const SlotScores scores(likelihoods.keyed);
    const std::vector<FrameCandidate> frameList =
        frameCandidates(scores, likelihoods.signalToNoise);
    const std::vector<Token> tokens = bestTokens(scores, frameList);
    if (tokens.empty())
        return result;
    result.text = joinTokens(tokens);
    // Slot boundaries fall between baseband samples, half a sample before a sample's centre.
    result.firstElementSample =
        (grid.phase + tokens.front().start * grid.unit) * Decimation + Decimation / 2.0;
    const bool framed = std::any_of(frameList.begin(), frameList.end(), [&](const auto &frame) {
        return result.text.contains(frame.token.text);
    });
    result.heard = framed || likelihoods.signalToNoise >= 8.0;
    return result;
}

} // namespace tovrin3::morse
