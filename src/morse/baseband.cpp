// SPDX-License-Identifier: GPL-3.0-or-later
#include "baseband.h"

#include "bandanalysis.h"
#include "fftwplanning.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tovrin3::morse {

namespace {

// Baseband samples in the moving sum that judges a residual frequency: 120 ms, a dash at 30 WPM,
// so it holds most elements whole and a residual of a hertz costs it 5 % of their energy; a
// shorter sum hardly tells residuals a few hertz apart, and leaves a weak signal's phase turning
// within its characters.
constexpr std::size_t CoherenceLength = 30;
// The residual search: +-4 Hz (a quarter bin, what the interpolation may miss) in 0.5 Hz steps,
// the best step refined between its neighbours by a parabola.
constexpr double ResidualReachHz = 4.0;
constexpr double ResidualStepHz = 0.5;
// Baseband samples in the moving sum that judges a track: 240 ms, a dash at 15 WPM, so the sum
// holds whole elements and their phase. A carrier 1 Hz off its track turns 1.5 rad over it and
// gives 17 % less energy.
constexpr std::size_t ElementCoherenceLength = 60;
// Baseband samples the edge signal's envelope is smoothed over: about a dot at 40 WPM.
constexpr int EdgeSmoothing = 4;
// The shortest baseband whose keying is worth timing: eight of the longest units, one slow
// letter.
constexpr std::size_t FewestGridSamples = 8 * std::size_t(LongestUnit);
// Harmonics of the unit frequency summed: sharp keying shows many.
constexpr std::size_t Harmonics = 5;
// A shorter unit must capture this much more keyed energy than the longest: half the unit
// captures the same energy, so only a clear gain means the keying is really faster.
constexpr double ShorterUnitGain = 0.15;
// The 30 % quantile of an exponential variable is -ln(0.7) = 0.3567 times its mean; a quantile
// this low lies below most keyed samples.
constexpr double NoiseQuantile = 0.3;
constexpr double ExponentialAtNoiseQuantile = 0.3567;

// The energy of the moving sums of `length` samples over the baseband turned down by offsetHz.
double movingSumEnergy(std::span<const Complex> baseband, double offsetHz, std::size_t length)
{
    const std::complex<double> turn =
        std::polar(1.0, -2 * std::numbers::pi * offsetHz / BasebandRate);
    std::complex<double> rotor = 1.0;   // the turn at sample k
    std::complex<double> lagging = 1.0; // and at sample k - length, leaving the sum
    std::complex<double> window = 0.0;
    double energy = 0.0;
    for (std::size_t k = 0; k < baseband.size(); ++k) {
        window += std::complex<double>(baseband[k]) * rotor;
        rotor *= turn;
        if (k >= length) {
            window -= std::complex<double>(baseband[k - length]) * lagging;
            lagging *= turn;
        }
        energy += std::norm(window);
    }
    return energy;
}

// The grid of the edge signal's periodicity at an FFT peak: interpolated unit, and the phase
// where the slots start.
UnitGrid gridAt(std::span<const Complex> spectrum, std::span<const float> edges, std::size_t peak,
                std::size_t count)
{
    const double offset =
        parabolicPeakOffset(double(std::abs(spectrum[peak - 1])), double(std::abs(spectrum[peak])),
                            double(std::abs(spectrum[peak + 1])));
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
    const std::size_t count = baseband.size();
    std::vector<double> envelope(count, 0.0);
    Complex window = 0.0f;
    for (std::size_t k = 0; k < count; ++k) {
        window += baseband[k];
        if (k >= EdgeSmoothing)
            window -= baseband[k - EdgeSmoothing];
        envelope[k] = std::abs(window);
    }
    int size = 1;
    while (size < int(4 * count))
        size *= 2;
    std::vector<float> edges(std::size_t(size), 0.0f);
    double mean = 0.0;
    for (std::size_t k = EdgeSmoothing; k < count; ++k) {
        edges[k] = float(std::abs(envelope[k] - envelope[k - EdgeSmoothing]));
        mean += edges[k];
    }
    mean /= double(count);
    for (std::size_t k = EdgeSmoothing; k < count; ++k)
        edges[k] -= float(mean);

    RealFft fft(size);
    std::copy(edges.begin(), edges.end(), fft.input().begin());
    fft.execute();
    const std::vector<Complex> spectrum(fft.output().begin(), fft.output().end());
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

// The low-pass before keeping every Decimation-th sample: a Hann-windowed sinc over 2 *
// Decimation samples either side (8 ms at 8 kHz, a quarter of a dot at 40 words per minute),
// half amplitude at 100 Hz, so a 40 WPM dot's spectrum (about 35 Hz either side) passes and the
// band past 200 Hz, which would fold into the 250 Hz baseband, stays 45 dB or more under it: a
// carrier 400 Hz away and 30 dB over the beacon then lies well under the beacon's keying.
constexpr int LowPassHalfTaps = 2 * Decimation;
constexpr double LowPassCutoffHz = 100.0;

// That first low-pass passes a carrier 100 Hz away at half amplitude and one 150 Hz away
// folded to -100 Hz at -17 dB: 20 dB over the beacon, either would swamp its keying. So the
// baseband is low-passed once more at its own rate: a Hann-windowed sinc over 32 ms either side,
// half amplitude at 55 Hz, which keeps 95 % of a 40 WPM dot's sum in its slot (under 0.5 dB)
// and, with the first, puts carriers 100 to 175 Hz away 60 dB or more under their level and one
// 75 Hz away 39 dB under.
constexpr int NarrowHalfTaps = 8;
constexpr double NarrowCutoffHz = 55.0;

// A Hann-windowed sinc of half amplitude at cutoffHz over halfTaps samples either side, its taps
// summing to gain.
std::vector<float> lowPassTaps(double rate, double cutoffHz, int halfTaps, double gain)
{
    std::vector<double> taps(std::size_t(2 * halfTaps + 1));
    double sum = 0.0;
    for (int j = -halfTaps; j <= halfTaps; ++j) {
        const double x = 2 * cutoffHz / rate * j;
        const double sinc = j == 0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
        const double hann = 0.5 + 0.5 * std::cos(std::numbers::pi * j / (halfTaps + 1));
        taps[std::size_t(j + halfTaps)] = sinc * hann;
        sum += sinc * hann;
    }
    std::vector<float> scaled(taps.size());
    for (std::size_t i = 0; i < taps.size(); ++i)
        scaled[i] = float(taps[i] * gain / sum);
    return scaled;
}

// The taps over the samples around each centre, cut short at either end.
template<typename Input>
Complex filteredAt(std::span<const Input> input, const std::vector<float> &taps,
                   std::ptrdiff_t centre)
{
    const auto halfTaps = std::ptrdiff_t(taps.size() / 2);
    const std::ptrdiff_t from = std::max<std::ptrdiff_t>(centre - halfTaps, 0);
    const std::ptrdiff_t to =
        std::min<std::ptrdiff_t>(centre + halfTaps + 1, std::ptrdiff_t(input.size()));
    Complex sum = 0.0f;
    for (std::ptrdiff_t n = from; n < to; ++n)
        sum += taps[std::size_t(n - centre + halfTaps)] * input[std::size_t(n)];
    return sum;
}

} // namespace

std::vector<Complex> mixDown(std::span<const float> samples, const std::vector<double> &track,
                             int firstFrameOffset)
{
    const std::size_t count = samples.size() / Decimation;
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
    // Mixed down along the track, the frequency held over each stretch of Decimation samples.
    std::vector<std::complex<float>> mixed(count * Decimation);
    double phase = 0.0;
    for (std::size_t k = 0; k < count; ++k) {
        const double start = double(k * Decimation);
        const double step =
            2 * std::numbers::pi * frequencyAt(start + Decimation / 2.0) / InternalRate;
        std::complex<double> rotor = std::polar(1.0, -phase);
        const std::complex<double> turn = std::polar(1.0, -step);
        for (std::size_t n = k * Decimation; n < (k + 1) * Decimation; ++n) {
            mixed[n] = std::complex<float>(double(samples[n]) * rotor);
            rotor *= turn;
        }
        phase = std::fmod(phase + step * Decimation, 2 * std::numbers::pi);
    }
    // Taps summing to Decimation, so a carrier on the track keeps its magnitude Decimation * A / 2.
    static const std::vector<float> taps =
        lowPassTaps(InternalRate, LowPassCutoffHz, LowPassHalfTaps, Decimation);
    static const std::vector<float> narrowTaps =
        lowPassTaps(BasebandRate, NarrowCutoffHz, NarrowHalfTaps, 1.0);
    std::vector<Complex> decimated(count == 0 ? 0 : count - 1);
    for (std::size_t k = 0; k < decimated.size(); ++k)
        decimated[k] = filteredAt<Complex>(mixed, taps, std::ptrdiff_t((k + 1) * Decimation));
    std::vector<Complex> baseband(decimated.size());
    for (std::size_t k = 0; k < baseband.size(); ++k)
        baseband[k] = filteredAt<Complex>(decimated, narrowTaps, std::ptrdiff_t(k));
    return baseband;
}

double refineFrequency(std::vector<Complex> &baseband)
{
    const int steps = int(std::lround(2 * ResidualReachHz / ResidualStepHz)) + 1;
    std::vector<double> energies(std::size_t(steps), 0.0);
    for (int i = 0; i < steps; ++i)
        energies[std::size_t(i)] =
            movingSumEnergy(baseband, -ResidualReachHz + i * ResidualStepHz, CoherenceLength);
    const auto best =
        std::size_t(std::max_element(energies.begin(), energies.end()) - energies.begin());
    double bestOffset = -ResidualReachHz + double(best) * ResidualStepHz;
    if (best > 0 && best + 1 < energies.size())
        bestOffset += ResidualStepHz *
                      parabolicPeakOffset(energies[best - 1], energies[best], energies[best + 1]);
    const std::complex<double> turn =
        std::polar(1.0, -2 * std::numbers::pi * bestOffset / BasebandRate);
    std::complex<double> rotor = 1.0;
    for (Complex &value : baseband) {
        value = Complex(std::complex<double>(value) * rotor);
        rotor *= turn;
    }
    return bestOffset;
}

double coherentEnergy(std::span<const Complex> baseband)
{
    return movingSumEnergy(baseband, 0.0, ElementCoherenceLength);
}

CumulativeSum::CumulativeSum(std::span<const Complex> baseband) : m_sums(baseband.size() + 1)
{
    std::complex<double> sum = 0.0;
    for (std::size_t k = 0; k < baseband.size(); ++k) {
        sum += std::complex<double>(baseband[k]);
        m_sums[k + 1] = sum;
    }
}

std::complex<double> CumulativeSum::at(double t) const
{
    const auto index = std::size_t(t);
    if (index + 1 >= m_sums.size())
        return m_sums.back();
    const double fraction = t - double(index);
    return m_sums[index] + (m_sums[index + 1] - m_sums[index]) * fraction;
}

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

double basebandNoise(std::span<const Complex> baseband)
{
    std::vector<float> energy(baseband.size());
    std::transform(baseband.begin(), baseband.end(), energy.begin(),
                   [](Complex value) { return std::norm(value); });
    const auto quantile = energy.begin() + std::ptrdiff_t(double(energy.size()) * NoiseQuantile);
    std::nth_element(energy.begin(), quantile, energy.end());
    return double(*quantile) / ExponentialAtNoiseQuantile;
}

double bestPhase(const CumulativeSum &sums, double unit)
{
    double best = 0.0;
    double bestEnergy = -1.0;
    const auto search = [&](double from, double step, int steps) {
        for (int j = 0; j < steps; ++j) {
            double phase = std::fmod(from + j * step, unit);
            if (phase < 0)
                phase += unit;
            const double energy = gridEnergy(sums, unit, phase);
            if (energy > bestEnergy) {
                bestEnergy = energy;
                best = phase;
            }
        }
    };
    constexpr int CoarseSteps = 16;
    constexpr int FineSteps = 9;
    search(0.0, unit / CoarseSteps, CoarseSteps);
    search(best - unit / CoarseSteps, 2 * unit / CoarseSteps / (FineSteps - 1), FineSteps);
    return best;
}

UnitGrid findUnitGrid(std::span<const Complex> baseband)
{
    if (baseband.size() < FewestGridSamples)
        return {};
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
        const bool better =
            grid.unit == 0.0 || keying > bestKeying + ShorterUnitGain * std::abs(bestKeying);
        if (better && refined.unit <= LongestUnit && refined.unit >= ShortestUnit) {
            bestKeying = keying;
            grid = refined;
        }
    }
    return grid;
}

} // namespace tovrin3::morse
