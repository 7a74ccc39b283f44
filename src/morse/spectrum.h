// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Stage 1, spectrum and noise floor. In: samples at the internal rate. Out: per frame, the power
// of every bin of the pitch range over the noise floor of that frame (a ratio whose mean is 1
// in noise alone).
#include "fftwplanning.h"

#include <span>
#include <vector>

namespace tovrin3::morse {

// The rate every stage after the resampler works at [Hz]: the pitch range ends at 2 kHz, so
// 8 kHz leaves the resampler's transition band above it and keeps every later stage cheap.
inline constexpr double InternalRate = 8000.0;
// Spectrum frames [samples at InternalRate]: 512 samples give 15.6 Hz bins, narrow enough to
// part two stations 50 Hz apart and wide enough to hold a 40 WPM dot's spread (about 30 Hz) in
// one or two bins; frames overlap by half, 32 ms apart, about one dot at 40 WPM.
inline constexpr int FftSize = 512;
inline constexpr int FrameHop = FftSize / 2;
inline constexpr double BinHz = InternalRate / FftSize;
// The pitch range as bins: bin 13 is 203 Hz, bin 128 is 2000 Hz.
inline constexpr int LowestBin = 13;
inline constexpr int HighestBin = 128;
inline constexpr int SearchBins = HighestBin - LowestBin + 1;

// The one window of the library: Hann, symmetric about the middle of the block, so a frame's
// spectrum belongs to the block's centre (sample size / 2).
std::vector<float> hannWindow(int size);

// The spectrum of one frame of FftSize samples, each bin of the pitch range over the frame's
// noise floor. The floor is the median bin power over ln 2: noise power in a bin is exponential,
// and the median of an exponential is ln 2 times its mean. A median across the pitch range
// ignores the few bins a signal fills.
class FrameSpectrum
{
public:
    FrameSpectrum();

    // frame: FftSize samples. powers: SearchBins ratios, bin LowestBin first.
    void process(std::span<const float> frame, std::span<float> powers);

private:
    RealFft m_fft;
    std::vector<float> m_window;
    std::vector<float> m_sorted;
};

// The spectrum of the audio between 200 and 2000 Hz block after block, for a waterfall display:
// each row holds the level in dB (10 log10 of the power, full scale sine about
// 20 log10(size / 4)) of one Hann-windowed block in each bin of the band. Blocks do not overlap
// and follow each other wherever the stream is cut. Bins are 16 Hz or finer at any rate.
class WaterfallSpectrum
{
public:
    static constexpr double LowestHz = 200.0;
    static constexpr double HighestHz = 2000.0;

    // sampleRate [Hz], above 4 kHz.
    explicit WaterfallSpectrum(double sampleRate);

    // The rows that the samples complete, oldest first.
    std::vector<std::vector<float>> process(std::span<const float> samples);

    // The frequency at the middle of bin `column` of a row [Hz].
    double frequencyOfColumn(int column) const;
    int columnCount() const { return m_columnCount; }

private:
    std::vector<float> finishBlock();

    RealFft m_fft;
    double m_binHz;
    int m_firstBin;
    int m_columnCount;
    std::vector<float> m_window;
    std::size_t m_filled = 0;
};

} // namespace tovrin3::morse
