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
// exponential, whose quantile p is -ln(1 - p) times its mean. Keying fills under half the slots
// (a dash and its gap: 3 of 4; letter and word gaps bring it under 45 %), so the quantile lies
// in the gaps, at a higher quantile of the gaps alone; it is held under 80 % of them where the
// keyed share is misjudged.
constexpr double NoiseQuantile = 0.3;
constexpr double HighestUnkeyedQuantile = 0.8;
// A noiseless signal still gets finite likelihoods: the noise is never taken below this share
// of the loudest slot (60 dB).
constexpr double NoiselessFloor = 1e-6;
// The first guess of the keyed slots, before the level is known: energy over 5 times the
// noise (7 dB), which noise alone passes in e^-5, under 1 % of the slots.
constexpr double FirstGuessKeyed = 5.0;
// Passes: each takes the keyed slots, and so the noise and the level, from the one before.
constexpr int LevelPasses = 3;
// The keyed share that corrects the noise counts only slots keyed at odds of e^2 (7 to 1) or
// more: in noise alone few slots reach them, so the correction does not feed on itself.
constexpr double ClearlyKeyed = 2.0;
// The keyed level is averaged over this long either side of a slot: short enough for fades of
// a few seconds, long enough to hold several elements at 8 WPM.
constexpr double LevelReachSeconds = 1.0;
constexpr std::ptrdiff_t FewestLevelSlots = 8;
// Fewer keyed slots than this nearby (a deep fade, a pause) take the transmission's level.
constexpr double FewestKeyedForLevel = 4.0;

// A dash's likelihood is a mixture: its phase holds through the run (scored as one coherent
// sum) or turns within it (three slots of their own phase), each half the prior. Where the phase
// holds, the run's score gains up to several nats over the slots apart for a cost of ln 2; where
// it does not, the slots apart lose ln 2 only.
constexpr double CoherentRunShare = 0.5;
constexpr int DashUnits = 3;

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
    std::vector<std::complex<double>> slotSums;
    std::complex<double> previous = sums.at(grid.phase);
    for (double t = grid.phase + grid.unit; t <= sums.length(); t += grid.unit) {
        const std::complex<double> current = sums.at(t);
        slotSums.push_back(current - previous);
        energy.push_back(std::norm(current - previous));
        magnitude.push_back(std::abs(current - previous));
        previous = current;
    }
    const std::size_t count = energy.size();
    SlotLikelihoods result;
    result.keyed.assign(count, 0.0f);
    result.dashes.assign(count, 0.0f);
    if (count < FewestSlots)
        return result;

    // Noise from the low part of the slot energies (exponential in noise alone). The quantile
    // of all slots is a higher quantile of the unkeyed ones: q / (1 - keyed share).
    std::vector<double> sorted = energy;
    const auto quantile = sorted.begin() + std::ptrdiff_t(double(count) * NoiseQuantile);
    std::nth_element(sorted.begin(), quantile, sorted.end());
    // A noiseless signal still gets finite likelihoods.
    const double loudest = *std::max_element(energy.begin(), energy.end());
    const auto noiseFor = [&](double keyedShare) {
        const double unkeyedQuantile =
            NoiseQuantile / std::max(1.0 - keyedShare, NoiseQuantile / HighestUnkeyedQuantile);
        return std::max(*quantile / -std::log1p(-unkeyedQuantile),
                        NoiselessFloor * loudest + 1e-30);
    };
    double noise = noiseFor(0.0);

    std::vector<char> keyed(count);
    for (std::size_t i = 0; i < count; ++i)
        keyed[i] = energy[i] > FirstGuessKeyed * noise;
    std::vector<double> level(count);
    // The keyed level is followed over about a second either side, quick enough for slow fading.
    const auto reach = std::max<std::ptrdiff_t>(
        FewestLevelSlots, std::lround(LevelReachSeconds * BasebandRate / grid.unit));
    std::size_t clearlyKeyed = 0;
    for (int pass = 0; pass < LevelPasses; ++pass) {
        if (pass > 0)
            noise = noiseFor(double(clearlyKeyed) / double(count));
        clearlyKeyed = 0;
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
            clearlyKeyed += llr > ClearlyKeyed ? 1 : 0;
        }
        result.signalToNoise = std::max(globalLevel - noise, 0.0) / noise;
    }
    // A dash of level a over three slots: the coherent sum has amplitude 3a and noise 3 N.
    const double coherentPrior = std::log(CoherentRunShare);
    const double apartPrior = std::log1p(-CoherentRunShare);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t end = std::min(count, i + DashUnits);
        double apart = 0.0;
        for (std::size_t j = i; j < end; ++j)
            apart += double(result.keyed[j]);
        if (end - i < DashUnits) {
            result.dashes[i] = float(apart);
            continue;
        }
        const double a = (level[i] + level[i + 1] + level[i + 2]) / DashUnits;
        const double run = std::abs(slotSums[i] + slotSums[i + 1] + slotSums[i + 2]);
        const double coherent = logBesselI0(2 * a * run / noise) - DashUnits * a * a / noise;
        const double high = std::max(coherent + coherentPrior, apart + apartPrior);
        const double low = std::min(coherent + coherentPrior, apart + apartPrior);
        result.dashes[i] = float(high + std::log1p(std::exp(low - high)));
    }
    return result;
}

} // namespace tovrin3::morse
