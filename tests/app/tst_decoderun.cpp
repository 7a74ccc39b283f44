// SPDX-License-Identifier: GPL-3.0-or-later
// One decode run per change of the input box: the frame position and chart that the run leaves
// behind. That each run's report is appended to the earlier ones is tst_hostileinput's; that an
// append scrolls its first line to the top and leaves the user's caret and selection is
// tst_reportview's.
#include "channelchart.h"
#include "windowtesting.h"

#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QScrollBar>

#include <numeric>

using namespace tovrin3;
using namespace tovrin3::testing;

class TestDecodeRun : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_shown = showWindow(); }

    void cleanup() { m_shown.reset(); }

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
        QTest::newRow("shorter decode leaves no old bar") << QList<int>{100, 3} << 0 << "1/3" << 3;
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

        QCOMPARE(positionText(), label);
        QCOMPARE(scrollBar()->minimum(), 1);
        QCOMPARE(scrollBar()->maximum(), std::max(1, decodes.last()));
        QCOMPARE(chartTitle(), bars > 0 ? QStringLiteral("COM Temperature") : QString());
        QList<double> values(bars);
        std::iota(values.begin(), values.end(), 1.0);
        QCOMPARE(chart()->values(), values);
    }

    // Moving only changes the label, and only once the thumb is let go.
    void labelFollowsThumbOnRelease()
    {
        decode(12);
        const QString report = reportText(m_shown->window);

        scrollBar()->setSliderDown(true);
        scrollBar()->setSliderPosition(5);
        QCOMPARE(positionText(), QStringLiteral("1/12"));
        scrollBar()->setSliderDown(false);
        QCOMPARE(positionText(), QStringLiteral("5/12"));
        QCOMPARE(reportText(m_shown->window), report);
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
        QRadioButton *button = channelButton(m_shown->window, channel);

        pasteInput(m_shown->window,
                   crlfJoined({frameLine(10, 20, 30, 1), frameLine(11, 21, 31, 2)}));
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(chartTitle(), title);
        QCOMPARE(chart()->rowLabels(), QStringList({"1", "2"}));
        QCOMPARE(chart()->values(), values);

        decode(0);
        QCOMPARE(chartTitle(), title);
        QCOMPARE(chart()->values(), values);

        decode(3);
        QCOMPARE(chartTitle(), QStringLiteral("COM Temperature"));
        QCOMPARE(chart()->values(), QList<double>({1, 2, 3}));
        QVERIFY(button->isChecked());
    }

private:
    // Pastes that many frame lines; 0 pastes a line without any frame.
    void decode(int frameCount)
    {
        pasteInput(m_shown->window, frameCount > 0 ? crlfJoined(frameLines(frameCount))
                                                   : QStringLiteral("73 de NOCALL"));
    }
    QString positionText() const { return control<QLabel>(m_shown->window, "Label2")->text(); }
    QString chartTitle() const { return control<QGroupBox>(m_shown->window, "Frame8")->title(); }
    ChannelChart *chart() const { return control<ChannelChart>(m_shown->window, "MSChart1"); }
    QScrollBar *scrollBar() const { return control<QScrollBar>(m_shown->window, "HScroll1"); }

    std::unique_ptr<ShownWindow> m_shown;
};

QTEST_MAIN(TestDecodeRun)
#include "tst_decoderun.moc"
