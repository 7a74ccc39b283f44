// SPDX-License-Identifier: GPL-3.0-or-later
// The CW demodulator: frames copied exactly against the signal-to-noise ratio (key-down carrier
// over noise in 3 kHz), frame-shaped lines made up from an hour of noise, and the speed against
// real time at 8 and 48 kHz. Every signal comes from the generator with a fixed seed.
#include "cwdemodulator.h"
#include "cwsignal.h"
#include "morsecode.h"

#include <benchmark/benchmark.h>

#include <QString>

#include <array>
#include <cstdio>

using namespace tovrin3;

namespace {

constexpr int FramesPerPoint = 40;
constexpr double Pitch = 700.0;
constexpr double Drift = 0.5;
constexpr double NoiseHours = 1.0;

std::vector<morse::CopiedLine> demodulate(std::span<const float> samples, double rate)
{
    morse::CwDemodulator demodulator(rate);
    constexpr std::size_t Chunk = 4096;
    for (std::size_t at = 0; at < samples.size(); at += Chunk)
        demodulator.process(samples.subspan(at, std::min(Chunk, samples.size() - at)));
    demodulator.finish();
    return demodulator.takeLines();
}

// Each frame is its own transmission, starting at the pitch and drifting through it, with
// 3 s of noise between frames.
void framesCopied(benchmark::State &state, double wordsPerMinute, double snrDb)
{
    std::mt19937 random(2026);
    QStringList sent;
    std::vector<float> samples;
    for (int frame = 0; frame < FramesPerPoint; ++frame) {
        cwgen::KeyingSettings settings;
        settings.wordsPerMinute = wordsPerMinute;
        settings.pitchHz = Pitch;
        settings.driftHzPerSecond = Drift;
        settings.snrDb = snrDb;
        settings.leadSeconds = 1.5;
        settings.seed = std::uint32_t(1000 * wordsPerMinute + 10 * snrDb + frame + 100000);
        sent << cwgen::randomBeaconLine(random);
        const std::vector<float> part = cwgen::keyTransmissions({sent.back()}, settings);
        samples.insert(samples.end(), part.begin(), part.end());
    }
    int exact = 0;
    int invented = 0;
    for (auto _ : state) {
        QStringList expected = sent;
        exact = 0;
        invented = 0;
        for (const morse::CopiedLine &line : demodulate(samples, 8000.0)) {
            if (expected.removeOne(line.text))
                ++exact;
            else if (morse::isFrameShaped(line.text) && !sent.contains(line.text))
                ++invented;
        }
    }
    state.counters["frames"] = FramesPerPoint;
    state.counters["exact"] = exact;
    state.counters["exact_percent"] = 100.0 * exact / FramesPerPoint;
    state.counters["wrong_frame_lines"] = invented;
}

void framesFromNoise(benchmark::State &state)
{
    cwgen::KeyingSettings settings;
    settings.snrDb = 0.0; // the noise power of a 0 dB point
    settings.leadSeconds = NoiseHours * 3600 / 2;
    settings.seed = 4242;
    const std::vector<float> samples = cwgen::keyTransmissions({}, settings);
    int lines = 0;
    int frameShaped = 0;
    for (auto _ : state) {
        const std::vector<morse::CopiedLine> copied = demodulate(samples, 8000.0);
        lines = int(copied.size());
        frameShaped = int(std::count_if(copied.begin(), copied.end(), [](const auto &line) {
            return morse::isFrameShaped(line.text);
        }));
    }
    state.counters["noise_hours"] = NoiseHours;
    state.counters["lines"] = lines;
    state.counters["frame_shaped_lines"] = frameShaped;
}

// A minute of beacon frames at 0 dB; the rate counter is seconds of audio per second.
void demodulatorSpeed(benchmark::State &state, double rate)
{
    std::mt19937 random(7);
    QStringList lines;
    for (int frame = 0; frame < 2; ++frame)
        lines << cwgen::randomBeaconLine(random);
    cwgen::KeyingSettings settings;
    settings.sampleRate = rate;
    settings.snrDb = 0.0;
    settings.driftHzPerSecond = Drift;
    const std::vector<float> samples = cwgen::keyTransmissions(lines, settings);
    const double seconds = double(samples.size()) / rate;
    for (auto _ : state)
        benchmark::DoNotOptimize(demodulate(samples, rate));
    state.counters["times_real_time"] =
        benchmark::Counter(seconds * double(state.iterations()), benchmark::Counter::kIsRate);
}

struct QualityPoint
{
    double wordsPerMinute;
    double snrDb;
};

constexpr std::array<QualityPoint, 11> QualityPoints{{
    {20, 6},
    {20, 0},
    {20, -3},
    {20, -6},
    {20, -8},
    {20, -10},
    {20, -12},
    {12, 0},
    {12, -6},
    {30, 0},
    {30, -6},
}};

// Google Benchmark names cannot come from a constexpr table through its macros; register here.
const bool registered = [] {
    for (const QualityPoint &point : QualityPoints) {
        const std::string name = "cwFramesCopied/" + std::to_string(int(point.wordsPerMinute)) +
                                 "WPM/" + std::to_string(int(point.snrDb)) + "dB";
        benchmark::RegisterBenchmark(name.c_str(), framesCopied, point.wordsPerMinute, point.snrDb)
            ->Iterations(1)
            ->Unit(benchmark::kSecond);
    }
    return true;
}();

} // namespace

BENCHMARK(framesFromNoise)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(demodulatorSpeed, 8kHz, 8000.0)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(demodulatorSpeed, 48kHz, 48000.0)->Unit(benchmark::kMillisecond)->MinTime(2.0);
