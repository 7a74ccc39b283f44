// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <limits>
#include <random>
#include <span>
#include <vector>

namespace tovrin3::cwgen {

// Machine keying of text lines as CW audio: PARIS timing, raised-cosine edges, one transmission
// per line with a silent gap between them.
struct KeyingSettings
{
    double sampleRate = 8000.0;
    double wordsPerMinute = 20.0;
    double pitchHz = 700.0;
    double driftHzPerSecond = 0.0;
    // Key-down carrier power over the noise power in 3 kHz; infinity: no noise.
    double snrDb = std::numeric_limits<double>::infinity();
    // Slow fading of the carrier: period and depth; a period of 0 means none.
    double fadingPeriodSeconds = 0.0;
    double fadingDepthDb = 0.0;
    double leadSeconds = 1.0; // silence (noise) before the first and after the last line
    double gapSeconds = 3.0;  // between transmissions
    double amplitude = 0.5;   // key-down carrier peak
    std::uint32_t seed = 1;
};

std::vector<float> keyTransmissions(const QStringList &transmissions,
                                    const KeyingSettings &settings);

// A beacon line as the satellite sends it: the header and nine random byte groups,
// "QT7XMRKT3HKD 28 01 64 01 0C 80 00 A5 03".
QString randomBeaconLine(std::mt19937 &random);

// Writes mono samples as a 16-bit WAV file; false when it cannot.
bool writeWav(const QString &path, std::span<const float> samples, int sampleRate);

} // namespace tovrin3::cwgen
