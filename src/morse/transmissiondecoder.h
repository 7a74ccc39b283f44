// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "fftwplanning.h"
#include <cstdint>
#include <span>

namespace tovrin3::morse {

// The demodulator works at one internal rate; its spectra are Hann-windowed FFTs of FftSize
// samples every FrameHop samples, and its baseband keeps one complex sum per Decimation samples.
inline constexpr double InternalRate = 8000.0;
inline constexpr int FftSize = 512;
inline constexpr int FrameHop = 256;
inline constexpr int Decimation = 32;
inline constexpr double BinHz = InternalRate / FftSize;
inline constexpr int LowestBin = 13;   // 203 Hz
inline constexpr int HighestBin = 128; // 2000 Hz
inline constexpr int SearchBins = HighestBin - LowestBin + 1;

// One transmission as the segmenter cut it: the samples at the internal rate and the spectra
// of the frames inside them, each power over the noise floor of its frame.
struct TransmissionBlock
{
    std::span<const float> samples;
    // SearchBins powers per frame; frame f starts at sample firstFrameOffset + f * FrameHop.
    std::span<const float> spectra;
    int firstFrameOffset = 0;
    double lockedPitchHz = 0.0; // 0: search the whole range
};

struct DecodedTransmission
{
    QString text;                    // empty when no keying was found
    bool heard = false;              // the keying passed the signal-presence test
    double firstElementSample = 0.0; // within the block
    double pitchHz = 0.0;            // at the end of the block
    double wordsPerMinute = 0.0;
};

// Decodes one transmission as a whole: tracks its pitch, finds its unit length and timing
// phase, and decides over whole unit slots with soft likelihoods. A beacon frame (the header
// and nine groups of two hexadecimal digits) is preferred where its known keying fits; any
// other keying is copied over the full alphabet.
DecodedTransmission decodeTransmission(const TransmissionBlock &block);

} // namespace tovrin3::morse
