// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Checks and signals shared by the Morse tests.
#include "cwsignal.h"

#include <QString>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

// A measured value within its bounds; when it is not, the message shows it.
#define QVERIFY_BETWEEN(value, low, high)                                                          \
    do {                                                                                           \
        const double measured_ = double(value);                                                    \
        QVERIFY2(measured_ >= (low) && measured_ <= (high),                                        \
                 qPrintable(QString::number(measured_)));                                          \
    } while (false)

// |value - expected| < tolerance, the value shown when it is not.
#define QVERIFY_NEAR(value, expected, tolerance)                                                   \
    do {                                                                                           \
        const double measured_ = double(value);                                                    \
        QVERIFY2(std::abs(measured_ - (expected)) < (tolerance),                                   \
                 qPrintable(QString::number(measured_)));                                          \
    } while (false)

namespace tovrin3::testing {

// Keying at 8 kHz, 20 WPM and 700 Hz in noise of an SNR (infinity: none) from a seed, then
// changed further.
inline cwgen::KeyingSettings
impaired(double snr, std::uint32_t seed = 1,
         const std::function<void(cwgen::KeyingSettings &)> &change = {})
{
    cwgen::KeyingSettings settings;
    settings.snrDb = snr;
    settings.seed = seed;
    if (change)
        change(settings);
    return settings;
}

// Two signals on the air at once, the shorter padded with silence.
inline std::vector<float> mixed(std::vector<float> samples, const std::vector<float> &other)
{
    samples.resize(std::max(samples.size(), other.size()), 0.0f);
    for (std::size_t i = 0; i < other.size(); ++i)
        samples[i] += other[i];
    return samples;
}

} // namespace tovrin3::testing
