// The scroll bar over the frame numbers and its position label, after decodes and moves.
#include "channelchart.h"
#include "windowtesting.h"

#include <QLabel>
#include <QScrollBar>

using namespace tovrin3;
using namespace tovrin3::testing;

class TestFramePosition : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void decodeShowsFirstOfAll_data();
    void decodeShowsFirstOfAll();
    void movingChangesLabelOnly();
    void followsThumbWhenReleased();
    void decodesAfterAMove_data();
    void decodesAfterAMove();

private:
    QScrollBar *scrollBar() const { return control<QScrollBar>(m_shown->window, "HScroll1"); }
    QString positionText() const { return control<QLabel>(m_shown->window, "Label2")->text(); }
    void decode(int frameCount);

    std::unique_ptr<ShownWindow> m_shown;
};

void TestFramePosition::initTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TestFramePosition::init()
{
    m_shown = showWindow();
}

void TestFramePosition::cleanup()
{
    m_shown.reset();
}

void TestFramePosition::decode(int frameCount)
{
    const QString input =
        frameCount > 0 ? crlfJoined(frameLines(frameCount)) : QStringLiteral("73 de NOCALL");
    pasteInput(m_shown->window, input);
}

void TestFramePosition::decodeShowsFirstOfAll_data()
{
    QTest::addColumn<int>("frameCount");
    QTest::addColumn<QString>("label");

    QTest::newRow("one frame") << 1 << "1/1";
    QTest::newRow("12 frames") << 12 << "1/12";
    QTest::newRow("100 frames") << 100 << "1/100";
    QTest::newRow("no frame") << 0 << "1/0";
}

void TestFramePosition::decodeShowsFirstOfAll()
{
    QFETCH(int, frameCount);
    QFETCH(QString, label);

    decode(frameCount);

    QCOMPARE(positionText(), label);
    QVERIFY(scrollBar()->isEnabled());
    QCOMPARE(scrollBar()->value(), 1);
    QCOMPARE(scrollBar()->minimum(), 1);
    QCOMPARE(scrollBar()->maximum(), std::max(1, frameCount));
}

void TestFramePosition::movingChangesLabelOnly()
{
    decode(12);
    const QString report = reportText(m_shown->window);
    const QList<double> bars = control<ChannelChart>(m_shown->window, "MSChart1")->values();

    for (int step = 0; step < 6; ++step)
        scrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);

    QCOMPARE(positionText(), QStringLiteral("7/12"));
    QCOMPARE(reportText(m_shown->window), report);
    QCOMPARE(control<ChannelChart>(m_shown->window, "MSChart1")->values(), bars);
}

void TestFramePosition::followsThumbWhenReleased()
{
    decode(12);
    scrollBar()->setSliderDown(true);
    scrollBar()->setSliderPosition(5);
    QCOMPARE(positionText(), QStringLiteral("1/12"));

    scrollBar()->setSliderDown(false);
    QCOMPARE(positionText(), QStringLiteral("5/12"));
}

void TestFramePosition::decodesAfterAMove_data()
{
    QTest::addColumn<QList<int>>("laterDecodes"); // frame counts, in order
    QTest::addColumn<QString>("label");

    QTest::newRow("fewer frames than the position") << QList<int>{3} << "3/3";
    QTest::newRow("more frames keep the position") << QList<int>{20} << "7/20";
    QTest::newRow("no frame") << QList<int>{0} << "1/0";
    QTest::newRow("no frame, then five") << QList<int>{0, 5} << "1/5";
}

// Starting at position 7 of 12.
void TestFramePosition::decodesAfterAMove()
{
    QFETCH(QList<int>, laterDecodes);
    QFETCH(QString, label);

    decode(12);
    scrollBar()->setValue(7);
    QCOMPARE(positionText(), QStringLiteral("7/12"));

    for (const int frameCount : laterDecodes)
        decode(frameCount);

    QCOMPARE(positionText(), label);
    QCOMPARE(scrollBar()->minimum(), 1);
    QVERIFY(scrollBar()->value() >= 1);
    QVERIFY(scrollBar()->value() <= std::max(1, laterDecodes.last()));
}

QTEST_MAIN(TestFramePosition)
#include "tst_frameposition.moc"
