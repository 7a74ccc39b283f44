#include "conversions.h"

#include <QLocale>
#include <QTest>

using namespace tovrin3;

class ConversionsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void hexToDec_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("bare 0x prefix") << "0x" << 0;
        QTest::newRow("bare &H prefix") << "&H" << 0;
        QTest::newRow("plain") << "1F" << 31;
        QTest::newRow("0x lower") << "0x1f" << 31;
        QTest::newRow("0X upper") << "0X1F" << 31;
        QTest::newRow("&H") << "&H1F" << 31;
        QTest::newRow("&h") << "&h1f" << 31;
        QTest::newRow("byte") << "FF" << 255;
        QTest::newRow("16-bit top positive") << "7FFF" << 32767;
        QTest::newRow("16-bit sign") << "8000" << -32768;
        QTest::newRow("16-bit minus one") << "FFFF" << -1;
        QTest::newRow("five digits are 32-bit") << "10000" << 65536;
        QTest::newRow("32-bit minus one") << "FFFFFFFF" << -1;
        QTest::newRow("32-bit bottom") << "80000000" << std::numeric_limits<int>::min();
        QTest::newRow("leading zeros widen") << "0000FFFF" << 65535;
        QTest::newRow("nine digits") << "100000000" << 0;
        QTest::newRow("stops at non-digit") << "1G" << 1;
        QTest::newRow("non-digit first") << "G1" << 0;
        QTest::newRow("minus is no digit") << "-5" << 0;
        QTest::newRow("one prefix only: 0x&H") << "0x&H12" << 0;
        QTest::newRow("one prefix only: &H0x") << "&H0x12" << 0;
        QTest::newRow("non-ASCII digit") << QString::fromUtf8("\xEF\xBC\x91") << 0;
    }

    void hexToDec()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        QCOMPARE(HexToDec(text), expected);
    }

    void hexToUnsignLong_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("FFFF") << "FFFF" << 65535;
        QTest::newRow("8000") << "8000" << 32768;
        QTest::newRow("7FFF") << "7FFF" << 32767;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("eight digits negative") << "FFFFFFFF" << 65535;
        QTest::newRow("large positive unchanged") << "12345678" << 0x12345678;
    }

    void hexToUnsignLong()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        QCOMPARE(HexToUnsignLong(text), expected);
    }

    void bytesAsText_data()
    {
        QTest::addColumn<int>("byte");
        QTest::addColumn<QString>("hex");
        QTest::addColumn<QString>("bits");
        QTest::newRow("0") << 0 << "00"
                           << "00000000";
        QTest::newRow("5") << 5 << "05"
                           << "00000101";
        QTest::newRow("15") << 15 << "0F"
                            << "00001111";
        QTest::newRow("16") << 16 << "10"
                            << "00010000";
        QTest::newRow("128") << 128 << "80"
                             << "10000000";
        QTest::newRow("165") << 165 << "A5"
                             << "10100101";
        QTest::newRow("255") << 255 << "FF"
                             << "11111111";
    }

    void bytesAsText()
    {
        QFETCH(int, byte);
        QFETCH(QString, hex);
        QFETCH(QString, bits);
        QCOMPARE(HexDigit(static_cast<std::uint8_t>(byte)), hex);
        QCOMPARE(DecToBin(static_cast<std::uint8_t>(byte)), bits);
    }

    void secToTime_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("expected");
        QTest::newRow("zero") << 0 << "0d 00:00:00";
        QTest::newRow("one of each") << 90061 << "1d 01:01:01";
        QTest::newRow("last second of day") << 86399 << "0d 23:59:59";
        QTest::newRow("one day") << 86400 << "1d 00:00:00";
        QTest::newRow("minus one is day -1") << -1 << "-1d 23:59:59";
        QTest::newRow("floor below a day") << -86401 << "-2d 23:59:59";
        QTest::newRow("largest") << std::numeric_limits<int>::max() << "24855d 03:14:07";
        QTest::newRow("smallest") << std::numeric_limits<int>::min() << "-24856d 20:45:52";
    }

    void secToTime()
    {
        QFETCH(int, seconds);
        QFETCH(QString, expected);
        QCOMPARE(SecToTime(seconds), expected);
    }
};

QTEST_APPLESS_MAIN(ConversionsTest)
#include "tst_conversions.moc"
