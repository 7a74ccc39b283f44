// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Before the stages: the input rate to the internal rate (libsoxr).
#include <span>
#include <vector>

struct soxr;

namespace tovrin3::morse {

// Converts mono samples from the input rate to InternalRate. Input goes through in blocks of a
// fixed size, so the output does not depend on how the stream was cut. At the internal rate
// itself the samples pass unchanged. Samples that are no number become silence before the
// filter, which would otherwise spread them over its whole length. A failure of the library is
// a std::runtime_error naming it.
class Resampler
{
public:
    // inputRate [Hz]; not a number is taken as the internal rate.
    explicit Resampler(double inputRate);
    ~Resampler();
    Resampler(const Resampler &) = delete;
    Resampler &operator=(const Resampler &) = delete;

    // Appends what the input converts to; input short of a whole block waits for more.
    void process(std::span<const float> input, std::vector<float> &output);
    // Appends the rest: the stream has ended.
    void finish(std::vector<float> &output);

private:
    void convert(std::span<const float> input, bool last, std::vector<float> &output);

    double m_ratio;
    soxr *m_state = nullptr;
    std::vector<float> m_pending;
};

} // namespace tovrin3::morse
