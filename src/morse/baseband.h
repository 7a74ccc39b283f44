// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Stage 3, baseband and unit timing. In: a transmission's samples at the internal rate and its
// pitch track [Hz per spectrum frame]. Out: the complex baseband along the track (one sample per
// Decimation input samples, magnitude Decimation * A / 2 for a carrier of amplitude A), the
// residual frequency removed from it [Hz], and the unit grid of the keying: unit length and the
// start of slot 0 [baseband samples].
#include "bandanalysis.h"

#include <complex>
#include <span>
#include <vector>

namespace tovrin3::morse {

using Complex = std::complex<float>;

// Input samples per baseband sample: 4 ms at 8 kHz, a seventh of a dot at 40 words per minute.
inline constexpr int Decimation = 32;
inline constexpr double BasebandRate = InternalRate / Decimation;
// Unit lengths [baseband samples] the timing searches: 40 down to 8 words per minute
// (1.2 s / WPM per unit) with a margin either way.
inline constexpr double ShortestUnit = 6.5;
inline constexpr double LongestUnit = 40.0;

// Mixes the samples down along the pitch track and keeps one sample per Decimation input
// samples, low-passed before and again after (half amplitude at 55 Hz, wide enough for a 40 WPM
// dot), so a steady carrier 75 Hz or more away stays well under the keying even 30 dB stronger.
// Baseband sample k is centred on input sample Decimation * (k + 1).
// Spectrum frame f of the track is centred on input sample firstFrameOffset + f * FrameHop +
// FftSize / 2.
std::vector<Complex> mixDown(std::span<const float> samples, const std::vector<double> &track,
                             int firstFrameOffset);

// Removes what is left of the pitch error after the bin interpolation (up to 4 Hz either way):
// the shift that gives moving sums about a dash long the most energy. Returns the shift [Hz].
double refineFrequency(std::vector<Complex> &baseband);

// The energy of the baseband's moving sums over a long dash: largest where the carrier keeps its
// phase through each element, so it tells which of two tracks followed the pitch better.
double coherentEnergy(std::span<const Complex> baseband);

// Running sums of the baseband, read between samples by linear interpolation: the sum over a
// slot of any length and start is two reads.
class CumulativeSum
{
public:
    explicit CumulativeSum(std::span<const Complex> baseband);
    double length() const { return double(m_sums.size() - 1); }
    std::complex<double> at(double t) const;

private:
    std::vector<std::complex<double>> m_sums;
};

struct UnitGrid
{
    double unit = 0.0;  // [baseband samples]; 0: no keying found
    double phase = 0.0; // start of slot 0 [baseband samples]
};

// Keying energy captured by whole slots of the grid; largest when the slots sit on the keying.
double gridEnergy(const CumulativeSum &sums, double unit, double phase);

// The start of slot 0 [baseband samples, 0 to unit] that gives whole slots of this unit the
// most keying energy: the phase of one stretch of keying at a unit already known.
double bestPhase(const CumulativeSum &sums, double unit);

// Noise energy per baseband sample, from the quieter samples.
double basebandNoise(std::span<const Complex> baseband);

// The unit and phase of the keying: candidates from the periodicity of its edges, each refined
// for the most energy in whole slots, the longest unit kept unless a shorter one captures
// clearly more keyed energy. A grid of unit 0 where the baseband is too short or holds no
// keying in the speed range.
UnitGrid findUnitGrid(std::span<const Complex> baseband);

} // namespace tovrin3::morse
