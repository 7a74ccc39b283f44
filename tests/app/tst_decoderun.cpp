// One decode run per change of the input box: the report appended below the earlier ones, the
// input read line by line whatever its line ends, and the new report brought into view.
#include "channelchart.h"
#include "decoder.h"
#include "windowtesting.h"

#include <QFile>
#include <QGroupBox>
#include <QLabel>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

// The report of one run as the report box shows it.
QString expectedReport(const QStringList &frameLines)
{
    FrameHistory history;
    return decodeBeaconText(crlfJoined(frameLines), history)
        .replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QString fileText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).remove(QLatin1Char('\r'));
}

void typeAtEnd(Form1 &window, const QString &text)
{
    auto *input = control<QPlainTextEdit>(window, "Text2");
    input->moveCursor(QTextCursor::End);
    QTest::keyClicks(input, text);
}

} // namespace

class TestDecodeRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void pastedFramesGiveNumberedBlocks();
    void keystrokeAppendsNewNumberedSet();
    void readsLinesWhateverTheirEnds_data();
    void readsLinesWhateverTheirEnds();
    void decodesOnEveryKeystroke();
    void keepsNoBreakSpace();
    void bringsNewReportIntoView();
    void keepsUserCursorInReport_data();
    void keepsUserCursorInReport();
    void decodesBundledSample();

private:
    std::unique_ptr<ShownWindow> m_shown;
};

void TestDecodeRun::initTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TestDecodeRun::init()
{
    m_shown = showWindow();
}

void TestDecodeRun::cleanup()
{
    m_shown.reset();
}

void TestDecodeRun::pastedFramesGiveNumberedBlocks()
{
    const QStringList frames = frameLines(2);
    pasteInput(m_shown->window, crlfJoined(frames));

    QCOMPARE(reportHeadings(m_shown->window), QStringList({"#1", "#2"}));
    QCOMPARE(reportText(m_shown->window), expectedReport(frames));
}

void TestDecodeRun::keystrokeAppendsNewNumberedSet()
{
    const QStringList frames = frameLines(2);
    pasteInput(m_shown->window, crlfJoined(frames));
    typeAtEnd(m_shown->window, QStringLiteral(" "));

    QCOMPARE(reportHeadings(m_shown->window), QStringList({"#1", "#2", "#1", "#2"}));
    QCOMPARE(reportText(m_shown->window), expectedReport(frames) + expectedReport(frames));
}

void TestDecodeRun::readsLinesWhateverTheirEnds_data()
{
    QTest::addColumn<QString>("lineEnd");

    QTest::newRow("CR+LF") << QStringLiteral("\r\n");
    QTest::newRow("LF") << QStringLiteral("\n");
    QTest::newRow("CR") << QStringLiteral("\r");
}

void TestDecodeRun::readsLinesWhateverTheirEnds()
{
    QFETCH(QString, lineEnd);

    const QStringList frames = frameLines(3);
    pasteInput(m_shown->window, frames.join(lineEnd) + lineEnd);

    QCOMPARE(reportText(m_shown->window), expectedReport(frames));
    QCOMPARE(m_shown->window.frameHistory().FrameCount, 3);
}

// Every keystroke is a run of its own: only the last character completes the frame, and a line
// broken with Shift+Return counts as two lines.
void TestDecodeRun::decodesOnEveryKeystroke()
{
    typeAtEnd(m_shown->window, QStringLiteral("900140010C6A00A503"));
    QCOMPARE(reportHeadings(m_shown->window), QStringList({"#1"}));

    QTest::keyClick(control<QPlainTextEdit>(m_shown->window, "Text2"), Qt::Key_Return,
                    Qt::ShiftModifier);
    QApplication::clipboard()->setText(frameLine(20, 30, 1, 1));
    QTest::keySequence(control<QPlainTextEdit>(m_shown->window, "Text2"), QKeySequence::Paste);

    QCOMPARE(reportHeadings(m_shown->window), QStringList({"#1", "#1", "#1", "#2"}));
}

// A no-break space is not one of the spaces that cleaning removes, so the line is no frame.
void TestDecodeRun::keepsNoBreakSpace()
{
    pasteInput(m_shown->window, QStringLiteral("QT7XMRKT3HKD 9001\u00A04001 0C6A 00 A5 03"));

    QCOMPARE(m_shown->window.frameHistory().FrameCount, 0);
    QVERIFY(reportText(m_shown->window).isEmpty());
}

void TestDecodeRun::bringsNewReportIntoView()
{
    const QStringList frames = frameLines(12);
    pasteInput(m_shown->window, crlfJoined(frames));
    typeAtEnd(m_shown->window, QStringLiteral(" "));

    auto *report = control<QPlainTextEdit>(m_shown->window, "Text3");
    const int startOfSecondSet = int(expectedReport(frames).size());
    QTRY_COMPARE(report->cursorForPosition(QPoint(0, 0)).position(), startOfSecondSet);
}

void TestDecodeRun::keepsUserCursorInReport_data()
{
    QTest::addColumn<int>("anchor");
    QTest::addColumn<int>("position"); // -1: the end of the first report

    QTest::newRow("selection inside the report") << 4 << 20;
    QTest::newRow("cursor at the end of the report") << -1 << -1;
}

void TestDecodeRun::keepsUserCursorInReport()
{
    QFETCH(int, anchor);
    QFETCH(int, position);

    pasteInput(m_shown->window, crlfJoined(frameLines(2)));
    auto *report = control<QPlainTextEdit>(m_shown->window, "Text3");
    const int end = report->document()->characterCount() - 1;
    QTextCursor userCursor(report->document());
    userCursor.setPosition(anchor < 0 ? end : anchor);
    userCursor.setPosition(position < 0 ? end : position, QTextCursor::KeepAnchor);
    report->setTextCursor(userCursor);
    const int userAnchor = userCursor.anchor();
    const int userPosition = userCursor.position();
    const QString selected = userCursor.selectedText();

    typeAtEnd(m_shown->window, QStringLiteral(" "));

    QCOMPARE(reportHeadings(m_shown->window).size(), 4);
    QCOMPARE(report->textCursor().anchor(), userAnchor);
    QCOMPARE(report->textCursor().position(), userPosition);
    QCOMPARE(report->textCursor().selectedText(), selected);
}

void TestDecodeRun::decodesBundledSample()
{
    const QString sample = fileText(QStringLiteral(SAMPLES_DIR "/beacon.txt"));
    const QString expected = fileText(QStringLiteral(TEST_DATA_DIR "/beacon.report.txt"));
    QVERIFY(!sample.isEmpty());
    QVERIFY(!expected.isEmpty());

    pasteInput(m_shown->window, sample);

    QCOMPARE(reportText(m_shown->window), expected);
    const int frameCount = int(reportHeadings(m_shown->window).size());
    QCOMPARE(control<QLabel>(m_shown->window, "Label2")->text(),
             QStringLiteral("1/%1").arg(frameCount));
    QCOMPARE(control<QGroupBox>(m_shown->window, "Frame8")->title(),
             QStringLiteral("COM Temperature"));
    QCOMPARE(control<ChannelChart>(m_shown->window, "MSChart1")->rowCount(), frameCount);
}

QTEST_MAIN(TestDecodeRun)
#include "tst_decoderun.moc"
