// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// CW test signals from the generator and their copy by the demodulator, shared by the audio
// tests.
#include "cwdemodulator.h"
#include "cwsignal.h"

#include <QByteArray>
#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <span>
#include <vector>

namespace tovrin3::testing {

// A beacon frame and a line of other text, each of which every copy must give back exactly.
inline const QStringList CwTestTransmissions{
    QStringLiteral("QT7XMRKT3HKD 90 01 40 01 0C 6A 00 A5 03"), QStringLiteral("CQ DE NOCALL K")};

// When the timed copies' pass starts: the time their lines are stamped from.
inline const QDateTime PassStart(QDate(2026, 12, 6), QTime(18, 57, 44), Qt::UTC);

// Two short transmissions, for tests that copy many times.
inline const QStringList CwShortTransmissions{QStringLiteral("VVV QT7X"),
                                              QStringLiteral("TEST 73")};

inline cwgen::KeyingSettings cwTestKeying(double sampleRate, double wordsPerMinute = 30.0,
                                          double pitchHz = 700.0)
{
    cwgen::KeyingSettings settings;
    settings.sampleRate = sampleRate;
    settings.wordsPerMinute = wordsPerMinute;
    settings.pitchHz = pitchHz;
    return settings;
}

inline std::vector<float> cwTestSignal(double sampleRate,
                                       const QStringList &transmissions = CwTestTransmissions)
{
    return cwgen::keyTransmissions(transmissions, cwTestKeying(sampleRate));
}

// A steady tone: `count` samples of amplitude * sin(2 pi hz t + phase), the stage tests' test
// signal before keying.
inline std::vector<float> steadyTone(double rate, double hz, double amplitude, std::size_t count,
                                     double phase = 0.0)
{
    std::vector<float> samples(count);
    for (std::size_t n = 0; n < count; ++n)
        samples[n] =
            float(amplitude * std::sin(2 * std::numbers::pi * hz * double(n) / rate + phase));
    return samples;
}

// Random beacon frames, the same for the same seed.
inline QStringList beaconFrames(int count, std::uint32_t seed)
{
    std::mt19937 random(seed);
    QStringList frames;
    for (int i = 0; i < count; ++i)
        frames << cwgen::randomBeaconLine(random);
    return frames;
}

// The demodulator's lines for a whole signal fed in pieces of `chunk` samples (0: at once), the
// stream then finished; with a pitch held at lockedPitchHz when that is above 0.
inline std::vector<morse::CopiedLine> copyLines(std::span<const float> samples, double rate,
                                                std::size_t chunk = 0, double lockedPitchHz = 0.0)
{
    morse::CwDemodulator demodulator(rate);
    if (lockedPitchHz > 0)
        demodulator.lockPitch(lockedPitchHz);
    if (chunk == 0)
        chunk = std::max<std::size_t>(samples.size(), 1);
    for (std::size_t at = 0; at < samples.size(); at += chunk)
        demodulator.process(samples.subspan(at, std::min(chunk, samples.size() - at)));
    demodulator.finish();
    return demodulator.takeLines();
}

inline QStringList lineTexts(const std::vector<morse::CopiedLine> &lines)
{
    QStringList texts;
    for (const morse::CopiedLine &line : lines)
        texts << line.text;
    return texts;
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
