// SPDX-License-Identifier: GPL-3.0-or-later
// The main window as its user drives it. One decode run per change of the input box: the frame
// position and chart that the run leaves behind; whatever is pasted or typed, a run neither
// crashes nor changes what the user gave it, and the report only ever grows by the run's own
// text. The keyboard alone: the first focus, Tab and Shift+Tab in the tab order, never a tab
// character in the text boxes, the arrow keys choosing and charting a channel. The menu: a spoken
// name for every control, one shared Info window, and Exit leaving the program running while Info
// is open. That an append scrolls its first line to the top and leaves the user's caret and
// selection is tst_reportview's; the window without conf.ini: tst_configurationsearch; with one
// that cannot be read: tst_hostilefiles.
#include "windowtesting.h"

#include <QAccessible>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <numeric>

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

// What a screen reader speaks for each visible control of the window, by control name: its name,
// or the description of a label that shows no text yet.
QMap<QString, QString> spokenNames(const QWidget &window)
{
    static const QRegularExpression controlName(
        u"^(Text|Option|Frame|MSChart|Command|Label|HScroll|Picture)\\d"_s);
    QMap<QString, QString> names;
    for (QWidget *widget : window.findChildren<QWidget *>(controlName)) {
        if (!widget->isVisible())
            continue;
        const QAccessibleInterface *spoken = QAccessible::queryAccessibleInterface(widget);
        const QString name = spoken->text(QAccessible::Name);
        names.insert(widget->objectName(),
                     name.isEmpty() ? spoken->text(QAccessible::Description) : name);
    }
    return names;
}

constexpr auto openInfoWindows = &visibleWindows<Form2>;

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_shown = showWindow();
        window().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window()));
    }

    void cleanup()
    {
        m_shown.reset();
        QTRY_VERIFY(openInfoWindows().isEmpty());
    }

    void leavesPositionAndChart_data()
    {
        QTest::addColumn<QList<int>>("decodes"); // frame counts, in order
        QTest::addColumn<int>("moveTo");         // position chosen after the first decode; 0: none
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("bars"); // frames charted, their COM temperatures being 1 to bars

        QTest::newRow("no frame") << QList<int>{0} << 0 << "1/0" << 0;
        QTest::newRow("no frame, then 5 frames") << QList<int>{0, 5} << 0 << "1/5" << 5;
        QTest::newRow("7 of 12, then 3 frames") << QList<int>{12, 3} << 7 << "3/3" << 3;
        QTest::newRow("7 of 12, then 20 frames") << QList<int>{12, 20} << 7 << "7/20" << 20;
        QTest::newRow("7 of 12, then no frame") << QList<int>{12, 0} << 7 << "1/0" << 12;
    }

    void leavesPositionAndChart()
    {
        QFETCH(QList<int>, decodes);
        QFETCH(int, moveTo);
        QFETCH(QString, label);
        QFETCH(int, bars);

        decode(decodes.first());
        if (moveTo > 0)
            scrollBar()->setValue(moveTo);
        for (const int frameCount : decodes.sliced(1))
            decode(frameCount);

        QCOMPARE(positionText(window()), label);
        QCOMPARE(scrollBar()->maximum(), std::max(1, decodes.last()));
        QCOMPARE(chartTitle(), bars > 0 ? u"COM Temperature"_s : QString());
        QList<double> values(bars);
        std::iota(values.begin(), values.end(), 1.0);
        QCOMPARE(chart()->values(), values);
    }

    // Moving only changes the label, and only once the thumb is let go.
    void labelFollowsThumbOnRelease()
    {
        decode(12);
        const QString report = reportText(window());

        scrollBar()->setSliderDown(true);
        scrollBar()->setSliderPosition(5);
        QCOMPARE(positionText(window()), u"1/12"_s);
        scrollBar()->setSliderDown(false);
        QCOMPARE(positionText(window()), u"5/12"_s);
        QCOMPARE(reportText(window()), report);
    }

    void channelButtonChartsUntilNextDecode_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QList<double>>("values"); // of the two frames pasted below

        const double volts = 3.8987915039062497; // 0C6A
        QTest::newRow("battery temperature") << 0 << "Batt Temperature" << QList<double>{10, 11};
        QTest::newRow("COM temperature") << 1 << "COM Temperature" << QList<double>{20, 21};
        QTest::newRow("battery voltage") << 2 << "Battery Voltage" << QList<double>{volts, volts};
        QTest::newRow("debug byte") << 3 << "Debug" << QList<double>{30, 31};
        QTest::newRow("kill-switch byte") << 4 << "Kill Switch" << QList<double>{1, 2};
    }

    // A click charts its channel; a decode without frames leaves that chart, and the next decode
    // with frames charts the COM temperature again while the clicked button stays chosen.
    void channelButtonChartsUntilNextDecode()
    {
        QFETCH(int, channel);
        QFETCH(QString, title);
        QFETCH(QList<double>, values);
        QRadioButton *button = channelButton(window(), channel);

        pasteInput(window(), crlfJoined({frameLine(10, 20, 30, 1), frameLine(11, 21, 31, 2)}));
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(chartTitle(), title);
        QCOMPARE(chart()->rowLabels(), QStringList({"1", "2"}));
        QCOMPARE(chart()->values(), values);

        decode(0);
        QCOMPARE(chartTitle(), title);
        QCOMPARE(chart()->values(), values);

        decode(3);
        QCOMPARE(chartTitle(), u"COM Temperature"_s);
        QCOMPARE(chart()->values(), QList<double>({1, 2, 3}));
        QVERIFY(button->isChecked());
    }

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
            << (u"QT7XMRKT3HKD 9001\n\n"_s.repeated(1'999) + frame + "\n\n").repeated(50) << false
            << 50;
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
        pasteInput(window(), crlfJoined(frameLines(2)));

        QString expectedReport = reportText(window());
        if (typed) {
            auto *input = control<QPlainTextEdit>(window(), "Text2");
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
            pasteInput(window(), text);
            expectedReport += coreReport(text);
        }

        QCOMPARE(control<QPlainTextEdit>(window(), "Text2")->document()->toRawText(),
                 asParagraphs(text));
        QCOMPARE(reportText(window()), expectedReport);
        QCOMPARE(window().frameHistory().frameCount(), frames);
        if (frames == 0)
            return;
        QCOMPARE(positionText(window()), u"1/%1"_s.arg(frames));
        QCOMPARE(chart()->rowCount(), frames);
    }

    void tabMovesFocusInTabOrder_data()
    {
        QTest::addColumn<int>("selected"); // channel whose option button is selected
        QTest::addColumn<QString>("from");
        QTest::addColumn<bool>("backwards"); // Shift+Tab
        QTest::addColumn<QString>("to");

        const QStringList order{"HScroll1", "Text2", "Command1", "Text3", "Option1_0"};
        for (qsizetype index = 0; index < order.size(); ++index) {
            const QString &next = order.at((index + 1) % order.size());
            QTest::addRow("Tab from %s", qPrintable(order.at(index)))
                << 0 << order.at(index) << false << next;
            QTest::addRow("Shift+Tab from %s", qPrintable(next))
                << 0 << next << true << order.at(index);
        }
        // Only the selected option button is a tab stop: the group is entered on it either way.
        QTest::newRow("Tab into the group") << 3 << "Text3" << false << "Option1_3";
        QTest::newRow("Shift+Tab into the group") << 3 << "HScroll1" << true << "Option1_3";
        QTest::newRow("Tab out of the group") << 3 << "Option1_3" << false << "HScroll1";
        QTest::newRow("Shift+Tab out of the group") << 3 << "Option1_3" << true << "Text3";
    }

    // The text boxes hand the focus on and keep their text as it was: a tab in a frame line would
    // keep it from decoding.
    void tabMovesFocusInTabOrder()
    {
        QFETCH(int, selected);
        QFETCH(QString, from);
        QFETCH(bool, backwards);
        QFETCH(QString, to);
        auto *input = control<QPlainTextEdit>(window(), "Text2");
        input->setPlainText(frameLine(10, 20, 30, 1));
        channelButton(window(), selected)->click();
        const QString report = reportText(window());

        auto *start = window().findChild<QWidget *>(from);
        start->setFocus(Qt::OtherFocusReason);
        QTRY_COMPARE(focusName(), from);
        QTest::keyClick(start, Qt::Key_Tab, backwards ? Qt::ShiftModifier : Qt::NoModifier);

        QTRY_COMPARE(focusName(), to);
        QCOMPARE(input->toPlainText(), frameLine(10, 20, 30, 1));
        QCOMPARE(reportText(window()), report);
    }

    void arrowKeysChooseAndChartChannel_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("title");

        QTest::newRow("down") << 0 << int(Qt::Key_Down) << 1 << "COM Temperature";
        QTest::newRow("down from the last, round to the first")
            << 4 << int(Qt::Key_Down) << 0 << "Batt Temperature";
        QTest::newRow("up from the first, round to the last")
            << 0 << int(Qt::Key_Up) << 4 << "Kill Switch";
    }

    void arrowKeysChooseAndChartChannel()
    {
        QFETCH(int, from);
        QFETCH(int, key);
        QFETCH(int, to);
        QFETCH(QString, title);
        pasteInput(window(), crlfJoined(frameLines(3)));
        channelButton(window(), from)->click();
        channelButton(window(), from)->setFocus(Qt::TabFocusReason);

        QTest::keyClick(channelButton(window(), from), Qt::Key(key));

        QVERIFY(channelButton(window(), to)->isChecked());
        QCOMPARE(focusName(), channelButton(window(), to)->objectName());
        QCOMPARE(chartTitle(), title);
    }

    // A step and a page are one frame (Right moving back was a fault); the label follows.
    void keysStepThroughFrames_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("position");

        QTest::newRow("Right") << int(Qt::Key_Right) << 6;
        QTest::newRow("Page Down") << int(Qt::Key_PageDown) << 6;
    }

    void keysStepThroughFrames()
    {
        QFETCH(int, key);
        QFETCH(int, position);
        pasteInput(window(), crlfJoined(frameLines(12)));
        auto *scrollBar = control<QScrollBar>(window(), "HScroll1");
        scrollBar->setValue(5);
        scrollBar->setFocus(Qt::TabFocusReason);

        QTest::keyClick(scrollBar, Qt::Key(key));

        QCOMPARE(scrollBar->value(), position);
        QCOMPARE(positionText(window()), u"%1/12"_s.arg(position));
    }

    // The scroll bar has the focus when the window opens, first in the tab order: it must look
    // different from one without.
    void frameScrollBarMarksFocus()
    {
        auto *scrollBar = control<QScrollBar>(window(), "HScroll1");
        QTRY_VERIFY(scrollBar->hasFocus());
        const QImage focused = scrollBar->grab().toImage();

        control<QPlainTextEdit>(window(), "Text2")->setFocus(Qt::OtherFocusReason);
        QTRY_VERIFY(!scrollBar->hasFocus());

        QVERIFY(scrollBar->grab().toImage() != focused);
    }

    void everyControlHasASpokenName()
    {
        Form2 *info = chooseInfo();
        QVERIFY(info);
        for (const QWidget *window :
             {static_cast<QWidget *>(&window()), static_cast<QWidget *>(info)}) {
            const QMap<QString, QString> names = spokenNames(*window);
            QVERIFY(names.size() >= 10);
            for (auto name = names.cbegin(); name != names.cend(); ++name)
                QVERIFY2(!name.value().trimmed().isEmpty(), qPrintable(name.key()));
        }
        QCOMPARE(spokenNames(window()).value(u"Command1"_s),
                 u"Save a screenshot of the window as PNG"_s);
    }

    void opensOneInfoWindowAfreshAfterClosing()
    {
        QPointer<Form2> first = chooseInfo();
        QVERIFY(first);
        QCOMPARE(chooseInfo(), first.data());

        first->close();
        QTRY_VERIFY(first.isNull());
        QVERIFY(chooseInfo());
    }

    // The program ends when its last window closes: Exit closes the main window only, so the event
    // loop runs on until the Info window is closed as well.
    void exitLeavesInfoOpenUntilItCloses()
    {
        QPointer<Form2> info = chooseInfo();
        QVERIFY(info);

        bool infoOpenAfterExit = false;
        QTimer::singleShot(0, &window(), [&] {
            control<QAction>(window(), "MnuExit")->trigger();
            QTimer::singleShot(0, [&] {
                infoOpenAfterExit = !window().isVisible() && info && info->isVisible();
                if (info)
                    info->close();
            });
        });
        QTimer::singleShot(5000, &window(), [] { QCoreApplication::exit(1); });

        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(infoOpenAfterExit);
    }

private:
    // Pastes that many frame lines; 0 pastes a line without any frame.
    void decode(int frameCount)
    {
        pasteInput(window(),
                   frameCount > 0 ? crlfJoined(frameLines(frameCount)) : u"73 de NOCALL"_s);
    }
    QString chartTitle() const { return control<QGroupBox>(window(), "Frame8")->title(); }
    ChannelChart *chart() const { return control<ChannelChart>(window(), "MSChart1"); }
    QScrollBar *scrollBar() const { return control<QScrollBar>(window(), "HScroll1"); }

    QString focusName() const
    {
        const QWidget *focus = QApplication::focusWidget();
        return focus ? focus->objectName() : QString();
    }

    Form2 *chooseInfo()
    {
        control<QAction>(window(), "MnuInfo")->trigger();
        const QList<Form2 *> windows = openInfoWindows();
        return windows.size() == 1 ? windows.first() : nullptr;
    }

    Form1 &window() const { return m_shown->window; }

    std::unique_ptr<ShownWindow> m_shown;
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
