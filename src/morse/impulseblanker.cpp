// SPDX-License-Identifier: GPL-3.0-or-later
#include "impulseblanker.h"

#include <algorithm>
#include <cmath>

namespace tovrin3::morse {

ImpulseBlanker::ImpulseBlanker(double sampleRate)
    : m_levelWeight(1.0 / std::max(1.0, LevelSeconds * sampleRate)),
      m_maxImpulseRun(std::max(1LL, std::llround(MaxImpulseSeconds * sampleRate))),
      m_thresholdRatio(std::pow(10.0, ImpulseRatioDb / 10.0))
{
}

std::span<const float> ImpulseBlanker::process(std::span<const float> samples)
{
    m_output.resize(samples.size());
    for (std::size_t index = 0; index < samples.size(); ++index) {
        const float sample = samples[index];
        m_output[index] = 0.0F;
        if (!std::isfinite(sample))
            continue;
        // In double, as the square of a float near its largest value would overflow in float.
        const double power = double(sample) * double(sample);
        const double threshold = m_thresholdRatio * std::max(m_meanPower, LevelFloorPower);
        if (power > threshold) {
            ++m_run;
            m_runPower += power;
            m_quietSince = 0;
            if (m_run > m_maxImpulseRun) {
                m_meanPower = m_runPower / double(m_run);
                m_run = 0;
                m_runPower = 0.0;
            }
            continue;
        }
        // A loud tone has samples near its zero crossings under the threshold too: only a quiet
        // spell as long as an impulse ends the run.
        if (m_run > 0 && ++m_quietSince > m_maxImpulseRun) {
            m_run = 0;
            m_runPower = 0.0;
        }
        m_meanPower += m_levelWeight * (power - m_meanPower);
        m_output[index] = sample;
    }
    return m_output;
}

} // namespace tovrin3::morse
