// SPDX-License-Identifier: GPL-3.0-or-later
#include "resampler.h"

#include "bandanalysis.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <stdexcept>
#include <string>

namespace tovrin3::morse {

namespace {

// The input rates the demodulator takes [Hz]: from 4 kHz, whose band still holds the pitch
// range, to the highest rate sound cards use.
constexpr double LowestInputRate = 4000.0;
constexpr double HighestInputRate = 192000.0;
// Samples per conversion call: the block size fixes the output whatever the cut of the input.
constexpr std::size_t BlockSize = 4096;
// Room the library may need beyond the nominal output of a block.
constexpr std::size_t OutputSlack = 64;

// libsoxr's low quality: 16 bits of stop-band rejection (96 dB) with a pass band to about 80 %
// of the internal Nyquist frequency (3.2 kHz), far above the pitch range, at a fraction of the
// cost of higher qualities.
constexpr unsigned long Quality = SOXR_LQ;

[[noreturn]] void fail(soxr_error_t error)
{
    throw std::runtime_error(std::string("Resampling failed: ") + soxr_strerror(error));
}

} // namespace

Resampler::Resampler(double inputRate)
    : m_ratio(std::isfinite(inputRate)
                  ? InternalRate / std::clamp(inputRate, LowestInputRate, HighestInputRate)
                  : 1.0)
{
    if (m_ratio == 1.0)
        return;
    soxr_error_t error = nullptr;
    const soxr_quality_spec_t quality = soxr_quality_spec(Quality, 0);
    m_state =
        soxr_create(InternalRate / m_ratio, InternalRate, 1, &error, nullptr, &quality, nullptr);
    if (error || !m_state)
        fail(error ? error : "no resampler");
}

Resampler::~Resampler()
{
    if (m_state)
        soxr_delete(m_state);
}

void Resampler::process(std::span<const float> input, std::vector<float> &output)
{
    std::vector<float> &target = m_state ? m_pending : output;
    std::transform(input.begin(), input.end(), std::back_inserter(target),
                   [](float value) { return std::isfinite(value) ? value : 0.0f; });
    if (!m_state)
        return;
    std::size_t used = 0;
    while (m_pending.size() - used >= BlockSize) {
        convert(std::span(m_pending).subspan(used, BlockSize), false, output);
        used += BlockSize;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + std::ptrdiff_t(used));
}

void Resampler::finish(std::vector<float> &output)
{
    if (!m_state)
        return;
    convert(m_pending, true, output);
    m_pending.clear();
}

void Resampler::convert(std::span<const float> input, bool last, std::vector<float> &output)
{
    std::vector<float> converted(std::size_t(double(input.size()) * m_ratio) + OutputSlack);
    while (!input.empty()) {
        std::size_t used = 0;
        std::size_t made = 0;
        if (const soxr_error_t error = soxr_process(m_state, input.data(), input.size(), &used,
                                                    converted.data(), converted.size(), &made))
            fail(error);
        output.insert(output.end(), converted.begin(), converted.begin() + std::ptrdiff_t(made));
        input = input.subspan(used);
    }
    if (!last)
        return;
    // The end of the input: what the filter still holds comes out.
    for (;;) {
        std::size_t made = 0;
        if (const soxr_error_t error = soxr_process(m_state, nullptr, 0, nullptr, converted.data(),
                                                    converted.size(), &made))
            fail(error);
        if (made == 0)
            return;
        output.insert(output.end(), converted.begin(), converted.begin() + std::ptrdiff_t(made));
    }
}

} // namespace tovrin3::morse
