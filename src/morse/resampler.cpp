// SPDX-License-Identifier: GPL-3.0-or-later
#include "resampler.h"

#include "spectrum.h"

#include <samplerate.h>

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

[[noreturn]] void fail(int error)
{
    throw std::runtime_error(std::string("Resampling failed: ") + src_strerror(error));
}

} // namespace

Resampler::Resampler(double inputRate)
    : m_ratio(std::isfinite(inputRate)
                  ? InternalRate / std::clamp(inputRate, LowestInputRate, HighestInputRate)
                  : 1.0)
{
    if (m_ratio == 1.0)
        return;
    int error = 0;
    m_state = src_new(SRC_SINC_FASTEST, 1, &error);
    if (!m_state)
        fail(error);
}

Resampler::~Resampler()
{
    if (m_state)
        src_delete(m_state);
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
    SRC_DATA data{};
    data.src_ratio = m_ratio;
    data.end_of_input = last ? 1 : 0;
    data.data_in = input.data();
    data.input_frames = long(input.size());
    for (;;) {
        data.data_out = converted.data();
        data.output_frames = long(converted.size());
        if (const int error = src_process(m_state, &data); error != 0)
            fail(error);
        output.insert(output.end(), converted.begin(), converted.begin() + data.output_frames_gen);
        data.data_in += data.input_frames_used;
        data.input_frames -= data.input_frames_used;
        if (data.input_frames == 0 && (!last || data.output_frames_gen == 0))
            return;
    }
}

} // namespace tovrin3::morse
