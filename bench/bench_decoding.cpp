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

// The command-line decoder over a file of a million frames, read from memory.
void commandLineDecoder(benchmark::State &state)
{
    static const QByteArray input = beaconText(CommandLineFrames, "\n");
    qint64 reportBytes = 0;
    for (auto _ : state) {
        QBuffer source;
        source.setData(input);
        source.open(QIODevice::ReadOnly);
        DiscardingDevice report;
        if (decodeStream(source, report) != StreamOutcome::Decoded)
            state.SkipWithError("decoding failed");
        reportBytes += report.bytesTaken();
    }
    const auto iterations = double(state.iterations());
    state.SetBytesProcessed(qint64(state.iterations()) * input.size());
    state.counters["frames"] =
        benchmark::Counter(iterations * CommandLineFrames, benchmark::Counter::kIsRate);
    state.counters["report_bytes"] =
        benchmark::Counter(double(reportBytes), benchmark::Counter::kIsRate);
}
BENCHMARK(commandLineDecoder)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
