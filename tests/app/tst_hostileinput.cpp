// SPDX-License-Identifier: GPL-3.0-or-later
// Whatever is pasted or typed into the input box, a decode run neither crashes nor changes what
// the user gave it, and the report below only ever grows by the run's own text.
#include "channelchart.h"
#include "windowtesting.h"

#include <QLabel>
#include <QRandomGenerator>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

// Printable and control characters alike, NUL, CR and LF among them.
QString randomAsciiText(qsizetype length)
{
    QRandomGenerator random(20261205);
    QString text(length, Qt::Uninitialized);
    for (QChar &character : text)
        character = QChar(static_cast<char16_t>(random.bounded(0x80)));
    return text;
}

} // namespace

class TestHostileInput : public QObject
{
    Q_OBJECT

private slots:
    void keepsInputAndOnlyAppendsReport_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("typed"); // else pasted
        QTest::addColumn<int>("frames"); // of the last run

        const QString frame = frameLine(21, 34, 5, 1);
        const qsizetype digit = frame.indexOf(QLatin1Char(' ')) + 3;
        // Random lines cleaned to 18 characters read as frames, far more than the history holds.
        QTest::newRow("5 MB of random characters")
            << randomAsciiText(5'000'000) << false << MaxFrames;
        QTest::newRow("200,000 lines")
            << (QStringLiteral("QT7XMRKT3HKD 9001\n\n").repeated(1'999) + frame + "\n\n")
                   .repeated(50)
            << false << 50;
        QTest::newRow("NUL added inside a frame")
            << QString(frame).insert(digit, QChar(u'\0')) << false << 0;
        QTest::newRow("NUL instead of a digit")
            << QString(frame).replace(digit, 1, QChar(u'\0')) << false << 1;
        QTest::newRow("lone high surrogate instead of a digit")
            << QString(frame).replace(digit, 1, QChar(u'\xD800')) << false << 1;
        // Each keystroke is a run of its own.
        QTest::newRow("1,000 keystrokes of frame lines")
            << (frame + QLatin1Char('\n')).repeated(28).first(1'000) << true << 27;
    }

    // After an earlier run, the input box holds exactly what was given, and the report keeps the
    // earlier report and gains what the core reports for each run, in order; the position label and
    // the chart follow the last run.
    void keepsInputAndOnlyAppendsReport()
    {
        QFETCH(QString, text);
        QFETCH(bool, typed);
        QFETCH(int, frames);
        const auto shown = showWindow();
        Form1 &window = shown->window;
        pasteInput(window, crlfJoined(frameLines(2)));

        QString expectedReport = reportText(window);
        if (typed) {
            auto *input = control<QPlainTextEdit>(window, "Text2");
            input->selectAll();
            for (qsizetype length = 1; length <= text.size(); ++length) {
                const QChar key = text.at(length - 1);
                if (key == u'\n')
                    QTest::keyClick(input, Qt::Key_Return);
                else
                    QTest::keyClick(input, key.toLatin1());
                expectedReport += coreReport(text.first(length));
            }
        } else {
            pasteInput(window, text);
            expectedReport += coreReport(text);
        }

        QCOMPARE(control<QPlainTextEdit>(window, "Text2")->document()->toRawText(),
                 asParagraphs(text));
        QCOMPARE(reportText(window), expectedReport);
        QCOMPARE(window.frameHistory().frameCount(), frames);
        if (frames == 0)
            return;
        QCOMPARE(control<QLabel>(window, "Label2")->text(), QStringLiteral("1/%1").arg(frames));
        QCOMPARE(control<ChannelChart>(window, "MSChart1")->rowCount(), frames);
    }
};

QTEST_MAIN(TestHostileInput)
#include "tst_hostileinput.moc"
