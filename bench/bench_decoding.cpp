// SPDX-License-Identifier: GPL-3.0-or-later
#include "beacontext.h"
#include "decoder.h"
#include "streamdecoding.h"

#include <QBuffer>
#include <QIODevice>

#include <benchmark/benchmark.h>

#include <memory>

using namespace tovrin3;

namespace {

constexpr int CommandLineFrames = 1'000'000;

// Takes the whole report and keeps only its size, so writing costs next to nothing.
class DiscardingDevice : public QIODevice
{
public:
    DiscardingDevice() { open(WriteOnly | Unbuffered); }
    bool isSequential() const override { return true; }
    qint64 bytesTaken() const { return m_bytesTaken; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        benchmark::DoNotOptimize(data);
        m_bytesTaken += size;
        return size;
    }

private:
    qint64 m_bytesTaken = 0;
};

// One paste of a full window's worth of frames.
void coreDecodeRun(benchmark::State &state)
{
    const QString text = QString::fromLatin1(beaconText(MaxFrames, "\r\n"));
    const auto history = std::make_unique<FrameHistory>();
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeBeaconText(text, *history));
    state.counters["frames"] =
        benchmark::Counter(double(state.iterations()) * MaxFrames, benchmark::Counter::kIsRate);
}
BENCHMARK(coreDecodeRun)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The command-line decoder over a file of a million frames, read from memory, in each format.
void commandLineDecoder(benchmark::State &state, OutputFormat format)
{
    static const QByteArray input = beaconText(CommandLineFrames, "\n");
    const DecodeSettings settings{format, nullptr};
    qint64 outputBytes = 0;
    for (auto _ : state) {
        QBuffer source;
        source.setData(input);
        source.open(QIODevice::ReadOnly);
        DiscardingDevice output;
        if (decodeStream(source, output, settings) != StreamOutcome::Decoded)
            state.SkipWithError("decoding failed");
        outputBytes += output.bytesTaken();
    }
    const auto iterations = double(state.iterations());
    state.SetBytesProcessed(qint64(state.iterations()) * input.size());
    state.counters["frames"] =
        benchmark::Counter(iterations * CommandLineFrames, benchmark::Counter::kIsRate);
    state.counters["output_bytes"] =
        benchmark::Counter(double(outputBytes), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(commandLineDecoder, report, OutputFormat::Report)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(commandLineDecoder, csv, OutputFormat::Csv)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(commandLineDecoder, json, OutputFormat::Json)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
