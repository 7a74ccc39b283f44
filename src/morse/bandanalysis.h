// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Stage 1, spectrum and noise floor. In: samples at the internal rate, frame after frame. Out: per
// frame, the power of every bin of the pitch range over that bin's own noise floor (a ratio whose
// mean is 1 in noise alone, white or shaped, and about 1 on a steady carrier once it has stood
// for a few seconds), and per bin whether it is keyed (on-off at element rates).
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

// Where the top of the parabola through three values one step apart lies, in steps from the
// middle one (-0.5 to 0.5); 0 where the middle one is no peak. Every peak the library reads between
// bins, steps or frequencies is read so.
double parabolicPeakOffset(double left, double middle, double right);

// The noise floor of every bin of the pitch range, followed over time, so that the noise a
// receiver's filters shape and a carrier that stays on become background for their own bins.
// Each bin keeps a low quantile of its power (the 20 % quantile, in the log domain by
// stochastic approximation) and its mean and mean square power over about a second. Noise power
// in a bin is exponential, so the quantile over its known share of the mean gives the floor. A
// steady bin (its power varies far less than noise's: a carrier) takes its mean, so the carrier
// reads about 1; so does a bin on such a carrier's skirt whose power varies as a steady part
// plus the noise around it does (the carrier's leakage a few dB over the noise), never keying
// with its pauses at the noise. Any other bin takes the median floor of the bins around it and its
// own: a keyed bin's quantile sits on its pauses only and reads high by the share of time keyed
// down, its neighbours' do not. At the top of a narrow hump, where the floors
// around rise toward the bin from both sides, the floor is drawn from the hump's curvature.
class NoiseFloor
{
public:
    // powers: SearchBins bin powers of one frame (any units). floors: SearchBins floors, same
    // units, never below a tiny positive value.
    void update(std::span<const float> powers, std::span<float> floors);

private:
    bool isNewBand(std::span<const float> powers);
    // The floor at the top of a narrow noise hump, 0 where the bin is not on one.
    float noisePeakFloor(std::size_t bin) const;
    // Whether a bin that varies more than a steady one is a steady part plus noise of the power
    // `noise`, near a steady bin that can leak that much into it: a carrier's leakage on the
    // window's skirt.
    bool isSteadySkirt(std::size_t bin, float noise) const;

    std::vector<float> m_quantile;
    std::vector<float> m_mean;
    std::vector<float> m_meanSquare;
    std::vector<float> m_own;
    std::vector<float> m_around;
    std::vector<char> m_steady;
    long m_frames = 0;
    int m_louderFrames = 0;
};

// Whether the keying in a bin is on-off at element rates: over about a second, the bin's power
// over its floor both stands well above the floor (keyed down) and falls back to it (keyed up)
// in a fair share of frames. Noise rarely stands above; a steady carrier, over a floor that has
// followed it, never does, and before that it never falls back.
class KeyingPresence
{
public:
    // ratios: SearchBins powers over their floors (FrameSpectrum's output) of the next frame.
    void update(std::span<const float> ratios);
    // bin: 0 is LowestBin. In the first two seconds: false.
    bool isKeyed(int bin) const;
    // The share of recent frames in which the bin fell back to its floor, 0 to 1.
    float quietShare(int bin) const;

private:
    std::vector<float> m_loud;
    std::vector<float> m_quiet;
    long m_frames = 0;
};

// The spectrum of one frame of FftSize samples after the frames before it, each bin of the
// pitch range over its own noise floor (NoiseFloor).
class FrameSpectrum
{
public:
    FrameSpectrum();

    // frame: FftSize samples, the frames in order. powers: SearchBins ratios, bin LowestBin
    // first.
    void process(std::span<const float> frame, std::span<float> powers);
    // The floors the last frame's powers were divided by, bin LowestBin first.
    std::span<const float> floors() const { return m_floors; }

private:
    RealFft m_fft;
    std::vector<float> m_window;
    std::vector<float> m_floors;
    NoiseFloor m_floor;
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
