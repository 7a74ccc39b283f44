// SPDX-License-Identifier: GPL-3.0-or-later
#include "normalisation.h"
#include "report.h"
#include "telemetry.h"

#include <QLocale>
#include <QTest>

#include <bit>

using namespace tovrin3;

class TelemetryTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void normaliseLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("cleaned");
        const auto row = [](const char *name, const char *line, const char *cleaned) {
            QTest::newRow(name) << QString::fromUtf8(line) << QString::fromUtf8(cleaned);
        };
        row("Z reads as zero", "1Z2z", "1020");
        row("header in the middle", "9001QT7XMRKT3HKD40010C6A00A503", "900140010C6A00A503");
        row("every header", "QT7XMRKT3HKDQT7XMRKT3HKDAB", "AB");
        row("Z after a header", "QT7XMRKT3HKDZ", "0");
        row("tab stays", "90\t01", "90\t01");
        row("line feed stays", "90\n01", "90\n01");
        row("no-break space stays", "90\u00A001", "90\u00A001");
        row("non-ASCII upper-cased by Qt's rules", "\u00E9z", "\u00C90");
        row("empty", "", "");
    }

    void normaliseLine()
    {
        QFETCH(QString, line);
        QFETCH(QString, cleaned);
        QString result;
        tovrin3::normaliseLine(line, result);
        QCOMPARE(result, cleaned);
    }

    void temperatureWord_data()
    {
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("high");
        QTest::addColumn<bool>("hasValue");
        QTest::addColumn<double>("celsius");
        QTest::newRow("5A01") << 0x5A << 0x01 << true << 21.625;
        QTest::newRow("70FE one's complement") << 0x70 << 0xFE << true << -24.9375;
        QTest::newRow("F0FF is -0.9375, not -1") << 0xF0 << 0xFF << true << -0.9375;
        QTest::newRow("FFFF is zero") << 0xFF << 0xFF << true << 0.0;
        QTest::newRow("FF07 top") << 0xFF << 0x07 << true << 127.9375;
        QTest::newRow("00F8 bottom") << 0x00 << 0xF8 << true << -127.9375;
        QTest::newRow("0008 mixed sign bits") << 0x00 << 0x08 << false << 0.0;
        QTest::newRow("00F0 mixed sign bits") << 0x00 << 0xF0 << false << 0.0;
    }

    void temperatureWord()
    {
        QFETCH(int, low);
        QFETCH(int, high);
        QFETCH(bool, hasValue);
        QFETCH(double, celsius);
        const auto value =
            temperatureFromWord(static_cast<std::uint8_t>(low), static_cast<std::uint8_t>(high));
        QCOMPARE(value.has_value(), hasValue);
        if (hasValue)
            QCOMPARE(*value, celsius);
    }

    void voltage_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<double>("volts");
        QTest::newRow("0000") << "0000" << 0.0;
        // Bit for bit: the factor lies one unit in the last place below 5.025.
        QTest::newRow("0FFF") << "0FFF" << 5.023773193359374;
        QTest::newRow("8000 is negative, one unit below -40.2") << "8000" << -40.199999999999996;
    }

    void voltage()
    {
        QFETCH(QString, field);
        QFETCH(double, volts);
        const FrameValues values = decodeFields(QString("00000000" + field + "000000"));
        QCOMPARE(std::bit_cast<std::uint64_t>(values.batteryVoltage),
                 std::bit_cast<std::uint64_t>(volts));
    }

    void killSwitchState_data()
    {
        QTest::addColumn<int>("byte");
        QTest::addColumn<QString>("state");
        QTest::newRow("1") << 1 << " MAIN=ON, SUB=OFF";
        QTest::newRow("0") << 0 << " MAIN=ON, SUB=ON";
    }

    void killSwitchState()
    {
        QFETCH(int, byte);
        QFETCH(QString, state);
        const auto text = killSwitchStateText(static_cast<std::uint8_t>(byte));
        QCOMPARE(text ? text->toString() : QString(), state);
    }

    void twoDecimals_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("halfway up") << 21.625 << "21.63";
        QTest::newRow("halfway negative away from zero") << -24.9375 << "-24.94";
        QTest::newRow("below half") << 21.5625 << "21.56";
        QTest::newRow("negative zero") << -0.0 << "0.00";
        QTest::newRow("rounds to zero from below") << -0.004 << "0.00";
        QTest::newRow("small negative kept") << -0.0625 << "-0.06";
        QTest::newRow("just below a tie stays down") << 1.005 << "1.00";
        QTest::newRow("volts negative") << -40.2 << "-40.20";
    }

    void twoDecimals()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QString written;
        appendTwoDecimals(written, value);
        QCOMPARE(written, text);
    }
};

QTEST_APPLESS_MAIN(TelemetryTest)
#include "tst_telemetry.moc"
