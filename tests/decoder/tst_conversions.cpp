// SPDX-License-Identifier: GPL-3.0-or-later
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
        QTest::newRow("16-bit top positive") << "7FFF" << 32767;
        QTest::newRow("16-bit sign") << "8000" << -32768;
        QTest::newRow("five digits are 32-bit") << "10000" << 65536;
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
};

QTEST_APPLESS_MAIN(ConversionsTest)
#include "tst_conversions.moc"
