// SPDX-License-Identifier: GPL-3.0-or-later
// The History window over a ten-year log of a million frames: opening with the last 7 days, a
// change of range to all ten years, and zooming. Each figure is the time the window's event loop
// is held: what the user waits before the window answers again.
#include "benchapplication.h"
#include "historybench.h"
#include "historychart.h"
#include "historylog.h"
#include "historywindow.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>

using namespace tovrin3;

namespace {

// The log's last frame: the window's "now", so that the last 7 days hold passes.
qint64 lastFrameMs()
{
    history::HistoryLog log;
    if (!log.open(generatedLog()))
        return 0;
    return *log.span()->untilMs - 1;
}

std::unique_ptr<HistoryWindow> shownWindow(const QString &programFolder, qint64 nowMs)
{
    auto window = std::make_unique<HistoryWindow>(programFolder, generatedLog());
    window->setNow([nowMs] { return nowMs; });
    window->resize(1400, 700);
    window->show();
    // The first range is read once the event loop runs.
    QApplication::processEvents();
    return window;
}

// From the window's making to its first plot of the last 7 days, the pass list beside it.
void historyWindowOpen(benchmark::State &state)
{
    ensureApplication();
    const qint64 now = lastFrameMs();
    QTemporaryDir programFolder;
    qsizetype lines = 0;
    for (auto _ : state) {
        auto window = shownWindow(programFolder.path(), now);
        lines = window->chart()->drawnLines().size();
        state.PauseTiming();
        window.reset();
        state.ResumeTiming();
    }
    state.counters["lines"] = double(lines);
}

// "All" on an open window: the ten years' plot and pass list.
void historyWindowRangeAll(benchmark::State &state)
{
    ensureApplication();
    QTemporaryDir programFolder;
    auto window = shownWindow(programFolder.path(), lastFrameMs());
    for (auto _ : state) {
        window->showRange(HistoryWindow::Range::All);
        state.PauseTiming();
        window->showRange(HistoryWindow::Range::LastWeek);
        state.ResumeTiming();
    }
    state.counters["passes"] = double(window->passes().size());
}

// Halving the shown time of all ten years step by step down to a day, as turning the wheel
// does; the counter is the longest single step.
void historyWindowZoom(benchmark::State &state)
{
    ensureApplication();
    QTemporaryDir programFolder;
    auto window = shownWindow(programFolder.path(), lastFrameMs());
    window->showRange(HistoryWindow::Range::All);
    double longestMs = 0.0;
    QElapsedTimer step;
    for (auto _ : state) {
        while (window->shownToMs() - window->shownFromMs() > 24 * 3600 * 1000) {
            const qint64 quarter = (window->shownToMs() - window->shownFromMs()) / 4;
            step.start();
            window->zoomTo(window->shownFromMs() + quarter, window->shownToMs() - quarter);
            longestMs = std::max(longestMs, double(step.nsecsElapsed()) / 1e6);
        }
        state.PauseTiming();
        while (window->back()) {
        }
        state.ResumeTiming();
    }
    state.counters["longest_step_ms"] = longestMs;
}

} // namespace

BENCHMARK(historyWindowOpen)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();
BENCHMARK(historyWindowRangeAll)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();
BENCHMARK(historyWindowZoom)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();
