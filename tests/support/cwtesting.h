// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Clean CW test signals from the generator, shared by the audio tests.
#include "cwsignal.h"

#include <QByteArray>
#include <QStringList>

#include <cmath>
#include <cstdint>
#include <span>

namespace tovrin3::testing {

// A beacon frame and a line of other text, each of which every copy must give back exactly.
inline const QStringList CwTestTransmissions{
    QStringLiteral("QT7XMRKT3HKD 90 01 40 01 0C 6A 00 A5 03"), QStringLiteral("CQ DE NOCALL K")};

// Two short transmissions, for tests that copy many times.
inline const QStringList CwShortTransmissions{QStringLiteral("VVV QT7X"),
                                              QStringLiteral("TEST 73")};

inline cwgen::KeyingSettings cwTestKeying(double sampleRate)
{
    cwgen::KeyingSettings settings;
    settings.sampleRate = sampleRate;
    settings.wordsPerMinute = 30.0;
    settings.pitchHz = 700.0;
    return settings;
}

inline std::vector<float> cwTestSignal(double sampleRate,
                                       const QStringList &transmissions = CwTestTransmissions)
{
    return cwgen::keyTransmissions(transmissions, cwTestKeying(sampleRate));
}

// Signed 16-bit little-endian samples, as an SDR program writes them to a pipe.
inline QByteArray rawSamples(std::span<const float> samples)
{
    QByteArray bytes;
    bytes.reserve(std::ssize(samples) * 2);
    for (const float sample : samples) {
        const auto value = static_cast<std::uint16_t>(
            static_cast<std::int16_t>(std::lround(std::clamp(sample, -1.0F, 1.0F) * 32767.0F)));
        bytes.append(static_cast<char>(value & 0xFF));
        bytes.append(static_cast<char>(value >> 8));
    }
    return bytes;
}

} // namespace tovrin3::testing
