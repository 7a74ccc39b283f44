// Whatever is pasted or typed into the input box, a decode run neither crashes nor changes what
// the user gave it, and the report below only ever grows by the run's own text.
#include "channelchart.h"
#include "decoder.h"
#include "windowtesting.h"

#include <QGroupBox>
#include <QLabel>
#include <QRandomGenerator>
#include <QScrollBar>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

constexpr quint32 RandomSeed = 20261205;

// Printable and control characters alike, NUL and tabs among them, and CR and LF too unless the
// text is to stay one line.
QString randomAsciiText(qsizetype length, bool withLineEnds)
{
    QRandomGenerator random(RandomSeed);
    QString text(length, Qt::Uninitialized);
    for (QChar &character : text) {
        char16_t code = 0;
        do
            code = static_cast<char16_t>(random.bounded(0x80));
        while (!withLineEnds && (code == u'\r' || code == u'\n'));
        character = QChar(code);
    }
    return text;
}

// Empty lines and lines that only look like frames, with a frame after every `spacing` lines.
QString manyLines(int lineCount, int spacing)
{
    const QStringList frames = frameLines(lineCount / spacing);
    QStringList lines;
    lines.reserve(lineCount);
    for (int line = 1; line <= lineCount; ++line) {
        if (line % spacing == 0)
            lines.append(frames.at(line / spacing - 1));
        else
            lines.append(line % 2 == 0 ? QString() : QStringLiteral("QT7XMRKT3HKD 9001"));
    }
    return lines.join(QLatin1Char('\n'));
}

QString withCharacter(QString text, qsizetype position, char16_t character)
{
    return text.insert(position, QChar(character));
}

QString replacedCharacter(QString text, qsizetype position, char16_t character)
{
    text[position] = QChar(character);
    return text;
}

// The text as the input box holds it: CR+LF, a lone CR and a lone LF each end a paragraph.
QString asParagraphs(QString text)
{
    text.replace(QStringLiteral("\r\n"), QChar(QChar::ParagraphSeparator));
    text.replace(QLatin1Char('\r'), QChar(QChar::ParagraphSeparator));
    text.replace(QLatin1Char('\n'), QChar(QChar::ParagraphSeparator));
    return text;
}

// What the core reports for the lines of the text, in the report box's line ends.
QString coreReport(const QString &text)
{
    const QStringList lines = asParagraphs(text).split(QChar(QChar::ParagraphSeparator));
    FrameHistory history;
    return decodeBeaconText(crlfJoined(lines), history)
        .replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QString inputText(const Form1 &window)
{
    return control<QPlainTextEdit>(window, "Text2")->document()->toRawText();
}

// Characters in the report box, a line end counted once.
int reportLength(const Form1 &window)
{
    return control<QPlainTextEdit>(window, "Text3")->document()->characterCount() - 1;
}

QString reportStart(const Form1 &window, int length)
{
    QTextCursor cursor(control<QPlainTextEdit>(window, "Text3")->document());
    cursor.setPosition(std::min(length, reportLength(window)), QTextCursor::KeepAnchor);
    return cursor.selectedText();
}

} // namespace

class TestHostileInput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void pasteKeepsInputAndAppendsReport_data();
    void pasteKeepsInputAndAppendsReport();
    void tenThousandFramesFillTheHistory();
    void typedFrameLinesOnlyAppend();

private:
    std::unique_ptr<ShownWindow> m_shown;
};

void TestHostileInput::initTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TestHostileInput::init()
{
    m_shown = showWindow();
}

void TestHostileInput::cleanup()
{
    m_shown.reset();
}

void TestHostileInput::pasteKeepsInputAndAppendsReport_data()
{
    QTest::addColumn<QString>("pasted");

    const QString frame = frameLine(21, 34, 5, 1);
    const qsizetype middle = frame.indexOf(QLatin1Char(' ')) + 3;
    const qsizetype end = frame.size();
    const QString frames = crlfJoined(frameLines(3));

    QTest::newRow("5 MB of random characters") << randomAsciiText(5'000'000, true);
    QTest::newRow("5 MB of random characters on one line") << randomAsciiText(5'000'000, false);
    QTest::newRow("200,000 lines") << manyLines(200'000, 4'000);

    QTest::newRow("NUL added inside a frame") << withCharacter(frame, middle, u'\0');
    QTest::newRow("NUL instead of a digit") << replacedCharacter(frame, middle, u'\0');
    QTest::newRow("NUL before and after frames")
        << QChar(u'\0') + QStringLiteral("\r\n") + frames + QChar(u'\0');
    QTest::newRow("NUL ending each line")
        << frameLines(3).join(QChar(u'\0') + QStringLiteral("\n"));
    QTest::newRow("lines of NULs only") << QString(64, QChar(u'\0')) + QStringLiteral("\r\n\r\n");

    QTest::newRow("lone high surrogate instead of a digit")
        << replacedCharacter(frame, middle, u'\xD800');
    QTest::newRow("lone low surrogate instead of a digit")
        << replacedCharacter(frame, middle, u'\xDFFF');
    QTest::newRow("lone high surrogate ending a frame") << withCharacter(frame, end, u'\xDBFF');
    QTest::newRow("lone low surrogate starting a frame") << withCharacter(frame, 0, u'\xDC00');
    QTest::newRow("surrogates in the wrong order inside a frame")
        << withCharacter(withCharacter(frame, middle, u'\xD800'), middle, u'\xDC00');
    QTest::newRow("lone surrogates between frames") << QString(frames).replace(
        QStringLiteral("\r\n"), QChar(u'\xD83D') + QStringLiteral("\r\n") + QChar(u'\xDE00'));
}

// The input box holds exactly what was pasted, and the report gains exactly what the core
// reports for it, after an earlier run's report that stays as it was.
void TestHostileInput::pasteKeepsInputAndAppendsReport()
{
    QFETCH(QString, pasted);
    Form1 &window = m_shown->window;
    pasteInput(window, crlfJoined(frameLines(2)));
    const QString earlierReport = reportText(window);

    pasteInput(window, pasted);

    QCOMPARE(inputText(window), asParagraphs(pasted));
    const QString report = reportText(window);
    QVERIFY(report.startsWith(earlierReport));
    QCOMPARE(report.sliced(earlierReport.size()), coreReport(pasted));
}

// The history stops at 100 frames, and the scroll bar, its label and the chart follow the run.
void TestHostileInput::tenThousandFramesFillTheHistory()
{
    Form1 &window = m_shown->window;
    pasteInput(window, crlfJoined(frameLines(2)));

    pasteInput(window, frameLines(10'000).join(QLatin1Char('\n')));

    QCOMPARE(window.frameHistory().FrameCount, MaxFrames);
    QStringList expectedHeadings{"#1", "#2"};
    for (int frame = 1; frame <= MaxFrames; ++frame)
        expectedHeadings.append(QStringLiteral("#%1").arg(frame));
    QCOMPARE(reportHeadings(window), expectedHeadings);
    QCOMPARE(control<QLabel>(window, "Label2")->text(), QStringLiteral("1/100"));
    auto *scrollBar = control<QScrollBar>(window, "HScroll1");
    QVERIFY(scrollBar->isEnabled());
    QCOMPARE(scrollBar->maximum(), MaxFrames);
    QCOMPARE(control<QGroupBox>(window, "Frame8")->title(), QStringLiteral("COM Temperature"));
    auto *chart = control<ChannelChart>(window, "MSChart1");
    QCOMPARE(chart->rowCount(), MaxFrames);
    QCOMPARE(chart->values().constLast(), double(MaxFrames));
}

// Frame lines typed one keystroke at a time, Return between them: each keystroke is a run whose
// report is appended after everything before it.
void TestHostileInput::typedFrameLinesOnlyAppend()
{
    constexpr int Keystrokes = 1000;
    constexpr int CheckedStart = 256;
    Form1 &window = m_shown->window;
    auto *input = control<QPlainTextEdit>(window, "Text2");
    const QString line = frameLine(21, 34, 5, 1);

    QString typed;
    QString expectedReport;
    QString start;
    for (int keystroke = 0; keystroke < Keystrokes; ++keystroke) {
        const qsizetype column = keystroke % (line.size() + 1);
        if (column == line.size()) {
            QTest::keyClick(input, Qt::Key_Return);
            typed += QLatin1Char('\n');
        } else {
            QTest::keyClick(input, line.at(column).toLatin1());
            typed += line.at(column);
        }
        const QString runReport = coreReport(typed);
        expectedReport += runReport;
        QCOMPARE(reportLength(window), expectedReport.size());
        if (start.size() < CheckedStart)
            start = reportStart(window, CheckedStart);
        QVERIFY(reportStart(window, CheckedStart).startsWith(start));
    }

    QCOMPARE(inputText(window), asParagraphs(typed));
    QCOMPARE(reportText(window), expectedReport);
}

QTEST_MAIN(TestHostileInput)
#include "tst_hostileinput.moc"
