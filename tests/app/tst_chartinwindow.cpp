// The chart in the main window: one bar per decoded frame of the chosen channel, redrawn on every
// decode with the COM temperature and on every click of a channel button.
#include "channelchart.h"
#include "telemetry.h"
#include "windowtesting.h"

#include <QGroupBox>
#include <QRadioButton>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

QStringList numberLabels(int count)
{
    QStringList labels;
    for (int row = 1; row <= count; ++row)
        labels.append(QString::number(row));
    return labels;
}

// The channel values of frameLines(count, comBase), worked out from how they were made.
QList<double> channelValues(int channel, int count, int comBase = 0)
{
    QList<double> values;
    for (int frame = 1; frame <= count; ++frame) {
        switch (channel) {
        case BatteryTemperatureChannel:
            values.append(frame % 50);
            break;
        case ComTemperatureChannel:
            values.append(comBase + frame);
            break;
        case BatteryVoltageChannel:
            values.append(batteryVoltageFromRaw(0x0C6A));
            break;
        case DebugChannel:
            values.append(frame);
            break;
        default:
            values.append(frame % 4);
        }
    }
    return values;
}

} // namespace

class TestChartInWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void drawsComTemperatureOfEveryFrame_data();
    void drawsComTemperatureOfEveryFrame();
    void shorterDecodeLeavesNoOldBar();
    void channelButtonRedraws_data();
    void channelButtonRedraws();
    void decodeRedrawsComTemperatureKeepingChoice();
    void decodeWithoutFrameKeepsChart();
    void channelButtonWithoutFrameChangesNothing();

private:
    ChannelChart *chart() const { return control<ChannelChart>(m_shown->window, "MSChart1"); }
    QString caption() const { return control<QGroupBox>(m_shown->window, "Frame8")->title(); }
    QRadioButton *channelButton(int channel) const;

    std::unique_ptr<ShownWindow> m_shown;
};

void TestChartInWindow::initTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TestChartInWindow::init()
{
    m_shown = showWindow();
}

void TestChartInWindow::cleanup()
{
    m_shown.reset();
}

QRadioButton *TestChartInWindow::channelButton(int channel) const
{
    return m_shown->window.findChild<QRadioButton *>(QStringLiteral("Option1_%1").arg(channel));
}

void TestChartInWindow::drawsComTemperatureOfEveryFrame_data()
{
    QTest::addColumn<int>("lineCount");
    QTest::addColumn<int>("rowCount");

    QTest::newRow("one frame") << 1 << 1;
    QTest::newRow("100 frames") << 100 << 100;
    QTest::newRow("lines beyond 100 frames are not charted") << 104 << 100;
}

void TestChartInWindow::drawsComTemperatureOfEveryFrame()
{
    QFETCH(int, lineCount);
    QFETCH(int, rowCount);

    pasteInput(m_shown->window, crlfJoined(frameLines(lineCount)));

    QCOMPARE(caption(), QStringLiteral("COM Temperature"));
    QCOMPARE(chart()->rowLabels(), numberLabels(rowCount));
    QCOMPARE(chart()->values(), channelValues(ComTemperatureChannel, rowCount));
}

void TestChartInWindow::shorterDecodeLeavesNoOldBar()
{
    pasteInput(m_shown->window, crlfJoined(frameLines(100)));
    pasteInput(m_shown->window, crlfJoined(frameLines(3, 40)));

    QCOMPARE(chart()->rowLabels(), numberLabels(3));
    QCOMPARE(chart()->values(), channelValues(ComTemperatureChannel, 3, 40));
}

void TestChartInWindow::channelButtonRedraws_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("caption");

    QTest::newRow("battery temperature") << int(BatteryTemperatureChannel) << "Batt Temperature";
    QTest::newRow("COM temperature") << int(ComTemperatureChannel) << "COM Temperature";
    QTest::newRow("battery voltage") << int(BatteryVoltageChannel) << "Battery Voltage";
    QTest::newRow("debug byte") << int(DebugChannel) << "Debug";
    QTest::newRow("kill-switch byte") << int(KillSwitchChannel) << "Kill Switch";
}

void TestChartInWindow::channelButtonRedraws()
{
    QFETCH(int, channel);
    QFETCH(QString, caption);

    pasteInput(m_shown->window, crlfJoined(frameLines(7)));
    QTest::mouseClick(channelButton(channel), Qt::LeftButton);

    QVERIFY(channelButton(channel)->isChecked());
    QCOMPARE(this->caption(), caption);
    QCOMPARE(chart()->rowLabels(), numberLabels(7));
    QCOMPARE(chart()->values(), channelValues(channel, 7));
}

void TestChartInWindow::decodeRedrawsComTemperatureKeepingChoice()
{
    pasteInput(m_shown->window, crlfJoined(frameLines(5)));
    QTest::mouseClick(channelButton(DebugChannel), Qt::LeftButton);
    QCOMPARE(caption(), QStringLiteral("Debug"));

    pasteInput(m_shown->window, crlfJoined(frameLines(4, 10)));

    QCOMPARE(caption(), QStringLiteral("COM Temperature"));
    QCOMPARE(chart()->values(), channelValues(ComTemperatureChannel, 4, 10));
    QVERIFY(channelButton(DebugChannel)->isChecked());
}

void TestChartInWindow::decodeWithoutFrameKeepsChart()
{
    pasteInput(m_shown->window, crlfJoined(frameLines(5)));
    QTest::mouseClick(channelButton(BatteryVoltageChannel), Qt::LeftButton);

    pasteInput(m_shown->window, QStringLiteral("no frame in this line"));

    QCOMPARE(caption(), QStringLiteral("Battery Voltage"));
    QCOMPARE(chart()->values(), channelValues(BatteryVoltageChannel, 5));
}

void TestChartInWindow::channelButtonWithoutFrameChangesNothing()
{
    QTest::mouseClick(channelButton(KillSwitchChannel), Qt::LeftButton);

    QVERIFY(channelButton(KillSwitchChannel)->isChecked());
    QCOMPARE(caption(), QString());
    QCOMPARE(chart()->rowCount(), 0);
}

QTEST_MAIN(TestChartInWindow)
#include "tst_chartinwindow.moc"
