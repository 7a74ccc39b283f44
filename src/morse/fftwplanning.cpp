// SPDX-License-Identifier: GPL-3.0-or-later
#include "fftwplanning.h"

#include <fftw3.h>

#include <stdexcept>
#include <string>

namespace tovrin3::morse {

std::mutex &fftwPlanning()
{
    static std::mutex planning;
    return planning;
}

struct RealFft::Plan
{
    fftwf_plan plan = nullptr;
};

RealFft::RealFft(int size) : m_size(size), m_plan(std::make_unique<Plan>())
{
    if (size < 2)
        throw std::invalid_argument("FFT of " + std::to_string(size) + " samples");
    m_input = fftwf_alloc_real(std::size_t(size));
    auto *output = fftwf_alloc_complex(std::size_t(size / 2 + 1));
    // fftwf_complex and std::complex<float> share their layout, as FFTW documents.
    m_output = reinterpret_cast<std::complex<float> *>(output);
    if (m_input && output) {
        const std::lock_guard lock(fftwPlanning());
        m_plan->plan = fftwf_plan_dft_r2c_1d(size, m_input, output, FFTW_ESTIMATE);
    }
    if (!m_plan->plan) {
        fftwf_free(output);
        fftwf_free(m_input);
        throw std::runtime_error("FFTW could not plan an FFT of " + std::to_string(size) +
                                 " samples");
    }
}

RealFft::~RealFft()
{
    {
        const std::lock_guard lock(fftwPlanning());
        fftwf_destroy_plan(m_plan->plan);
    }
    fftwf_free(reinterpret_cast<fftwf_complex *>(m_output));
    fftwf_free(m_input);
}

void RealFft::execute()
{
    fftwf_execute(m_plan->plan);
}

} // namespace tovrin3::morse
