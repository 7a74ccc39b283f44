// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The stages of one transmission in order: trace tracking (pitchtrack.h), baseband and unit
// timing (baseband.h), slot likelihoods (slotlikelihoods.h), frame and Morse search
// (framesearch.h), confidence (frameconfidence.h). The spectra come from bandanalysis.h.
#include "bandanalysis.h"

#include <QString>

#include <optional>
#include <span>
#include <vector>

namespace tovrin3::morse {

// One transmission as the segmenter cut it: the samples at the internal rate and the spectra
// of the frames inside them, each power over its bin's noise floor (FrameSpectrum).
struct TransmissionBlock
{
    std::span<const float> samples;
    // SearchBins powers per frame; frame f starts at sample firstFrameOffset + f * FrameHop.
    std::span<const float> spectra;
    // The floors the spectra were divided by, the same layout: ratio times floor is the power.
    // Empty: the ratios stand for the powers.
    std::span<const float> floors;
    int firstFrameOffset = 0;
    double lockedPitchHz = 0.0; // 0: search the whole range
};

// One line of a transmission: the characters between two breaks, or one beacon frame.
struct DecodedLine
{
    QString text;
    double firstElementSample = 0.0; // within the block
    // For a text that looks like a beacon frame: the probability that its 18 digits are right
    // (0 for a frame-shaped text not copied as a frame).
    std::optional<double> frameConfidence;
};

struct DecodedTransmission
{
    std::vector<DecodedLine> lines; // none when no keying was found
    bool heard = false;             // the keying passed the signal-presence test
    double lastElementSample = 0.0; // end of the last element, within the block
    double pitchHz = 0.0;           // of the keying, at its last element
    double wordsPerMinute = 0.0;
    // The keying ends inside a beacon frame: after the last frame copied, a header fits whose
    // body would run past the end of the block. A fade, not the frame's end, stopped the keying.
    bool endsInsideFrame = false;
};

// Decodes one transmission as a whole: tracks its pitch, finds its unit length and timing
// phase, and decides over whole unit slots with soft likelihoods. A beacon frame (the header
// and 18 hexadecimal digits, grouped or not) is preferred where its known keying fits; any
// other keying is copied over the full alphabet. The text is cut into lines where the keying
// pauses for breakSeconds or more, and before and after every frame, so a frame is a line of
// its own. Unless the pitch is locked, a second keyed trace (another station) is read too, and
// both traces held to their own pitch give the frames, and the text too where the first reading
// strayed to the other trace; a frame whose trace jumps inside it is read again on its own
// trace, and is doubtful (confidence 0) where that finds no frame.

DecodedTransmission decodeTransmission(const TransmissionBlock &block, double breakSeconds);

} // namespace tovrin3::morse
