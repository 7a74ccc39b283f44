// SPDX-License-Identifier: GPL-3.0-or-later
#include "slotlikelihoods.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tovrin3::morse {

namespace {

// Fewer slots than this hold no keying worth deciding.
constexpr std::size_t FewestSlots = 10;
// The noise from the 30 % quantile of the slot energies: in noise alone a slot's energy is
// exponential, whose 30 % quantile is -ln(0.7) = 0.3567 times its mean; keying fills well under
// 70 % of the slots, so the quantile lies in the gaps.
constexpr double NoiseQuantile = 0.3;
constexpr double ExponentialAtNoiseQuantile = 0.3567;
// A noiseless signal still gets finite likelihoods: the noise is never taken below this share
// of the loudest slot (60 dB).
constexpr double NoiselessFloor = 1e-6;
// The first guess of the keyed slots, before the level is known: energy over 5 times the
// noise (7 dB), which noise alone passes in e^-5, under 1 % of the slots.
constexpr double FirstGuessKeyed = 5.0;
// Two passes: the second takes its keyed slots from the first pass's likelihoods.
constexpr int LevelPasses = 2;
// The keyed level is averaged over this long either side of a slot: short enough for fades of
// a few seconds, long enough to hold several elements at 8 WPM.
constexpr double LevelReachSeconds = 1.0;
constexpr std::ptrdiff_t FewestLevelSlots = 8;
// Fewer keyed slots than this nearby (a deep fade, a pause) take the transmission's level.
constexpr double FewestKeyedForLevel = 4.0;

// log I0(x), with the asymptotic form where the Bessel function overflows a double.
double logBesselI0(double x)
{
    if (x < 50)
        return std::log(std::cyl_bessel_i(0.0, x));
    return x - 0.5 * std::log(2 * std::numbers::pi * x) + std::log1p(1 / (8 * x));
}

} // namespace

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
    if (count < FewestSlots)
        return result;

    // Noise from the low part of the slot energies (exponential in noise alone).
    std::vector<double> sorted = energy;
    const auto quantile = sorted.begin() + std::ptrdiff_t(double(count) * NoiseQuantile);
    std::nth_element(sorted.begin(), quantile, sorted.end());
    // A noiseless signal still gets finite likelihoods.
    const double loudest = *std::max_element(energy.begin(), energy.end());
    const double noise =
        std::max(*quantile / ExponentialAtNoiseQuantile, NoiselessFloor * loudest + 1e-30);

    std::vector<char> keyed(count);
    for (std::size_t i = 0; i < count; ++i)
        keyed[i] = energy[i] > FirstGuessKeyed * noise;
    std::vector<double> level(count);
    // The keyed level is followed over about a second either side, quick enough for slow fading.
    const auto reach = std::max<std::ptrdiff_t>(
        FewestLevelSlots, std::lround(LevelReachSeconds * BasebandRate / grid.unit));
    for (int pass = 0; pass < LevelPasses; ++pass) {
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
            const double mean =
                n >= FewestKeyedForLevel ? (prefixSum[to] - prefixSum[from]) / n : globalLevel;
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

} // namespace tovrin3::morse
