// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <complex>
#include <memory>
#include <mutex>
#include <span>

namespace tovrin3::morse {

// FFTW's planner is not thread-safe: a recording may be copied on a worker thread while the Listen
// window starts. RealFft makes and destroys every plan of this library under this lock.
std::mutex &fftwPlanning();

// A forward FFT of `size` real samples into size / 2 + 1 complex bins, unnormalised (a sine of
// amplitude A over the whole input gives a bin of magnitude A * size / 2). The plan and its
// aligned buffers belong to the object; making the plan under FFTW's planner lock is its job,
// and a plan FFTW cannot make is an error (std::runtime_error), never a null plan.
class RealFft
{
public:
    explicit RealFft(int size);
    ~RealFft();
    RealFft(const RealFft &) = delete;
    RealFft &operator=(const RealFft &) = delete;

    int size() const { return m_size; }
    // Fill, then execute, then read the bins.
    std::span<float> input() { return {m_input, std::size_t(m_size)}; }
    void execute();
    std::span<const std::complex<float>> output() const
    {
        return {m_output, std::size_t(m_size / 2 + 1)};
    }

private:
    int m_size;
    float *m_input = nullptr;
    std::complex<float> *m_output = nullptr;
    struct Plan;
    std::unique_ptr<Plan> m_plan;
};

} // namespace tovrin3::morse
