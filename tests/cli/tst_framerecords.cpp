// SPDX-License-Identifier: GPL-3.0-or-later
#include "framerecords.h"
#include "linetimestamp.h"
#include "telemetry.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTest>

#include <algorithm>
#include <clocale>

using namespace tovrin3;
using namespace Qt::StringLiterals;

namespace {

// Whole records are compared against the sample's files in the command's tests; here are the
// frame texts the samples have no example of.
QByteArray csvRecord(const QString &text)
{
    QByteArray output;
    appendCsvRecord(output, {7, {}, text, decodeFields(text)});
    return output;
}

// The record read back; empty unless it is valid JSON on one line, every control character
// escaped.
QJsonObject jsonRecord(const QString &text)
{
    QByteArray output;
    appendJsonRecord(output, {7, {}, text, decodeFields(text)});
    const bool escaped = std::none_of(output.cbegin(), output.cend() - 1,
                                      [](char byte) { return static_cast<uchar>(byte) < 0x20; });
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(output, &error);
    return escaped && error.error == QJsonParseError::NoError ? document.object() : QJsonObject();
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

    // A frame is any 18 characters after cleaning; JSON must read each back as it was.
    void frameTextCharacters_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("csvCell");
        QTest::newRow("comma") << u"9001,40010C6A00A50"_s << QByteArray("\"9001,40010C6A00A50\"");
        QTest::newRow("quote") << u"9001\"40010C6A00A50"_s
                               << QByteArray("\"9001\"\"40010C6A00A50\"");
        QTest::newRow("tab and semicolon need no quotes")
            << u"9001\t40010C6A00A5;"_s << QByteArray("9001\t40010C6A00A5;");
        QTest::newRow("backslash") << u"9001\\40010C6A00A50"_s << QByteArray("9001\\40010C6A00A50");
        QTest::newRow("last control character")
            << u"900140010C6A00A50\x1F"_s << QByteArray("900140010C6A00A50\x1F");
        QTest::newRow("two UTF-8 bytes")
            << u"900140010C6A00A50\u00C9"_s << QByteArray("900140010C6A00A50\xC3\x89");
        QTest::newRow("three UTF-8 bytes")
            << u"900140010C6A00A50\u20AC"_s << QByteArray("900140010C6A00A50\xE2\x82\xAC");
        QTest::newRow("four UTF-8 bytes, two UTF-16 units")
            << u"900140010C6A00A5\U0001D11E"_s << QByteArray("900140010C6A00A5\xF0\x9D\x84\x9E");
    }

    void frameTextCharacters()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, csvCell);
        const QByteArray csv = csvRecord(text);
        QVERIFY2(csv.startsWith("7,," + csvCell + ','), csv.constData());
        QCOMPARE(jsonRecord(text).value(u"frame_text"_s).toString(), text);
    }

    // An empty `written` marks a text that is no timestamp.
    void timestamps_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("written");
        // Read as written: one and nine fraction digits, leap days (of a 400th year too), a year's
        // last second.
        for (const char *text :
             {"2026-12-06T18:57:44.2Z", "2026-12-06T18:57:44.123456789Z", "2028-02-29T00:00:00Z",
              "2000-02-29T23:59:59Z", "2026-12-31T23:59:59Z"})
            QTest::newRow(text) << QString::fromLatin1(text) << QString::fromLatin1(text);
        QTest::newRow("lower-case t and z")
            << u"2026-12-06t18:57:44z"_s << u"2026-12-06T18:57:44Z"_s;
        // No seconds; month 13 and 0, day 0, 31 April, 29 February outside a leap year and of a
        // century; hour 24, minute and second 60; an offset, another separator; a point without
        // a fraction, ten fraction digits, a comma before them, a digit of another script.
        for (const char *text :
             {"2026-12-06T18:57Z", "2026-13-06T18:57:44Z", "2026-00-06T18:57:44Z",
              "2026-12-00T18:57:44Z", "2026-04-31T18:57:44Z", "2026-02-29T18:57:44Z",
              "1900-02-29T18:57:44Z", "2026-12-06T24:00:00Z", "2026-12-06T18:60:44Z",
              "2026-12-06T18:57:60Z", "2026-12-06T18:57:44+00:00", "2026-12-06_18:57:44Z",
              "2026-12-06T18:57:44.Z", "2026-12-06T18:57:44.1234567890Z",
              "2026-12-06T18:57:44,250Z", "2026-12-06T18:57:44.\xD9\xA6Z"})
            QTest::newRow(text) << QString::fromUtf8(text) << QString();
    }

    // The confidence in JSON only when asked for. The CSV column is tst_decodecommand's
    // ("--keep-doubtful adds a confidence column, empty without a mark").
    void confidenceColumn_data()
    {
        QTest::addColumn<bool>("withConfidence");
        QTest::addColumn<std::optional<double>>("confidence");
        QTest::addColumn<QJsonValue>("json");
        QTest::newRow("without the column")
            << false << std::optional(0.42) << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("a confidence") << true << std::optional(0.42) << QJsonValue(0.42);
        QTest::newRow("the column without a confidence")
            << true << std::optional<double>() << QJsonValue();
    }

    void confidenceColumn()
    {
        QFETCH(bool, withConfidence);
        QFETCH(std::optional<double>, confidence);
        const QString text = u"900140010C6A00A503"_s;
        FrameRecordFields record{1, {}, text, decodeFields(text)};
        record.withConfidence = withConfidence;
        record.confidence = confidence;
        QByteArray json;
        appendJsonRecord(json, record);
        QTEST(QJsonDocument::fromJson(json).object().value(u"confidence"_s), "json");
    }

    void timestamps()
    {
        QFETCH(QString, text);
        QFETCH(QString, written);
        Timestamp timestamp;
        QVERIFY(timestamp.read(u"2026-12-06T18:57:44Z"));
        QCOMPARE(timestamp.read(text), !written.isEmpty());
        QCOMPARE(QString(timestamp.text()), written);
    }
};

QTEST_GUILESS_MAIN(TestFrameRecords)
#include "tst_framerecords.moc"
