#include "framerecords.h"
#include "telemetry.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTest>

#include <clocale>

using namespace tovrin3;
using namespace Qt::StringLiterals;

namespace {

const QByteArray HeaderLine =
    "frame,timestamp,frame_text,battery_temperature_c,com_temperature_c,battery_voltage_v,"
    "mission_bits,debug_value,debug_bits,kill_switch_value,kill_switch_bits,main_state,"
    "sub_state\n";

FrameRecordFields recordOf(const QString &text, const QByteArray &timestamp)
{
    return {7, QLatin1StringView(timestamp), text, decodeFields(text)};
}

QByteArray csvRecord(const QString &text, const QByteArray &timestamp = {})
{
    QByteArray output;
    appendCsvRecord(output, recordOf(text, timestamp));
    return output;
}

QByteArray jsonRecord(const QString &text, const QByteArray &timestamp = {})
{
    QByteArray output;
    appendJsonRecord(output, recordOf(text, timestamp));
    return output;
}

QJsonObject parsedJson(const QByteArray &line)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    return error.error == QJsonParseError::NoError ? document.object() : QJsonObject();
}

// Four hexadecimal digits of a temperature word, low byte first.
QString temperatureField(int word)
{
    return u"%1%2"_s.arg(word & 0xFF, 2, 16, QChar(u'0'))
        .arg(word >> 8, 2, 16, QChar(u'0'))
        .toUpper();
}

} // namespace

class TestFrameRecords : public QObject
{
    Q_OBJECT

private slots:
    // A locale that writes a decimal comma must change nothing.
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        std::setlocale(LC_ALL, "de_DE.UTF-8");
    }

    void cleanupTestCase()
    {
        QLocale::setDefault(QLocale::c());
        std::setlocale(LC_ALL, "C");
    }

    void recordsOfOneFrame_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("timestamp");
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("every value present")
            << u"900140010C6A00A503"_s << QByteArray()
            << QByteArray("7,,900140010C6A00A503,25,20,3.8987915039062497,00000000,165,10100101,"
                          "3,00000011,OFF,OFF\n")
            << QByteArray("{\"frame\":7,\"timestamp\":null,\"frame_text\":\"900140010C6A00A503\","
                          "\"battery_temperature_c\":25,\"com_temperature_c\":20,"
                          "\"battery_voltage_v\":3.8987915039062497,\"mission_bits\":\"00000000\","
                          "\"debug_value\":165,\"debug_bits\":\"10100101\",\"kill_switch_value\":3,"
                          "\"kill_switch_bits\":\"00000011\",\"main_state\":\"OFF\","
                          "\"sub_state\":\"OFF\"}\n");
        QTest::newRow("no temperature values, kill-switch byte above 3, a timestamp")
            << u"000800080C6A00A504"_s << QByteArray("2026-12-06T18:57:44.250Z")
            << QByteArray("7,2026-12-06T18:57:44.250Z,000800080C6A00A504,,,3.8987915039062497,"
                          "00000000,165,10100101,4,00000100,,\n")
            << QByteArray("{\"frame\":7,\"timestamp\":\"2026-12-06T18:57:44.250Z\","
                          "\"frame_text\":\"000800080C6A00A504\",\"battery_temperature_c\":null,"
                          "\"com_temperature_c\":null,\"battery_voltage_v\":3.8987915039062497,"
                          "\"mission_bits\":\"00000000\",\"debug_value\":165,"
                          "\"debug_bits\":\"10100101\",\"kill_switch_value\":4,"
                          "\"kill_switch_bits\":\"00000100\",\"main_state\":null,"
                          "\"sub_state\":null}\n");
        QTest::newRow("negative values in full, MAIN on and SUB off")
            << u"F0FF70FEFFFF5AA501"_s << QByteArray()
            << QByteArray("7,,F0FF70FEFFFF5AA501,-0.9375,-24.9375,-0.0012268066406249999,"
                          "01011010,165,10100101,1,00000001,ON,OFF\n")
            << QByteArray("{\"frame\":7,\"timestamp\":null,\"frame_text\":\"F0FF70FEFFFF5AA501\","
                          "\"battery_temperature_c\":-0.9375,\"com_temperature_c\":-24.9375,"
                          "\"battery_voltage_v\":-0.0012268066406249999,"
                          "\"mission_bits\":\"01011010\",\"debug_value\":165,"
                          "\"debug_bits\":\"10100101\",\"kill_switch_value\":1,"
                          "\"kill_switch_bits\":\"00000001\",\"main_state\":\"ON\","
                          "\"sub_state\":\"OFF\"}\n");
    }

    void recordsOfOneFrame()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, timestamp);
        QTEST(csvRecord(text, timestamp), "csv");
        QTEST(jsonRecord(text, timestamp), "json");
    }

    // A frame is any 18 characters after cleaning.
    void frameTextCharacters_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("csvCell");
        QTest::addColumn<QByteArray>("jsonString");
        QTest::addColumn<QString>("readBack");
        auto row = [](const char *name, const QString &text, const QByteArray &csvCell,
                      const QByteArray &jsonString, const QString &readBack = {}) {
            QVERIFY(text.size() == 18);
            QTest::newRow(name) << text << csvCell << jsonString
                                << (readBack.isNull() ? text : readBack);
        };
        row("comma", u"9001,40010C6A00A50"_s, "\"9001,40010C6A00A50\"", "\"9001,40010C6A00A50\"");
        row("quote", u"9001\"40010C6A00A50"_s, "\"9001\"\"40010C6A00A50\"",
            "\"9001\\\"40010C6A00A50\"");
        row("quotes around a comma", u"\"9001,40010C6A00A\""_s, "\"\"\"9001,40010C6A00A\"\"\"",
            "\"\\\"9001,40010C6A00A\\\"\"");
        row("carriage return", u"9001\r40010C6A00A50"_s, "\"9001\r40010C6A00A50\"",
            "\"9001\\u000D40010C6A00A50\"");
        row("tab and semicolon need no quotes", u"9001\t40010C6A00A5;"_s, "9001\t40010C6A00A5;",
            "\"9001\\u000940010C6A00A5;\"");
        row("backslash", u"9001\\40010C6A00A50"_s, "9001\\40010C6A00A50",
            "\"9001\\\\40010C6A00A50\"");
        row("control character", u"9001\x01"_s + u"40010C6A00A50"_s,
            "9001\x01"
            "40010C6A00A50",
            "\"9001\\u000140010C6A00A50\"");
        row("letter beyond ASCII", u"900140010C6A00A5\u00C93"_s,
            "900140010C6A00A5\xC3\x89"
            "3",
            "\"900140010C6A00A5\xC3\x89"
            "3\"");
        row("character of two UTF-16 units", u"900140010C6A00A5\U0001D11E"_s,
            "900140010C6A00A5\xF0\x9D\x84\x9E", "\"900140010C6A00A5\xF0\x9D\x84\x9E\"");
        row("UTF-16 unit without its partner", u"900140010C6A00A50"_s + QChar(0xD834),
            "900140010C6A00A50\xEF\xBF\xBD", "\"900140010C6A00A50\xEF\xBF\xBD\"",
            u"900140010C6A00A50\uFFFD"_s);
    }

    void frameTextCharacters()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, csvCell);
        QFETCH(QByteArray, jsonString);
        const QByteArray csv = csvRecord(text);
        QVERIFY2(csv.startsWith("7,," + csvCell + ','), csv.constData());
        const QByteArray json = jsonRecord(text);
        QVERIFY2(json.contains("\"frame_text\":" + jsonString + ','), json.constData());
        QTEST(parsedJson(json).value(u"frame_text"_s).toString(), "readBack");
    }

    // Every temperature word and every voltage reading comes back as the very same double.
    void numbersReadBackExactly()
    {
        for (int word = 0; word <= 0xFFFF; word += 7) {
            const QString text = temperatureField(word) + temperatureField(0xFFFF - word) +
                                 u"%1"_s.arg(word, 4, 16, QChar(u'0')).toUpper() + u"00A503"_s;
            const FrameValues values = decodeFields(text);
            const QList<QByteArray> cells = csvRecord(text).trimmed().split(',');
            QCOMPARE(cells.size(), 13);
            const QJsonObject json = parsedJson(jsonRecord(text));
            QCOMPARE(json.value(u"battery_voltage_v"_s).toDouble(), values.batteryVoltage);
            QCOMPARE(cells[5].toDouble(), values.batteryVoltage);
            QVERIFY2(!cells[5].contains('e'), cells[5].constData());
            if (values.batteryTemperature) {
                QCOMPARE(cells[3].toDouble(), *values.batteryTemperature);
                QCOMPARE(json.value(u"battery_temperature_c"_s).toDouble(),
                         *values.batteryTemperature);
            }
            if (values.comTemperature)
                QCOMPARE(cells[4].toDouble(), *values.comTemperature);
        }
    }

    void headerNamesAreTheJsonKeys()
    {
        QByteArray header;
        appendCsvHeader(header);
        QCOMPARE(header, HeaderLine);
        QStringList names = QString::fromLatin1(header.trimmed()).split(u',');
        names.sort();
        QCOMPARE(parsedJson(jsonRecord(u"900140010C6A00A503"_s)).keys(), names);
    }
};

QTEST_GUILESS_MAIN(TestFrameRecords)
#include "tst_framerecords.moc"
