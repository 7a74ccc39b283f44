// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <span>
#include <vector>

namespace tovrin3::morse {

// The first stage of the demodulator: takes out what no receiver hears as signal, so that it
// costs only the moment it occurs.
//
// Input: mono samples at the stream's rate, in pieces of any size, any scale (float recordings
// louder than full scale are as legal as quiet ones).
// Output: the same samples, with silence (0) in place of
//  - a sample that is no finite number (a damaged float file), and
//  - an impulse: a sample more than ImpulseRatioDb above the running RMS level. A run of such
//    samples longer than MaxImpulseSeconds is no impulse but the signal growing louder at once
//    (a transmission starting after digital silence, or on the stream's first sample): the
//    running level takes the run's level and the samples after it pass. Such an onset loses
//    its first MaxImpulseSeconds.
// The output is the same wherever the stream is cut.
class ImpulseBlanker
{
public:
    // 60 dB: keying, fading and noise stay far below it (the strongest keying a recording holds
    // lies some 6 dB over its running RMS), while a click or a flipped exponent bit lies far above.
    static constexpr double ImpulseRatioDb = 60.0;
    // The running level averages the power over about a second: longer than a dash at 8 words per
    // minute (0.45 s), so that keying does not move it much.
    static constexpr double LevelSeconds = 1.0;
    // Longer than a click (well under a millisecond), short enough that a true onset loses little.
    static constexpr double MaxImpulseSeconds = 0.005;
    // The running level never counts as lower than this power, -60 dB full scale: after digital
    // silence, whatever lies within full scale passes; only samples louder still wait for the
    // longest impulse.
    static constexpr double LevelFloorPower = 1e-6;

    explicit ImpulseBlanker(double sampleRate);

    // The samples with impulses blanked; valid until the next call.
    std::span<const float> process(std::span<const float> samples);

    // The running mean power, in squared sample units.
    double levelPower() const { return m_meanPower; }

private:
    double m_levelWeight;       // weight of one sample in the running mean power
    long long m_maxImpulseRun;  // samples
    double m_thresholdRatio;    // power ratio that makes a sample an impulse
    double m_meanPower = 0.0;   // squared sample units
    long long m_run = 0;        // samples over the threshold, with no quiet spell between
    double m_runPower = 0.0;    // their summed power
    long long m_quietSince = 0; // samples under the threshold since the run's last
    std::vector<float> m_output;
};

} // namespace tovrin3::morse
