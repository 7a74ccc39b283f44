// The cost of one decode run in the main window, from the change of the input text to the end of
// the end-of-decode actions, on an empty report and on a report that has grown to 20 MB of text
// (CR+LF line ends counted as two characters).
#include "decoder.h"
#include "mainwindow.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <array>

namespace {

constexpr int FramesPerInput = 100;
constexpr qsizetype EarlierReportCharacters = 20 * 1000 * 1000;

// The windows need an application object. Benchmarks run without a display, so the offscreen
// platform is chosen unless the caller set another one.
void ensureApplication()
{
    if (QApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char programName[] = "tovrin3-bench";
    static char *argv[] = {programName, nullptr};
    // Lives until the process ends, like the benchmark registry itself.
    new QApplication(argc, argv);
}

QString hexByte(int value)
{
    return QStringLiteral("%1").arg(value & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
}

// Frame lines with the station header, temperatures varying from frame to frame; `variant` gives
// a second text of the same size so that every iteration changes the input.
QString beaconInput(int variant)
{
    QString text;
    for (int frame = 1; frame <= FramesPerInput; ++frame) {
        const int comWord = (frame % 40 + variant) * 16;
        const int batteryWord = (25 + frame % 9) * 16;
        text += QStringLiteral("QT7XMRKT3HKD ") + hexByte(batteryWord) + hexByte(batteryWord >> 8) +
                hexByte(comWord) + hexByte(comWord >> 8) + QStringLiteral("0C6A00A503\n");
    }
    return text;
}

// The report text one run over beaconInput() appends, CR+LF line ends included.
qsizetype reportSizeOfOneRun()
{
    tovrin3::FrameHistory history;
    QString input = beaconInput(0);
    input.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return tovrin3::decodeBeaconText(input, history).size();
}

// Grows the report through decode runs of the window itself, each followed by its repaint, so it
// is stored exactly as a long session leaves it.
void fillReport(QPlainTextEdit *input)
{
    const std::array inputs{beaconInput(0), beaconInput(1)};
    const qsizetype runs = EarlierReportCharacters / reportSizeOfOneRun() + 1;
    for (qsizetype run = 0; run < runs; ++run) {
        input->setPlainText(inputs[static_cast<std::size_t>(run % 2)]);
        QCoreApplication::processEvents();
    }
}

void decodeRun(benchmark::State &state, bool withEarlierReport)
{
    ensureApplication();
    const QTemporaryDir programFolder;
    tovrin3::Form1 window(programFolder.path());
    window.show();
    auto *input = window.findChild<QPlainTextEdit *>(QStringLiteral("Text2"));
    auto *report = window.findChild<QPlainTextEdit *>(QStringLiteral("Text3"));
    if (withEarlierReport)
        fillReport(input);
    QCoreApplication::processEvents();
    // In characters as the report box holds them: a line end counts once.
    state.counters["earlier_report_Mchar"] =
        static_cast<double>(report->document()->characterCount() - 1) / 1.0e6;

    const std::array inputs{beaconInput(0), beaconInput(1)};
    std::size_t next = 0;
    for (auto _ : state) {
        input->setPlainText(inputs[next]);
        next = 1 - next;
        // Repainting belongs to the next display frame, not to the run; an empty report stays
        // empty for every run.
        state.PauseTiming();
        QCoreApplication::processEvents();
        if (!withEarlierReport)
            report->clear();
        state.ResumeTiming();
    }
}

} // namespace

BENCHMARK_CAPTURE(decodeRun, empty_report, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(50)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

BENCHMARK_CAPTURE(decodeRun, report_of_20MB, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(50)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
