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

// The pitch per frame along the path: the peak interpolated between bins, averaged over nearby
// frames weighted by their keyed power, never across a jump. Frames without keying nearby keep
// the pitch of the keying before them (after them, at the start). floors, where given (the
// spectra's floors, the same layout): the peak is interpolated on the powers, not on the ratios,
// since a strong signal's own leakage lifts the floors of the bins beside it unevenly, and over
// them the peak would lean toward the bin whose floor stayed lowest.
std::vector<double> pitchTrack(std::span<const float> spectra, const std::vector<int> &path,
                               std::span<const float> floors = {});

} // namespace tovrin3::morse
