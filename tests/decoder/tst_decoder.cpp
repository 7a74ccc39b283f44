// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder.h"

#include <QLocale>
#include <QTest>

using namespace tovrin3;
using namespace Qt::StringLiterals;

namespace {

const QString ExampleBlock = "#1: 900140010C6A00A503\r\n"
                             "-----------------------\r\n"
                             "  Battery Temperature: 25.00 C\r\n"
                             "  COM Temperature: 20.00 C\r\n"
                             "  Battery Voltage: 3.90 V\r\n"
                             "  Mission: 00000000\r\n"
                             "  Debug: 10100101\r\n"
                             "  Kill Switch: 00000011 MAIN=OFF, SUB=OFF\r\n"
                             "\r\n";

QString repeatedFrames(int count)
{
    QStringList lines;
    for (int frame = 1; frame <= count; ++frame)
        lines << QString("QT7XMRKT3HKD 9001 4001 %1 00A503").arg(frame, 4, 16, QChar(u'0'));
    return lines.join("\r\n");
}

} // namespace

class DecoderTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void exampleFrameGivesItsNineLines()
    {
        FrameHistory history;
        const QString report =
            decodeBeaconText(u"qt7xmr kt3 hkd 90 01 40 01 0c 6a 00 a5 03", history);
        QCOMPARE(report, ExampleBlock);
        QCOMPARE(history.frameCount(), 1);
        QCOMPARE(history.record(1).FrameText, QString("900140010C6A00A503"));
        const std::array<double, ChannelCount> expected{25.0,  20.0, 3.8987915039062497,
                                                        165.0, 3.0,  0.0};
        QCOMPARE(history.record(1).Channel, expected);
    }

    void blocksLeaveOutLinesWithoutValue()
    {
        FrameHistory history;
        const QString report = decodeBeaconText(u"000840010C6A00A504", history);
        QCOMPARE(report, QString("#1: 000840010C6A00A504\r\n"
                                 "-----------------------\r\n"
                                 "  COM Temperature: 20.00 C\r\n"
                                 "  Battery Voltage: 3.90 V\r\n"
                                 "  Mission: 00000000\r\n"
                                 "  Debug: 10100101\r\n"
                                 "\r\n"));
        QCOMPARE(history.record(1).Channel[KillSwitchChannel], 4.0);
    }

    void linesAndFrameCount_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("frames");
        QTest::newRow("empty text") << "" << 0;
        QTest::newRow("trailing CR+LF adds an ignored line") << "900140010C6A00A503\r\n" << 1;
        QTest::newRow("noise between frames")
            << "CQ CQ DE NOCALL\r\n900140010C6A00A503\r\n\r\n90014001" << 1;
        QTest::newRow("150 frames stop at 100") << repeatedFrames(150) << 100;
    }

    void linesAndFrameCount()
    {
        QFETCH(QString, text);
        QFETCH(int, frames);
        FrameHistory history;
        const QString report = decodeBeaconText(text, history);
        QCOMPARE(history.frameCount(), frames);
        QCOMPARE(report.count(u"-----------------------\r\n"), frames);
        if (frames > 0)
            QVERIFY(report.contains(QString("#%1: ").arg(frames)));
        QVERIFY(!report.contains(QString("#%1: ").arg(frames + 1)));
        // Records count from 1; the last one kept is the last frame counted.
        QCOMPARE(history.record(0).FrameText, QString());
        if (text.startsWith(u"QT7X"))
            QCOMPARE(history.record(frames).FrameText,
                     u"90014001"_s + u"%1"_s.arg(frames, 4, 16, QChar(u'0')) + u"00A503"_s);
    }

    void runsRefillWithoutClearing()
    {
        FrameHistory history;
        decodeBeaconText(u"900140010C6A00A503\r\n900140010C6A00A503\r\n900140010C6A00A503",
                         history);
        decodeBeaconText(u"000800080C6A00A503", history);
        QCOMPARE(history.frameCount(), 1);
        QCOMPARE(history.record(1).Channel[BatteryTemperatureChannel], 25.0);
        QCOMPARE(history.record(1).Channel[ComTemperatureChannel], 20.0);
        QCOMPARE(history.record(1).FrameText, QString("000800080C6A00A503"));
        QCOMPARE(history.record(3).FrameText, QString("900140010C6A00A503"));

        decodeBeaconText(u"no frame here", history);
        QCOMPARE(history.frameCount(), 0);
        QCOMPARE(history.record(1).FrameText, QString("000800080C6A00A503"));
        // Each run numbers its frames from 1 again.
        QCOMPARE(decodeBeaconText(u"900140010C6A00A503", history), ExampleBlock);
    }
};

QTEST_APPLESS_MAIN(DecoderTest)
#include "tst_decoder.moc"
