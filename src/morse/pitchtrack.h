// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Stage 2, trace tracking. In: the spectra of a transmission (SearchBins power ratios per frame,
// from FrameSpectrum). Out: the trace's bin per frame (0 is bin LowestBin), and its pitch per
// frame [Hz] between bins.
#include "bandanalysis.h"

#include <span>
#include <vector>

namespace tovrin3::morse {

// The best path of bins through the spectra (Viterbi on log(1 + power)): a slow drift moves one
// bin per frame at most, a jump elsewhere (the operator retuned) costs far more. lockedHz > 0
// keeps the path within a few bins of that pitch.
std::vector<int> pitchPath(std::span<const float> spectra, int frames, double lockedHz);

// How the pitch may move along a transmission.
enum class TrackShape
{
    // Any way a drift or a Doppler pass moves it: a line through the keyed frames within about
    // 1.3 s, so the track bends with the pass.
    Following,
    // Along one straight line through every keyed frame (a steady pitch, or a drift): the keyed
    // frames of the whole transmission fix it, where a following track wanders by a hertz or two
    // on the few frames it sees at a weak signal, and a hertz turns the carrier's phase half a
    // turn within a character.
    Steady,
};

struct PitchTracks
{
    std::vector<double> following;
    std::vector<double> steady;

    const std::vector<double> &of(TrackShape shape) const
    {
        return shape == TrackShape::Steady ? steady : following;
    }
};

// The pitch per frame along the path in both shapes: the peak interpolated between bins once, then
// fitted with a line of each shape, weighted by the frames' keyed power; a slope counts only where
// it stands clear of the scatter. The steady line leaves out frames off the trace (noise the path
// crossed before or after the keying). A following track never averages across a jump, and frames
// without keying nearby keep the pitch of the keying before them (after them, at the start).
// floors, where given (the spectra's floors, the same layout): the peak is interpolated on the
// powers, not on the ratios, since a strong signal's own leakage lifts the floors of the bins
// beside it unevenly, and over them the peak would lean toward the bin whose floor stayed lowest.
PitchTracks pitchTracks(std::span<const float> spectra, const std::vector<int> &path,
                        std::span<const float> floors = {});

} // namespace tovrin3::morse
