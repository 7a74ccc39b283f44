// SPDX-License-Identifier: GPL-3.0-or-later
#include "beaconreader.h"
#include "beacontext.h"
#include "benchapplication.h"
#include "sidsrequest.h"
#include "sidssender.h"
#include "sidsserver.h"
#include "stationlog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <vector>

using namespace tovrin3;
using namespace tovrin3::station;

namespace {

constexpr int StationFrames = 10'000;
// About what one 64 KiB read of a file brings, which the command line commits at once.
constexpr int FramesPerBatch = 1'200;
constexpr qint64 FirstFrameMs = 1'796'558'400'000;

// A file of timestamped lines, one frame a minute, as tovrin3-cw --timestamps writes them.
QString timestampedText()
{
    const QList<QByteArray> lines = beaconText(StationFrames, "\n").split('\n');
    QByteArray text;
    for (int index = 0; index < StationFrames; ++index)
        text += QDateTime::fromMSecsSinceEpoch(FirstFrameMs + index * 60'000LL, Qt::UTC)
                    .toString(Qt::ISODateWithMs)
                    .toLatin1() +
                '|' + lines[index] + '\n';
    return QString::fromLatin1(text);
}

StationSettings benchSettings(const QString &server)
{
    StationSettings settings;
    settings.callsign = QStringLiteral("DL1ABC");
    settings.locator = QStringLiteral("JN58td");
    settings.noradId = QStringLiteral("99999");
    settings.servers = {QUrl(server)};
    return settings;
}

class ReceptionCollector : public BeaconLineReceiver
{
public:
    bool receiveLine(const BeaconLine &line) override
    {
        if (line.kind == BeaconLine::Kind::Frame && !line.timestamp.isEmpty())
            receptions.push_back({line.frameText.toString(),
                                  QDateTime::fromString(QString(line.timestamp), Qt::ISODateWithMs)
                                      .toMSecsSinceEpoch(),
                                  QStringLiteral("pass.txt"), std::nullopt, false});
        return true;
    }
    std::vector<Reception> receptions;
};

// Reading the file's lines, logging each frame and queueing it for one server, in batches.
void stationLogFromFile(benchmark::State &state)
{
    const QString text = timestampedText();
    const QString server = QStringLiteral("http://127.0.0.1:9/api/telemetry/");
    const StationSettings settings = benchSettings(server);
    const QueueRequest queue{
        {SidsSender::serverKey(QUrl(server))},
        [&](const QString &digits, qint64 time) { return sidsBody(settings, digits, time); }};
    qint64 queued = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        StationLog log;
        log.open(dir.filePath(QStringLiteral("telemetry.sqlite")));
        state.ResumeTiming();
        ReceptionCollector collector;
        BeaconReader reader(collector, {.lineBreaks = LineBreaks::Text, .timestamps = true});
        reader.readText(text);
        for (std::size_t start = 0; start < collector.receptions.size(); start += FramesPerBatch) {
            const std::size_t size =
                std::min<std::size_t>(FramesPerBatch, collector.receptions.size() - start);
            if (const auto result =
                    log.log(std::span(collector.receptions).subspan(start, size), &queue))
                queued += result->queued;
            else
                state.SkipWithError(qPrintable(log.errorString()));
        }
    }
    state.counters["frames"] =
        benchmark::Counter(double(state.iterations()) * StationFrames, benchmark::Counter::kIsRate);
    state.counters["queued"] = double(queued) / double(state.iterations());
}
BENCHMARK(stationLogFromFile)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// A live pipe's way: one transaction per frame.
void stationLogLive(benchmark::State &state)
{
    constexpr int Frames = 1'000;
    std::vector<Reception> receptions;
    for (int index = 0; index < Frames; ++index)
        receptions.push_back(
            {QStringLiteral("900140010C6A00A5%1").arg(index % 100, 2, 10, QChar(u'0')),
             FirstFrameMs + index * 60'000LL, QStringLiteral("listen"), 0.97, false});
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        StationLog log;
        log.open(dir.filePath(QStringLiteral("telemetry.sqlite")));
        state.ResumeTiming();
        for (const Reception &reception : receptions)
            if (!log.log(std::span(&reception, 1)))
                state.SkipWithError(qPrintable(log.errorString()));
    }
    state.counters["frames"] =
        benchmark::Counter(double(state.iterations()) * Frames, benchmark::Counter::kIsRate);
}
BENCHMARK(stationLogLive)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// A queue of 10,000 frames sent to a server on the loopback address that answers at once.
void stationQueueDrain(benchmark::State &state)
{
    ensureApplication();
    int connections = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("telemetry.sqlite"));
        testing::SidsServer server;
        server.listen();
        const StationSettings settings = benchSettings(server.url().toString());
        const QueueRequest queue{
            {SidsSender::serverKey(server.url())},
            [&](const QString &digits, qint64 time) { return sidsBody(settings, digits, time); }};
        std::vector<Reception> receptions;
        for (int index = 0; index < StationFrames; ++index)
            receptions.push_back({QStringLiteral("900140010C6A%1").arg(index, 6, 10, QChar(u'0')),
                                  FirstFrameMs + index * 60'000LL, QStringLiteral("bench"),
                                  std::nullopt, false});
        StationLog log;
        log.open(path);
        log.log(receptions, &queue);
        SidsSender sender(path, settings.servers);
        QEventLoop loop;
        QObject::connect(&sender, &SidsSender::drained, &loop, &QEventLoop::quit);
        state.ResumeTiming();
        sender.start();
        sender.drain();
        loop.exec();
        state.PauseTiming();
        if (sender.acceptedCount() != StationFrames)
            state.SkipWithError("not every frame was accepted");
        connections = server.connections;
        state.ResumeTiming();
    }
    state.counters["frames"] =
        benchmark::Counter(double(state.iterations()) * StationFrames, benchmark::Counter::kIsRate);
    state.counters["connections"] = connections;
}
BENCHMARK(stationQueueDrain)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

} // namespace
