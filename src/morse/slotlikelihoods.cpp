// SPDX-License-Identifier: GPL-3.0-or-later
#include "slotlikelihoods.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>
#include <utility>

namespace tovrin3::morse {

namespace {

// Fewer slots than this hold no keying worth deciding.
constexpr std::size_t FewestSlots = 10;
// The first guess of the noise, from the 30 % quantile of the slot energies: in noise alone a
// slot's energy is exponential, whose quantile p is -ln(1 - p) times its mean, and keying fills
// under half the slots (a dash and its gap: 3 of 4; letter and word gaps bring it under 45 %).
// Keyed slots still reach into the quantile and raise it, the more so the weaker the keying, so
// later passes take the noise from the slots' own odds instead (unkeyedEnergy).
constexpr double NoiseQuantile = 0.3;
// A noiseless signal still gets finite likelihoods: the noise is never taken below this share
// of the loudest slot (60 dB).
constexpr double NoiselessFloor = 1e-6;
// The first guess of the keyed slots, before the level is known: energy over 5 times the
// noise (7 dB), which noise alone passes in e^-5, under 1 % of the slots.
constexpr double FirstGuessKeyed = 5.0;
// Passes: each takes the keyed slots, the noise and the level from the one before. At -12 dB in
// 3 kHz the first guess of the noise lies about 12 % too high; the four passes after the second
// bring it to the noise (three leave one or two frames in a hundred more doubtful there).
constexpr int LevelPasses = 6;
// The noise is taken from the slots' odds only where the pass before, judged on the slots' own
// ratios (from the second pass on), found keying clearly above it: keyed energy 3 times the noise
// (5 dB). In noise alone the loudest slots would otherwise pass for keying, and the noise taken
// from the rest would fall with every pass (by 30 % in five); noise alone of a hundred slots or
// more stays under 2.7 (in a thousand trials), while a beacon at -12 dB in 3 kHz at 20 WPM stands
// at about 10. The first pass's own figure, from the slots over 5 times the first guess, is no
// judge: in noise alone it lies near 5 by its very choice of slots.
constexpr double ClearKeying = 3.0;
// The keyed share the noise's odds start from is held within these bounds, so a transmission of
// keying alone or of quiet alone still leaves some slots to each side.
constexpr double LeastShare = 0.05;
constexpr double MostShare = 0.95;
// The keyed level is averaged over this long either side of a slot: short enough for fades of
// a few seconds, long enough to hold several elements at 8 WPM. Where that holds too few keyed
// slots, the second either side stands in, which also bounds the walls of a null. A second's mean
// lags a slow fade's trough and judges the slots there too loud: under sine fading (12 dB, 5 s,
// 0 dB; 3,200 frames apart from the benchmark's) 0.8 s passed 85 exact frames more than a second
// and 5 wrong fewer; under Rayleigh fading (+6 dB) 26 exact fewer and one wrong more; in white
// noise (-9 to -12 dB, 2,400 frames) 6 exact fewer and one wrong more. 0.6 s passed Rayleigh
// fading 18 wrong frames more.
constexpr double LevelMeanSeconds = 0.8;
constexpr double LevelReachSeconds = 1.0;
constexpr std::ptrdiff_t FewestLevelSlots = 8;
// Fewer keyed slots than this nearby (a deep fade, a pause) take the transmission's level; inside
// the keying, a deep fade's own lower level below holds.
constexpr double FewestKeyedForLevel = 4.0;
// A fade of half a second to a second drops the level faster than the second-long average
// follows, and a keyed slot in the trough, judged at the level around it, would score as a
// confident gap. So the level is also taken over this long either side, and where it is clearly
// the lower of the two it holds: a level too low only makes the slots' evidence weaker, one too
// high makes it wrong.
constexpr double ShortLevelReachSeconds = 0.3;
constexpr std::ptrdiff_t FewestShortLevelSlots = 3;
// Fewer keyed slots than this in the short reach (the trough itself) take the level from all of
// its slots' energy above the noise, over the transmission's keyed share: no decision of the
// pass before, which the trough made unkeyed, enters it. The share is held at or above a fifth.
// Only between keying on both sides, a clearly keyed slot within 1.5 s either side (energy over
// 10 times the noise, which noise alone reaches in e^-10 of its slots): before the first element
// and after the last, the quiet is no trough, and its gaps stay confident so noise there makes no
// letters. A null of fading can last a second with few keyed slots near it on one side; judged at
// the level around it, or the transmission's, its keyed slots scored as confident gaps (a 3 read
// as 5 and an E as A, stated sure, under Rayleigh fading at +6 dB). Reaching further, the keying
// of another station in the same transmission would make the quiet around a frame a trough.
constexpr double FewestKeyedForShortLevel = 2.0;
constexpr double LeastKeyedShare = 0.2;
constexpr double ClearlyKeyedEnergy = 10.0;
constexpr double ClearKeyingReachSeconds = 1.5;
// The nearer views of the level take over only where they fall under half the wider one (3 dB in
// energy, 6 dB in amplitude): in steady noise a level over a few slots rarely falls that far,
// and a level taken a little low there would weaken every slot's evidence for nothing.
constexpr double FadedShare = 0.5;
// Where Rayleigh fading passes near a null, the amplitude falls in a V to near 0 and rises again
// within the short reach, whose louder slots still hold the level. So the level is also held at
// or under where the keyed slots on either side lead: a slot both sides lead down toward lies in a
// trough, while in steady noise both sides rarely fall toward a slot at once. A side leads down
// only where its amplitude falls by three times the noise's spread of such a fall (the noise
// amplitude of a slot), which noise alone rarely does and a fade near a null does in a slot or two.
constexpr double TroughFall = 3.0;

// Rayleigh fading passes a null in a V whose floor lies in the noise for a dash's length or two,
// while the slots a few tenths of a second away still stand 10 dB and more above it: there the
// level judged from them is far too high, the dash lost in the null scores as a confident gap and
// turns into dots (B read as 5 and C as 6, stated sure). So where the keyed slots within the
// second either side both lead down toward a slot, each falling by half TroughFall and on a line
// that reaches under TroughFall noise amplitudes (9.5 dB a slot) at it, the slot lies in such a
// null: its keyed amplitude is anywhere from 0 up to the level judged, at even odds over that range
// (TroughLevels steps), and a keyed slot lost there scores as missing evidence. On our own Rayleigh
// signals at +6 dB (3,200 frames, seeds apart from the benchmark's) this halved the wrong frames
// passed as sure, 42 to 21, for 51 exact ones fewer (2,690 to 2,639); under sine fading (12 dB,
// 5 s, 0 dB) 9 to 6, for 17 fewer. In steady noise at 10 to 12 dB a slot (-12 to -10 dB in
// 3 kHz), about one slot in 130 is taken so. A fade that closes over the last elements of a
// transmission leaves no wall after them: there one side leading down is enough where the other
// holds no keyed slot within the second. Without this a frame's last digit lost its trailing
// elements in such fades and was stated sure (B read as D, 2 as F): on the same Rayleigh signals
// it took the wrong frames passed as sure from 21 to 11, for 7 exact ones fewer (2,639 to
// 2,632); under sine fading 6 to 7, for 16 fewer; in white noise at -9 to -12 dB (2,400 frames)
// it changed 4 exact frames and no wrong one.
constexpr double WallFall = TroughFall / 2;
constexpr double NullReach = TroughFall;
constexpr int TroughLevels = 8;

// A dash's likelihood is a mixture: its phase holds through the run (scored as one coherent
// sum) or turns within it (three slots of their own phase), each half the prior. Where the phase
// holds, the run's score gains up to several nats over the slots apart for a cost of ln 2; where
// it does not, the slots apart lose ln 2 only.
constexpr double CoherentRunShare = 0.5;
constexpr int DashUnits = 3;

// The mean energy of the unkeyed slots, each slot weighed by its posterior odds of being
// unkeyed, at the prior of the keyed share those odds give: one expectation-maximization step for
// a mixture of keying and noise, which counts neither a weak keyed slot as noise nor a loud noise
// slot as keying.
double unkeyedEnergy(const std::vector<float> &ratios, const std::vector<double> &energy,
                     double noise)
{
    const auto keyedCount =
        std::count_if(ratios.begin(), ratios.end(), [](float r) { return r > 0; });
    const double share =
        std::clamp(double(keyedCount) / double(ratios.size()), LeastShare, MostShare);
    const double priorOdds = std::log(share / (1 - share));
    double weight = 0.0;
    double sum = 0.0;
    for (std::size_t i = 0; i < ratios.size(); ++i) {
        const double unkeyed = 1 / (1 + std::exp(double(ratios[i]) + priorOdds));
        weight += unkeyed;
        sum += unkeyed * energy[i];
    }
    return weight > 0 ? sum / weight : noise;
}

// The log-likelihood ratio of a slot keyed at amplitude a (Rician) over its being unkeyed
// (Rayleigh); magnitude: the slot sum's, noise: a slot's noise energy.
double keyedRatio(double a, double magnitude, double noise)
{
    return logBesselI0(2 * a * magnitude / noise) - a * a / noise;
}

// The same for a slot whose keyed amplitude is anywhere from 0 to `level` at even odds.
double nullRatio(double level, double magnitude, double noise)
{
    std::array<double, TroughLevels + 1> ratios{};
    for (int k = 0; k <= TroughLevels; ++k)
        ratios[std::size_t(k)] = keyedRatio(level * k / TroughLevels, magnitude, noise);
    const double high = *std::max_element(ratios.begin(), ratios.end());
    double sum = 0.0;
    for (const double ratio : ratios)
        sum += std::exp(ratio - high);
    return high + std::log(sum / (TroughLevels + 1));
}

} // namespace

double logBesselI0(double x)
{
    if (x < 50)
        return std::log(std::cyl_bessel_i(0.0, x));
    return x - 0.5 * std::log(2 * std::numbers::pi * x) + std::log1p(1 / (8 * x));
}

SlotLikelihoods slotLikelihoods(const CumulativeSum &sums, const UnitGrid &grid, double knownNoise)
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
    result.level.assign(count, 1.0f);
    result.dashes.assign(count, 0.0f);
    result.matched.assign(count, {});
    if (count < FewestSlots)
        return result;

    // The first guess of the noise from the low part of the slot energies (exponential in noise
    // alone).
    std::vector<double> sorted = energy;
    const auto quantile = sorted.begin() + std::ptrdiff_t(double(count) * NoiseQuantile);
    std::nth_element(sorted.begin(), quantile, sorted.end());
    const double noiseFloor =
        NoiselessFloor * *std::max_element(energy.begin(), energy.end()) + 1e-30;
    double noise =
        knownNoise > 0 ? knownNoise : std::max(*quantile / -std::log1p(-NoiseQuantile), noiseFloor);

    std::vector<char> keyed(count);
    for (std::size_t i = 0; i < count; ++i)
        keyed[i] = energy[i] > FirstGuessKeyed * noise;
    std::vector<double> level(count);
    std::vector<char> inNull(count);
    // The keyed level is followed over 0.8 s to a second either side, quick enough for slow fading.
    const auto reach = std::max<std::ptrdiff_t>(
        FewestLevelSlots, std::lround(LevelReachSeconds * BasebandRate / grid.unit));
    const auto meanReach = std::max<std::ptrdiff_t>(
        FewestLevelSlots, std::lround(LevelMeanSeconds * BasebandRate / grid.unit));
    const auto shortReach = std::max<std::ptrdiff_t>(
        FewestShortLevelSlots, std::lround(ShortLevelReachSeconds * BasebandRate / grid.unit));
    const std::ptrdiff_t clearReach =
        std::lround(ClearKeyingReachSeconds * BasebandRate / grid.unit);
    // The slots [from, to) within a reach either side of slot i, inside the transmission.
    const auto window = [count](std::size_t i, std::ptrdiff_t slots) {
        return std::pair{std::size_t(std::max<std::ptrdiff_t>(0, std::ptrdiff_t(i) - slots)),
                         std::min(count, i + std::size_t(slots) + 1)};
    };
    std::vector<double> energySum(count + 1, 0.0);
    for (std::size_t i = 0; i < count; ++i)
        energySum[i + 1] = energySum[i] + energy[i];
    for (int pass = 0; pass < LevelPasses; ++pass) {
        if (pass > 1 && knownNoise <= 0 && result.signalToNoise >= ClearKeying)
            noise = std::max(unkeyedEnergy(result.keyed, energy, noise), noiseFloor);
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
        std::vector<int> clearCount(count + 1, 0);
        for (std::size_t i = 0; i < count; ++i)
            clearCount[i + 1] = clearCount[i] + (energy[i] > ClearlyKeyedEnergy * noise ? 1 : 0);
        // How the keyed slots in [from, to) on one side of slot i (step -1 or 1) lead toward it:
        // the nearest's amplitude, by how much it lies under the farthest's, and the straight line
        // through both on to i. No nearest without two keyed slots there: a pause on one side
        // leaves the other to judge.
        struct Side
        {
            double nearer = -1.0;
            double fall = 0.0;
            double extended = 0.0;
        };
        const auto side = [&](std::size_t i, int step, std::size_t from, std::size_t to) {
            std::ptrdiff_t nearest = -1;
            std::ptrdiff_t farthest = -1;
            for (auto j = std::ptrdiff_t(i) + step;
                 j >= std::ptrdiff_t(from) && j < std::ptrdiff_t(to); j += step) {
                if (!keyed[std::size_t(j)])
                    continue;
                if (nearest < 0)
                    nearest = j;
                farthest = j;
            }
            if (farthest == nearest)
                return Side{};
            const auto amplitude = [&](std::ptrdiff_t j) {
                return std::sqrt(std::max(energy[std::size_t(j)] - noise, 0.0));
            };
            const double nearer = amplitude(nearest);
            const double fall = amplitude(farthest) - nearer;
            const double distance = double(std::abs(nearest - std::ptrdiff_t(i)));
            const double spacing = double(std::abs(farthest - nearest));
            return Side{nearer, fall, std::max(0.0, nearer - fall * distance / spacing)};
        };
        // The keyed amplitude at slot i as a side leads toward it: where it falls clearly, the
        // line on to i, else the nearest's; -1 without a nearest.
        const auto toward = [&](const Side &wall) {
            if (wall.nearer < 0)
                return -1.0;
            return wall.fall >= TroughFall * std::sqrt(noise) ? wall.extended : wall.nearer;
        };
        // Whether a side leads down into a null at slot i (NullReach).
        const auto leadsIntoNull = [&](const Side &wall) {
            return wall.nearer >= 0 && wall.fall >= WallFall * std::sqrt(noise) &&
                   wall.extended <= NullReach * std::sqrt(noise);
        };
        // The mean energy of the keyed slots in [from, to), where they number `fewest` or more.
        const auto keyedMean = [&](std::size_t from, std::size_t to,
                                   double fewest) -> std::optional<double> {
            const double slots = prefixCount[to] - prefixCount[from];
            if (slots < fewest)
                return std::nullopt;
            return (prefixSum[to] - prefixSum[from]) / slots;
        };
        const double keyedShare = std::max(LeastKeyedShare, double(globalCount) / double(count));
        for (std::size_t i = 0; i < count; ++i) {
            const auto [from, to] = window(i, reach);
            const auto [meanFrom, meanTo] = window(i, meanReach);
            double mean = globalLevel;
            if (const auto near = keyedMean(meanFrom, meanTo, FewestKeyedForLevel))
                mean = *near;
            else if (const auto within = keyedMean(from, to, FewestKeyedForLevel))
                mean = *within;
            const auto [nearFrom, nearTo] = window(i, shortReach);
            const auto [clearFrom, clearTo] = window(i, clearReach);
            const bool between =
                clearCount[i] > clearCount[clearFrom] && clearCount[clearTo] > clearCount[i + 1];
            double nearMean = mean;
            if (const auto shortMean = keyedMean(nearFrom, nearTo, FewestKeyedForShortLevel))
                nearMean = *shortMean;
            else if (between)
                nearMean = noise + std::max(0.0, (energySum[nearTo] - energySum[nearFrom]) /
                                                         double(nearTo - nearFrom) -
                                                     noise) /
                                       keyedShare;
            const double around = std::sqrt(
                std::max((nearMean < FadedShare * mean ? nearMean : mean) - noise, noise));
            double lowered = std::max(toward(side(i, -1, nearFrom, nearTo)),
                                      toward(side(i, 1, nearFrom, nearTo)));
            if (lowered < 0)
                lowered = std::numeric_limits<double>::infinity();
            level[i] = std::max(lowered < FadedShare * around ? lowered : around, std::sqrt(noise));
            const bool quietBefore = prefixCount[i] == prefixCount[from];
            const bool quietAfter = prefixCount[to] == prefixCount[i + 1];
            const bool nullBefore = leadsIntoNull(side(i, -1, from, to));
            const bool nullAfter = leadsIntoNull(side(i, 1, from, to));
            inNull[i] = (nullBefore && (nullAfter || quietAfter)) || (nullAfter && quietBefore);
        }
        for (std::size_t i = 0; i < count; ++i) {
            const double a = level[i];
            const double llr =
                inNull[i] ? nullRatio(a, magnitude[i], noise) : keyedRatio(a, magnitude[i], noise);
            result.keyed[i] = float(llr);
            result.level[i] = float(a * a / noise);
            result.matched[i] = std::complex<float>(2 * a * slotSums[i] / noise);
            keyed[i] = llr > 0;
        }
        result.signalToNoise = std::max(globalLevel - noise, 0.0) / noise;
        result.noise = noise;
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
        const double coherent = keyedRatio(DashUnits * a, run, DashUnits * noise);
        const double high = std::max(coherent + coherentPrior, apart + apartPrior);
        const double low = std::min(coherent + coherentPrior, apart + apartPrior);
        result.dashes[i] = float(high + std::log1p(std::exp(low - high)));
    }
    return result;
}

} // namespace tovrin3::morse
