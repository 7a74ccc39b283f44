// SPDX-License-Identifier: GPL-3.0-or-later
// What listening costs: a minute of a noisy beacon pass captured in the chunks the Listen window
// reads (a tenth of a second), each converted from the capture format to mono, demodulated,
// measured for the level meter, turned into waterfall rows and drawn. cpu_per_100s_audio is the
// CPU time spent on 100 seconds of audio, so its number of seconds is the percentage of one core
// that listening takes.
#include "benchapplication.h"
#include "cwdemodulator.h"
#include "cwsignal.h"
#include "livecopy.h"
#include "waterfall.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <random>

namespace {

constexpr double PassSeconds = 60.0;
constexpr double ChunkSeconds = 0.1;

// The pass as the device delivers it: 32-bit float in `channels` interleaved channels.
QByteArray capturedPass(int sampleRate, int channels)
{
    tovrin3::cwgen::KeyingSettings settings;
    settings.sampleRate = sampleRate;
    settings.wordsPerMinute = 20.0;
    settings.snrDb = 0.0;
    settings.gapSeconds = 2.0;
    std::mt19937 random(5);
    QStringList lines;
    std::vector<float> samples;
    while (samples.size() < static_cast<std::size_t>(PassSeconds * sampleRate)) {
        lines.append(tovrin3::cwgen::randomBeaconLine(random));
        samples = tovrin3::cwgen::keyTransmissions(lines, settings);
    }
    samples.resize(static_cast<std::size_t>(PassSeconds * sampleRate));
    QByteArray bytes;
    for (const float sample : samples) {
        for (int channel = 0; channel < channels; ++channel)
            bytes.append(reinterpret_cast<const char *>(&sample), sizeof sample);
    }
    return bytes;
}

void listening(benchmark::State &state)
{
    ensureApplication();
    const int sampleRate = static_cast<int>(state.range(0));
    const int channels = static_cast<int>(state.range(1));
    QAudioFormat format;
    format.setSampleRate(sampleRate);
    format.setChannelCount(channels);
    format.setSampleFormat(QAudioFormat::Float);
    const QByteArray pass = capturedPass(sampleRate, channels);
    const auto chunkBytes =
        static_cast<qsizetype>(std::lround(ChunkSeconds * sampleRate)) * format.bytesPerFrame();
    tovrin3::Waterfall waterfall;
    waterfall.resize(waterfall.sizeHint());
    QImage screen(waterfall.size(), QImage::Format_RGB32);

    std::size_t lines = 0;
    for (auto _ : state) {
        tovrin3::morse::CwDemodulator demodulator(sampleRate);
        tovrin3::SpectrumRows spectrum(sampleRate);
        std::vector<float> samples;
        for (qsizetype offset = 0; offset < pass.size(); offset += chunkBytes) {
            samples.clear();
            tovrin3::appendMono(
                QByteArrayView(pass).sliced(offset, std::min(chunkBytes, pass.size() - offset)),
                format, samples);
            demodulator.process(samples);
            lines += demodulator.takeLines().size();
            float peak = 0.0F;
            for (const float sample : samples)
                peak = std::max(peak, std::abs(sample));
            benchmark::DoNotOptimize(peak);
            for (const std::vector<float> &row : spectrum.process(samples))
                waterfall.addRow(row);
            waterfall.render(&screen);
        }
    }
    state.counters["lines"] =
        benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kAvgIterations);
    state.counters["cpu_per_100s_audio"] =
        benchmark::Counter(PassSeconds / 100.0, benchmark::Counter::kIsIterationInvariantRate |
                                                    benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(listening)
    ->ArgNames({"rate", "channels"})
    ->Args({16000, 1})
    ->Args({48000, 2})
    ->Unit(benchmark::kMillisecond);
