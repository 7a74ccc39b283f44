// SPDX-License-Identifier: GPL-3.0-or-later
// The cost of one keystroke in the main window, from the key press to the window painted again,
// beside a plain repaint of the window; then of the decode run alone, from the change of the input
// text to the end of the end-of-decode actions. Each on an empty report and on a report that has
// grown to 20 MB of text (CR+LF line ends counted as two characters). The keystroke cases report
// the plain repaint measured in the same run and their median as a multiple of it. In a virtual X
// server: xvfb-run -a env QT_QPA_PLATFORM=xcb build/bin/tovrin3-bench --benchmark_filter=keystroke
// Then the same for hostile input, and the start-up of the window with a hostile conf.ini beside
// the program. The user's edits of a 20 MB report box (typing in its middle, Ctrl+A then Delete,
// and the Undo of that) want the real X server too: --benchmark_filter=reportEdit.
// Under valgrind --tool=callgrind --collect-atstart=no only the keystrokes and the plain repaints
// are counted, so their instruction counts compare undisturbed by other processes.
#include "beacontext.h"
#include "benchapplication.h"
#include "decoder.h"
#include "mainwindow.h"
#include "reportview.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <optional>
#include <sys/stat.h>
#include <vector>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define TOVRIN3_COUNTED_BEGIN() CALLGRIND_TOGGLE_COLLECT
#define TOVRIN3_COUNTED_END() CALLGRIND_TOGGLE_COLLECT
#else
#define TOVRIN3_COUNTED_BEGIN()
#define TOVRIN3_COUNTED_END()
#endif

namespace {

constexpr int FramesPerInput = 100;
constexpr qsizetype EarlierReportCharacters = 20 * 1000 * 1000;

// Two texts of the same size, so that every iteration changes the input.
QString beaconInput(unsigned variant)
{
    return QString::fromLatin1(tovrin3::beaconText(FramesPerInput, "\n", 3 + variant));
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
    auto *report = window.findChild<tovrin3::ReportView *>(QStringLiteral("Text3"));
    if (withEarlierReport)
        fillReport(input);
    QCoreApplication::processEvents();
    // In characters as the report box holds them: a line end counts once.
    state.counters["earlier_report_Mchar"] =
        static_cast<double>(report->toPlainText().size()) / 1.0e6;

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

// A window with the 100 frames of beaconInput(0) in the input box, the cursor at their end and
// the focus there, decoded and painted; with a report of 20 MB above if asked.
struct KeystrokeWindow
{
    // The program's folder, with a conf.ini beside the program that turns sharing on (towards a
    // closed port on this machine) and a station log of its own when asked.
    struct ProgramFolder : QTemporaryDir
    {
        explicit ProgramFolder(bool sharingOn)
        {
            if (!sharingOn)
                return;
            QFile configuration(filePath(QStringLiteral("conf.ini")));
            if (!configuration.open(QIODevice::WriteOnly) ||
                configuration.write("CALLSIGN=DL1ABC\nLOCATOR=JO62\nNORAD_ID=99999\n"
                                    "SIDS_URL=http://127.0.0.1:9/\nSHARE=yes\nLOG=yes\n") < 0)
                std::fputs("cannot write the benchmark's conf.ini\n", stderr);
            qputenv("XDG_DATA_HOME", QFile::encodeName(path()));
        }
    };

    ProgramFolder programFolder;
    tovrin3::Form1 window{programFolder.path()};
    QPlainTextEdit *input = nullptr;
    tovrin3::ReportView *report = nullptr;

    explicit KeystrokeWindow(bool withEarlierReport, bool sharingOn = false)
        : programFolder(sharingOn)
    {
        window.show();
        window.activateWindow();
        input = window.findChild<QPlainTextEdit *>(QStringLiteral("Text2"));
        report = window.findChild<tovrin3::ReportView *>(QStringLiteral("Text3"));
        if (withEarlierReport)
            fillReport(input);
        input->setPlainText(beaconInput(0));
        input->moveCursor(QTextCursor::End);
        input->setFocus();
        QCoreApplication::processEvents();
    }

    // A space, then a backspace: each changes the text and decodes all frames again.
    void typeKey(std::size_t keystroke)
    {
        QTest::keyClick(input, keystroke % 2 == 0 ? Qt::Key_Space : Qt::Key_Backspace);
        // The decode has marked what it changed; the paint of it is the end of the keystroke.
        QCoreApplication::processEvents();
    }

    double reportMegaCharacters() const
    {
        return static_cast<double>(report->toPlainText().size()) / 1.0e6;
    }
};

double millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// Every widget of the window painted again, as when the window is uncovered. QWidget::repaint()
// on the main window alone paints little more than its menu bar: its children keep their pixels.
void repaintWholeWindow(QWidget &window)
{
    window.update();
    for (QWidget *child : window.findChildren<QWidget *>())
        child->update();
    QCoreApplication::processEvents();
}

// The median of that many forced repaints of the whole window as it stands.
double plainRepaintMilliseconds(QWidget &window, int repaints)
{
    std::vector<double> times;
    for (int repaint = 0; repaint < repaints; ++repaint) {
        const auto start = std::chrono::steady_clock::now();
        repaintWholeWindow(window);
        times.push_back(millisecondsSince(start));
    }
    std::nth_element(times.begin(), times.begin() + repaints / 2, times.end());
    return times[static_cast<std::size_t>(repaints / 2)];
}

// One keystroke in the input box as the user sees it: from the key press through the decode run
// to the window painted again. The plain repaint of the unchanged window, measured in the same
// run, is the floor it is compared with; an empty report is cleared after every keystroke.
// Sharing on must not change it: pasted text is neither logged nor sent.
void keystroke(benchmark::State &state, bool withEarlierReport, bool sharingOn)
{
    ensureApplication();
    KeystrokeWindow shown(withEarlierReport, sharingOn);
    state.counters["earlier_report_Mchar"] = shown.reportMegaCharacters();
    const double repaintMilliseconds = plainRepaintMilliseconds(shown.window, 51);

    std::vector<double> keystrokeMilliseconds;
    std::size_t next = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        TOVRIN3_COUNTED_BEGIN();
        shown.typeKey(next++);
        TOVRIN3_COUNTED_END();
        keystrokeMilliseconds.push_back(millisecondsSince(start));
        if (!withEarlierReport) {
            state.PauseTiming();
            shown.report->clear();
            QCoreApplication::processEvents();
            state.ResumeTiming();
        }
    }
    const auto middle = keystrokeMilliseconds.begin() +
                        static_cast<std::ptrdiff_t>(keystrokeMilliseconds.size() / 2);
    std::nth_element(keystrokeMilliseconds.begin(), middle, keystrokeMilliseconds.end());
    state.counters["plain_repaint_ms"] = repaintMilliseconds;
    state.counters["times_repaint"] = *middle / repaintMilliseconds;
}

// A forced repaint of the whole unchanged window, the 100 frames decoded.
void plainRepaint(benchmark::State &state, bool withEarlierReport)
{
    ensureApplication();
    KeystrokeWindow shown(withEarlierReport);
    for (auto _ : state) {
        TOVRIN3_COUNTED_BEGIN();
        repaintWholeWindow(shown.window);
        TOVRIN3_COUNTED_END();
    }
}

enum class ReportEdit
{
    TypingInTheMiddle,
    SelectAllThenDelete,
    Undo,
};

double median(std::vector<double> values)
{
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// An edit of the 20 MB report box by the user, from the keys to the box painted again: a
// character typed or taken back with Backspace at the start of the middle line, Ctrl+A then
// Delete, or the Undo of that. What restores the report between edits is not timed.
void reportEdit(benchmark::State &state, ReportEdit edit)
{
    ensureApplication();
    KeystrokeWindow shown(true);
    tovrin3::ReportView *report = shown.report;
    state.counters["report_Mchar"] = shown.reportMegaCharacters();
    report->setFocus();
    const qsizetype middle = report->lineStartOf(report->toPlainText().toUtf8().size() / 2);
    report->setSelection(middle, middle);
    QCoreApplication::processEvents();

    std::vector<double> editMilliseconds;
    std::size_t next = 0;
    for (auto _ : state) {
        if (edit == ReportEdit::Undo) {
            state.PauseTiming();
            QTest::keyClick(report, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(report, Qt::Key_Delete);
            QCoreApplication::processEvents();
            state.ResumeTiming();
        }
        const auto start = std::chrono::steady_clock::now();
        switch (edit) {
        case ReportEdit::TypingInTheMiddle:
            QTest::keyClick(report, next++ % 2 == 0 ? Qt::Key_X : Qt::Key_Backspace);
            break;
        case ReportEdit::SelectAllThenDelete:
            QTest::keyClick(report, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(report, Qt::Key_Delete);
            break;
        case ReportEdit::Undo:
            QTest::keyClick(report, Qt::Key_Z, Qt::ControlModifier);
            break;
        }
        QCoreApplication::processEvents();
        editMilliseconds.push_back(millisecondsSince(start));
        if (edit == ReportEdit::SelectAllThenDelete) {
            state.PauseTiming();
            QTest::keyClick(report, Qt::Key_Z, Qt::ControlModifier);
            QCoreApplication::processEvents();
            state.ResumeTiming();
        }
    }
    state.counters["median_ms"] = median(editMilliseconds);
}

} // namespace

BENCHMARK_CAPTURE(reportEdit, typing_in_the_middle_of_20MB, ReportEdit::TypingInTheMiddle)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(50)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

BENCHMARK_CAPTURE(reportEdit, select_all_then_delete_20MB, ReportEdit::SelectAllThenDelete)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(20)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

BENCHMARK_CAPTURE(reportEdit, undo_of_clearing_20MB, ReportEdit::Undo)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(20)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

BENCHMARK_CAPTURE(keystroke, empty_report, false, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(50)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

BENCHMARK_CAPTURE(keystroke, report_of_20MB, true, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(50)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

BENCHMARK_CAPTURE(keystroke, report_of_20MB_sharing_on, true, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(50)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

BENCHMARK_CAPTURE(plainRepaint, report_of_20MB, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(50)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

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

namespace {

// Wall-clock milliseconds over a fixed number of runs, the median of five repetitions reported.
template<int Runs> void timedInMilliseconds(benchmark::internal::Benchmark *benchmark)
{
    benchmark->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(Runs)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
}

enum class HostileText
{
    RandomCharacters,
    RandomCharactersOnOneLine,
    TwoHundredThousandLines,
    TenThousandFrames,
};

constexpr qsizetype HostileTextSize = 5'000'000;

// Printable and control characters alike, NUL, tabs, CR and LF among them unless the text is to
// stay one line.
QString randomText(bool withLineEnds)
{
    QRandomGenerator random(20261205);
    QString text(HostileTextSize, Qt::Uninitialized);
    for (QChar &character : text) {
        char16_t code = 0;
        do
            code = static_cast<char16_t>(random.bounded(0x80));
        while (!withLineEnds && (code == u'\r' || code == u'\n'));
        character = QChar(code);
    }
    return text;
}

// Alternately empty and a header with half a frame, a frame every 4,000 lines.
QString manyLines()
{
    const QStringList frames =
        QString::fromLatin1(tovrin3::beaconText(50, "\n")).split(QLatin1Char('\n'));
    QStringList lines;
    for (int line = 1; line <= 200'000; ++line) {
        if (line % 4'000 == 0)
            lines.append(frames.at(line / 4'000 - 1));
        else
            lines.append(line % 2 == 0 ? QString() : QStringLiteral("QT7XMRKT3HKD 9001"));
    }
    return lines.join(QLatin1Char('\n'));
}

QString hostileText(HostileText kind)
{
    switch (kind) {
    case HostileText::RandomCharacters:
        return randomText(true);
    case HostileText::RandomCharactersOnOneLine:
        return randomText(false);
    case HostileText::TwoHundredThousandLines:
        return manyLines();
    case HostileText::TenThousandFrames:
        return QString::fromLatin1(tovrin3::beaconText(10'000, "\r\n"));
    }
    return {};
}

// One decode run over text that already stands in the input box: Text2_Change alone.
void hostileDecodeRun(benchmark::State &state, HostileText kind)
{
    ensureApplication();
    const QTemporaryDir programFolder;
    tovrin3::Form1 window(programFolder.path());
    window.show();
    auto *input = window.findChild<QPlainTextEdit *>(QStringLiteral("Text2"));
    auto *report = window.findChild<tovrin3::ReportView *>(QStringLiteral("Text3"));
    input->setPlainText(hostileText(kind));
    QCoreApplication::processEvents();
    report->clear();

    for (auto _ : state) {
        window.Text2_Change();
        state.PauseTiming();
        QCoreApplication::processEvents();
        report->clear();
        state.ResumeTiming();
    }
    state.counters["frames"] = window.frameHistory().frameCount();
}

// The text pasted over an empty box as the user sees it: the box takes it, the run decodes it
// and the window is repainted.
void hostilePaste(benchmark::State &state, HostileText kind)
{
    ensureApplication();
    const QTemporaryDir programFolder;
    tovrin3::Form1 window(programFolder.path());
    window.show();
    auto *input = window.findChild<QPlainTextEdit *>(QStringLiteral("Text2"));
    auto *report = window.findChild<tovrin3::ReportView *>(QStringLiteral("Text3"));
    const QString text = hostileText(kind);
    QCoreApplication::processEvents();

    for (auto _ : state) {
        input->setPlainText(text);
        QCoreApplication::processEvents();
        state.PauseTiming();
        input->clear();
        report->clear();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}

// One keystroke at the end of a typed line of that many characters, the frame line over and
// over, from the key to the end of the run.
void keystrokeOnLongLine(benchmark::State &state, qsizetype lineLength)
{
    ensureApplication();
    const QTemporaryDir programFolder;
    tovrin3::Form1 window(programFolder.path());
    window.show();
    auto *input = window.findChild<QPlainTextEdit *>(QStringLiteral("Text2"));
    auto *report = window.findChild<tovrin3::ReportView *>(QStringLiteral("Text3"));
    const QString frameLine = QString::fromLatin1(tovrin3::beaconText(1, " "));
    input->setPlainText(frameLine.repeated(lineLength / frameLine.size() + 1).left(lineLength - 1));
    input->moveCursor(QTextCursor::End);
    QCoreApplication::processEvents();

    for (auto _ : state) {
        input->insertPlainText(QStringLiteral("0"));
        state.PauseTiming();
        QCoreApplication::processEvents();
        input->textCursor().deletePreviousChar();
        report->clear();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}

} // namespace

BENCHMARK_CAPTURE(hostileDecodeRun, random_5MB, HostileText::RandomCharacters)
    ->Apply(timedInMilliseconds<10>);
BENCHMARK_CAPTURE(hostileDecodeRun, random_5MB_one_line, HostileText::RandomCharactersOnOneLine)
    ->Apply(timedInMilliseconds<10>);
BENCHMARK_CAPTURE(hostileDecodeRun, lines_200000, HostileText::TwoHundredThousandLines)
    ->Apply(timedInMilliseconds<10>);
BENCHMARK_CAPTURE(hostileDecodeRun, frames_10000, HostileText::TenThousandFrames)
    ->Apply(timedInMilliseconds<10>);
BENCHMARK_CAPTURE(keystrokeOnLongLine, line_of_1000, 1'000)->Apply(timedInMilliseconds<50>);
BENCHMARK_CAPTURE(keystrokeOnLongLine, line_of_5000000, HostileTextSize)
    ->Apply(timedInMilliseconds<1>);

BENCHMARK_CAPTURE(hostilePaste, random_5MB, HostileText::RandomCharacters)
    ->Apply(timedInMilliseconds<3>);
BENCHMARK_CAPTURE(hostilePaste, random_5MB_one_line, HostileText::RandomCharactersOnOneLine)
    ->Apply(timedInMilliseconds<2>);
BENCHMARK_CAPTURE(hostilePaste, lines_200000, HostileText::TwoHundredThousandLines)
    ->Apply(timedInMilliseconds<3>);
BENCHMARK_CAPTURE(hostilePaste, frames_10000, HostileText::TenThousandFrames)
    ->Apply(timedInMilliseconds<3>);

namespace {

enum class HostileConfiguration
{
    None,
    BinaryBytes,
    FiftyMegabytes,
    OneLongLine,
    Folder,
    DanglingLink,
    FifoWithoutWriter,
};

QByteArray randomBytes(qsizetype size)
{
    QRandomGenerator random(20261205);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = static_cast<char>(random.bounded(256));
    return bytes;
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

void placeConfiguration(HostileConfiguration kind, const QString &folder)
{
    const QString path = folder + QStringLiteral("/conf.ini");
    switch (kind) {
    case HostileConfiguration::None:
        return;
    case HostileConfiguration::BinaryBytes:
        return writeFile(path, randomBytes(256 * 1024));
    case HostileConfiguration::FiftyMegabytes:
        return writeFile(path, QByteArray("COLOUR=RED\r\n").repeated(50 * 1024 * 1024 / 12));
    case HostileConfiguration::OneLongLine:
        return writeFile(path, "IMAGE_PATH=/" + QByteArray(10 * 1024 * 1024, 'x'));
    case HostileConfiguration::Folder:
        QDir(folder).mkdir(QStringLiteral("conf.ini"));
        return;
    case HostileConfiguration::DanglingLink:
        QFile::link(folder + QStringLiteral("/gone.ini"), path);
        return;
    case HostileConfiguration::FifoWithoutWriter:
        ::mkfifo(QFile::encodeName(path).constData(), 0600);
        return;
    }
}

// From the constructor's start to a window ready to show: widgets, chart and conf.ini.
void startUp(benchmark::State &state, HostileConfiguration kind)
{
    ensureApplication();
    const QTemporaryDir programFolder;
    placeConfiguration(kind, programFolder.path());
    std::optional<tovrin3::Form1> window;

    for (auto _ : state) {
        window.emplace(programFolder.path());
        state.PauseTiming();
        window.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}

} // namespace

BENCHMARK_CAPTURE(startUp, no_conf_ini, HostileConfiguration::None)->Apply(timedInMilliseconds<10>);
BENCHMARK_CAPTURE(startUp, binary_256kB, HostileConfiguration::BinaryBytes)
    ->Apply(timedInMilliseconds<10>);
BENCHMARK_CAPTURE(startUp, lines_50MB, HostileConfiguration::FiftyMegabytes)
    ->Apply(timedInMilliseconds<10>);
BENCHMARK_CAPTURE(startUp, one_line_10MB, HostileConfiguration::OneLongLine)
    ->Apply(timedInMilliseconds<10>);
BENCHMARK_CAPTURE(startUp, folder, HostileConfiguration::Folder)->Apply(timedInMilliseconds<10>);
BENCHMARK_CAPTURE(startUp, dangling_link, HostileConfiguration::DanglingLink)
    ->Apply(timedInMilliseconds<10>);
BENCHMARK_CAPTURE(startUp, fifo_without_writer, HostileConfiguration::FifoWithoutWriter)
    ->Apply(timedInMilliseconds<10>);
