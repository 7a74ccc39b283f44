// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <complex>
#include <cstdint>
#include <limits>
#include <random>
#include <span>
#include <vector>

namespace tovrin3::cwgen {

// The noise of a receiver's audio chain: a passband (an SSB filter) with a hump of noise above
// the floor (a resonant audio filter, or the filter's own peak). The density is flat between the
// passband's edges, falls by SkirtDepthDb over SkirtWidthHz beyond them, and rises by humpDb at
// humpHz in a bell HumpWidthHz wide at half its height in dB.
struct NoiseShape
{
    bool shaped = false;        // false: white noise up to half the sample rate
    double passbandLowHz = 300; // edges of the flat passband
    double passbandHighHz = 2700;
    double humpDb = 0.0; // density at humpHz over the passband's flat density, dB
    double humpHz = 1250.0;
    double humpWidthHz = 200.0;
};

// A steady unkeyed carrier: a birdie or another satellite's carrier.
struct SteadyCarrier
{
    double offsetHz = 0.0; // from the beacon's pitch
    double levelDb = 0.0;  // its power over the beacon's key-down carrier power
};

// Another CW station keying plain text without a pause from the first sample to the last.
struct OtherStation
{
    double offsetHz = 150.0; // from the beacon's pitch
    double wordsPerMinute = 25.0;
    double levelDb = 0.0; // its key-down power over the beacon's key-down carrier power
};

// An uncorrected Doppler shift of a satellite pass, the straight-line fly-by curve: the pitch is
// pitchHz + shiftHz at the start of the pass, pitchHz at mid-pass and pitchHz - shiftHz at its
// end, falling fastest (slopeHzPerSecond) at mid-pass:
//   shift(t) = -shiftHz * u / sqrt(1 + u^2),  u = (t - mid) * slopeHzPerSecond / shiftHz.
// A 145 MHz beacon on a low orbit gives a shift of about 3.5 kHz and up to 60 Hz/s.
struct DopplerPass
{
    double shiftHz = 0.0; // 0: none
    double slopeHzPerSecond = 60.0;
    double midSeconds = std::numeric_limits<double>::quiet_NaN(); // NaN: the signal's middle
};

// Machine keying of text lines as CW audio: PARIS timing, raised-cosine edges, one transmission
// per line with a silent gap between them, and the impairments of a real band on top. Every
// impairment is off by default; any of them combine. The same settings give the same samples.
struct KeyingSettings
{
    double sampleRate = 8000.0;
    double wordsPerMinute = 20.0;
    double pitchHz = 700.0;
    double driftHzPerSecond = 0.0;
    // Key-down carrier power over the noise power in 3 kHz (with shaped noise: three kHz of the
    // density at pitchHz); with Rayleigh fading the carrier's mean power; infinity: no noise.
    double snrDb = std::numeric_limits<double>::infinity();
    NoiseShape noiseShape;
    // Slow sine fading of the beacon: the loss in dB follows a raised cosine from 0 at the start
    // down to fadingDepthDb and back within fadingPeriodSeconds; a period of 0 means none.
    double fadingPeriodSeconds = 0.0;
    double fadingDepthDb = 0.0;
    // Rayleigh fading of the beacon: a sum of paths with random Doppler shifts, Gaussian with a
    // two-sigma width of this many Hz (as the ionospheric channel models state their spread);
    // mean power 1. 0 means none.
    double rayleighSpreadHz = 0.0;
    std::vector<SteadyCarrier> carriers;
    std::vector<OtherStation> stations;
    // Impulse clicks at random times (a Poisson process), each a burst decaying in a millisecond
    // with its peak clickLevelDb above the beacon's key-down peak.
    double clicksPerSecond = 0.0;
    double clickLevelDb = 6.0;
    DopplerPass doppler;
    // The beacon's carrier phase steps by a random amount of this standard deviation (radians)
    // between elements; a large value gives every element a phase of its own.
    double phaseWanderRadians = 0.0;
    double leadSeconds = 1.0; // silence (noise) before the first and after the last line
    double gapSeconds = 3.0;  // between transmissions
    double amplitude = 0.5;   // key-down carrier peak
    std::uint32_t seed = 1;
};

std::vector<float> keyTransmissions(const QStringList &transmissions,
                                    const KeyingSettings &settings);

// When each line's first element is keyed in keyTransmissions' signal [s], at the middle of its
// rising edge; NaN for a line with nothing to key.
std::vector<double> transmissionStarts(const QStringList &transmissions,
                                       const KeyingSettings &settings);

// The beacon's gain under Rayleigh fading at a time in seconds: its magnitude scales the carrier,
// its angle turns the carrier's phase; the mean of its squared magnitude is 1.
class RayleighFading
{
public:
    RayleighFading(double spreadHz, std::uint32_t seed);
    std::complex<double> gain(double seconds) const;

private:
    struct Path
    {
        double hz;
        double phase;
    };
    std::vector<Path> m_paths;
};

// The pitch in Hz under drift and a Doppler pass at a time in seconds of a signal that lasts
// totalSeconds (which places a pass whose middle is not given).
double pitchAt(const KeyingSettings &settings, double seconds, double totalSeconds);

// A beacon line as the satellite sends it: the header and nine random byte groups,
// "QT7XMRKT3HKD 28 01 64 01 0C 80 00 A5 03".
QString randomBeaconLine(std::mt19937 &random);

// Plain text as another station sends it: calls, reports and words, about `characters` long.
QString randomChatter(std::mt19937 &random, int characters);

// Writes mono samples as a 16-bit WAV file; false when it cannot. Samples that would clip (a
// weak beacon's noise, a strong carrier beside it) are scaled down as a whole to a peak of
// WavPeak, as a receiver's level control keeps the audio short of clipping: clipping would fill
// the band with the products of the strong signals.
inline constexpr float WavPeak = 0.95f;
bool writeWav(const QString &path, std::span<const float> samples, int sampleRate);

} // namespace tovrin3::cwgen
