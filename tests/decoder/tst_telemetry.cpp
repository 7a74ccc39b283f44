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

    // The texts a line and the values make: a line cleaned for reading, a kill-switch byte's
    // state and a value to two decimals as the report writes them.
    void texts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const auto cleaned = [](const char *name, const char *line, const char *expected) {
            QString result;
            normaliseLine(QString::fromUtf8(line), result);
            QTest::addRow("cleaned: %s", name) << result << QString::fromUtf8(expected);
        };
        cleaned("Z reads as zero", "1Z2z", "1020");
        cleaned("header in the middle", "9001QT7XMRKT3HKD40010C6A00A503", "900140010C6A00A503");
        cleaned("every header", "QT7XMRKT3HKDQT7XMRKT3HKDAB", "AB");
        cleaned("Z after a header", "QT7XMRKT3HKDZ", "0");
        cleaned("tab stays", "90\t01", "90\t01");
        cleaned("line feed stays", "90\n01", "90\n01");
        cleaned("no-break space stays", "90\u00A001", "90\u00A001");
        cleaned("non-ASCII upper-cased by Qt's rules", "\u00E9z", "\u00C90");
        cleaned("empty", "", "");
        for (const auto &[byte, state] :
             {std::pair{1, " MAIN=ON, SUB=OFF"}, {0, " MAIN=ON, SUB=ON"}}) {
            const auto text = killSwitchStateText(static_cast<std::uint8_t>(byte));
            QTest::addRow("kill switch %d", byte) << (text ? text->toString() : QString()) << state;
        }
        const auto decimals = [](const char *name, double value, const char *expected) {
            QString written;
            appendTwoDecimals(written, value);
            QTest::addRow("two decimals: %s", name) << written << QString::fromUtf8(expected);
        };
        decimals("halfway up", 21.625, "21.63");
        decimals("halfway negative away from zero", -24.9375, "-24.94");
        decimals("below half", 21.5625, "21.56");
        decimals("negative zero", -0.0, "0.00");
        decimals("rounds to zero from below", -0.004, "0.00");
        decimals("small negative kept", -0.0625, "-0.06");
        decimals("just below a tie stays down", 1.005, "1.00");
        decimals("volts negative", -40.2, "-40.20");
    }

    void texts()
    {
        QFETCH(QString, text);
        QTEST(text, "expected");
    }

    void temperatureWord_data()
    {
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("high");
        QTest::addColumn<double>("celsius"); // NaN: no value
        const double none = qQNaN();
        QTest::newRow("5A01") << 0x5A << 0x01 << 21.625;
        QTest::newRow("70FE one's complement") << 0x70 << 0xFE << -24.9375;
        QTest::newRow("F0FF is -0.9375, not -1") << 0xF0 << 0xFF << -0.9375;
        QTest::newRow("FFFF is zero") << 0xFF << 0xFF << 0.0;
        QTest::newRow("FF07 top") << 0xFF << 0x07 << 127.9375;
        QTest::newRow("00F8 bottom") << 0x00 << 0xF8 << -127.9375;
        QTest::newRow("0008 mixed sign bits") << 0x00 << 0x08 << none;
        QTest::newRow("00F0 mixed sign bits") << 0x00 << 0xF0 << none;
    }

    void temperatureWord()
    {
        QFETCH(int, low);
        QFETCH(int, high);
        QTEST(temperatureFromWord(static_cast<std::uint8_t>(low), static_cast<std::uint8_t>(high))
                  .value_or(qQNaN()),
              "celsius");
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
};

QTEST_APPLESS_MAIN(TelemetryTest)
#include "tst_telemetry.moc"
