// SPDX-License-Identifier: GPL-3.0-or-later
// What listening costs: a minute of a noisy beacon pass captured in the chunks the Listen window
// reads (a tenth of a second), each converted from the capture format to mono, demodulated,
// measured for the level meter, turned into waterfall rows and drawn. cpu_per_100s_audio is the
// CPU time spent on 100 seconds of audio, so its number of seconds is the percentage of one core
// that listening takes; longest_chunk_cpu_ms is the processor time of the longest of those
// chunks, which is how long the window's event loop stood still when it demodulated itself.
//
// listening_stall runs the live copy itself, its demodulation on its own thread, on the pass
// delivered ten times faster than real time, with the window's own work on each chunk, and
// measures how long the event loop stood still: longest_window_cpu_ms is the most processor
// time the window's thread spent between two ticks of a 1 ms timer, longest_stall_ms the longest
// gap between two ticks less the 1 ms, which a loaded machine lengthens; stop_ms is how long
// stopping took (the last transmission finished and its thread joined).
#include "bandanalysis.h"
#include "benchapplication.h"
#include "cwdemodulator.h"
#include "cwsignal.h"
#include "livecopy.h"
#include "waterfall.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QIODevice>
#include <QImage>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include <time.h>

namespace {

constexpr double PassSeconds = 60.0;
constexpr double ChunkSeconds = 0.1;

// Processor time of the calling thread, not the wall clock: other programs on the machine do
// not lengthen it.
double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

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
    double longestChunkSeconds = 0.0;
    for (auto _ : state) {
        tovrin3::morse::CwDemodulator demodulator(sampleRate);
        tovrin3::morse::WaterfallSpectrum spectrum(sampleRate);
        std::vector<float> samples;
        for (qsizetype offset = 0; offset < pass.size(); offset += chunkBytes) {
            const double chunkStart = threadCpuSeconds();
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
            longestChunkSeconds = std::max(longestChunkSeconds, threadCpuSeconds() - chunkStart);
        }
    }
    state.counters["longest_chunk_cpu_ms"] = longestChunkSeconds * 1000.0;
    state.counters["lines"] =
        benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kAvgIterations);
    state.counters["cpu_per_100s_audio"] =
        benchmark::Counter(PassSeconds / 100.0, benchmark::Counter::kIsIterationInvariantRate |
                                                    benchmark::Counter::kInvert);
}

// The capture as a sound device delivers it: the bytes of the pass, released as the time passes
// at `speed` times real time.
class PacedCapture : public QIODevice
{
public:
    PacedCapture(QByteArray bytes, qint64 bytesPerSecond, double speed)
        : m_bytes(std::move(bytes)), m_bytesPerSecond(static_cast<double>(bytesPerSecond) * speed)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        m_clock.start();
    }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return released() - m_read; }
    bool deliveredAll() const { return m_read == m_bytes.size(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 size = std::min(maxSize, released() - m_read);
        std::memcpy(data, m_bytes.constData() + m_read, static_cast<std::size_t>(size));
        m_read += size;
        return size;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    qint64 released() const
    {
        return std::min(m_bytes.size(),
                        static_cast<qint64>(static_cast<double>(m_clock.nsecsElapsed()) * 1e-9 *
                                            m_bytesPerSecond));
    }

    QByteArray m_bytes;
    double m_bytesPerSecond;
    QElapsedTimer m_clock;
    qint64 m_read = 0;
};

void listening_stall(benchmark::State &state)
{
    ensureApplication();
    constexpr double Speed = 10.0;
    const int sampleRate = static_cast<int>(state.range(0));
    const int channels = static_cast<int>(state.range(1));
    QAudioFormat format;
    format.setSampleRate(sampleRate);
    format.setChannelCount(channels);
    format.setSampleFormat(QAudioFormat::Float);
    const QByteArray pass = capturedPass(sampleRate, channels);
    tovrin3::Waterfall waterfall;
    waterfall.resize(waterfall.sizeHint());
    QImage screen(waterfall.size(), QImage::Format_RGB32);

    double longestStallMs = 0.0;
    double longestWindowCpuMs = 0.0;
    double stopMs = 0.0;
    std::size_t lines = 0;
    for (auto _ : state) {
        PacedCapture capture(pass, format.bytesForDuration(1'000'000), Speed);
        tovrin3::LiveCopy copy;
        tovrin3::morse::WaterfallSpectrum spectrum(sampleRate);
        QObject::connect(&copy, &tovrin3::LiveCopy::captured, [&](std::span<const float> samples) {
            float peak = 0.0F;
            for (const float sample : samples)
                peak = std::max(peak, std::abs(sample));
            benchmark::DoNotOptimize(peak);
            for (const std::vector<float> &row : spectrum.process(samples))
                waterfall.addRow(row);
            waterfall.render(&screen);
        });
        QObject::connect(&copy, &tovrin3::LiveCopy::lineCopied, [&lines] { ++lines; });
        QEventLoop loop;
        QElapsedTimer sinceTick;
        double cpuAtTick = 0.0;
        QTimer ticks;
        ticks.setTimerType(Qt::PreciseTimer);
        ticks.setInterval(1);
        QObject::connect(&ticks, &QTimer::timeout, [&] {
            longestStallMs = std::max(longestStallMs,
                                      static_cast<double>(sinceTick.nsecsElapsed()) * 1e-6 - 1.0);
            sinceTick.restart();
            const double cpu = threadCpuSeconds();
            longestWindowCpuMs = std::max(longestWindowCpuMs, (cpu - cpuAtTick) * 1000.0);
            cpuAtTick = cpu;
            if (capture.deliveredAll() && capture.bytesAvailable() == 0)
                loop.quit();
        });
        copy.startFrom(&capture, format);
        sinceTick.start();
        cpuAtTick = threadCpuSeconds();
        ticks.start();
        loop.exec();
        QElapsedTimer stopping;
        stopping.start();
        copy.stop();
        stopMs = std::max(stopMs, static_cast<double>(stopping.nsecsElapsed()) * 1e-6);
    }
    state.counters["longest_stall_ms"] = longestStallMs;
    state.counters["longest_window_cpu_ms"] = longestWindowCpuMs;
    state.counters["stop_ms"] = stopMs;
    state.counters["lines"] =
        benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kAvgIterations);
}

} // namespace

BENCHMARK(listening_stall)
    ->ArgNames({"rate", "channels"})
    ->Args({16000, 1})
    ->Args({48000, 2})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

BENCHMARK(listening)
    ->ArgNames({"rate", "channels"})
    ->Args({16000, 1})
    ->Args({48000, 2})
    ->Unit(benchmark::kMillisecond);
