#include "decoder.h"
#include "linediagnostics.h"
#include "normalisation.h"
#include "pendingline.h"
#include "streamdecoding.h"

#include <QBuffer>
#include <QFile>
#include <QLocale>
#include <QTest>

#include <memory>

using namespace tovrin3;
using namespace Qt::StringLiterals;

namespace {

const QByteArray ExampleFrameLine = "QT7XMRKT3HKD 900140010C6A00A503";

// The report of the same text pasted into the window, with its CR+LF line ends made LF: what
// the stream decoder must write for an input of at most MaxFrames frames.
QByteArray windowReport(const QByteArray &input)
{
    QString text = QString::fromUtf8(input);
    text.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n').replace(u"\n"_s, u"\r\n"_s);
    auto history = std::make_unique<FrameHistory>();
    return decodeBeaconText(text, *history).replace(u"\r\n"_s, u"\n"_s).toUtf8();
}

QByteArray streamReport(const QByteArray &input, qsizetype chunkSize)
{
    QBuffer source;
    source.setData(input);
    source.open(QIODevice::ReadOnly);
    QBuffer report;
    report.open(QIODevice::WriteOnly);
    const StreamOutcome outcome = decodeStream(source, report, chunkSize);
    return outcome == StreamOutcome::Decoded ? report.data() : QByteArray("decoding failed");
}

struct Decoded
{
    QByteArray output;
    QByteArray diagnostics;
    friend bool operator==(const Decoded &, const Decoded &) = default;
};

// Decodes with the strict check on, the input named "in", in chunks of chunkSize bytes, or in
// two chunks cut at `cut` when a cut is given.
Decoded decodeStrictly(const QByteArray &input, OutputFormat format,
                       qsizetype chunkSize = DefaultChunkSize, qsizetype cut = -1)
{
    QBuffer output;
    output.open(QIODevice::WriteOnly);
    QBuffer errors;
    errors.open(QIODevice::WriteOnly);
    LineDiagnostics diagnostics(errors);
    diagnostics.setInputName("in");
    const DecodeSettings settings{format, &diagnostics};
    if (cut >= 0) {
        BeaconStreamDecoder decoder(output, settings);
        decoder.write(input.first(cut));
        decoder.write(input.sliced(cut));
        decoder.finish();
    } else {
        QBuffer source;
        source.setData(input);
        source.open(QIODevice::ReadOnly);
        if (decodeStream(source, output, settings, chunkSize) != StreamOutcome::Decoded)
            return {"decoding failed", {}};
    }
    return {output.data(), errors.data()};
}

QByteArray reportOfTwoChunks(const QByteArray &input, qsizetype cut)
{
    QBuffer report;
    report.open(QIODevice::WriteOnly);
    BeaconStreamDecoder decoder(report);
    decoder.write(input.first(cut));
    decoder.write(input.sliced(cut));
    decoder.finish();
    return report.data();
}

} // namespace

class TestStreamDecoding : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        QFile sample(QStringLiteral(SAMPLES_DIR "/beacon.txt"));
        QVERIFY(sample.open(QIODevice::ReadOnly));
        m_sampleLines = sample.readAll().split('\n');
    }

    void reportIsTheWindowsReport_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<qsizetype>("chunkSize");
        for (const QByteArray lineEnd : {"\r\n", "\n", "\r"}) {
            const QByteArray text = m_sampleLines.join(lineEnd);
            for (const qsizetype chunkSize : {1, 2, 5, 64, int(DefaultChunkSize)})
                QTest::addRow("line ends %s, chunks of %lld bytes",
                              lineEnd.toPercentEncoding().constData(), qint64(chunkSize))
                    << text << chunkSize;
        }
        QTest::newRow("CR, LF and CR+LF mixed")
            << QByteArray("\r" + ExampleFrameLine + "\n\n" + ExampleFrameLine + "\r\r\n")
            << DefaultChunkSize;
    }

    void reportIsTheWindowsReport()
    {
        QFETCH(QByteArray, input);
        QFETCH(qsizetype, chunkSize);
        const QByteArray expected = windowReport(input);
        QVERIFY(expected.startsWith("#1: "));
        QCOMPARE(streamReport(input, chunkSize), expected);
    }

    // The text decoded in chunks must be the text decoded all at once, also where a chunk
    // boundary splits a CR+LF, a multi-byte character or a broken sequence.
    void everyCutGivesTheSameReport_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::newRow("CR+LF line ends")
            << QByteArray(ExampleFrameLine + "\r\n" + ExampleFrameLine);
        QTest::newRow("two-byte character")
            << QByteArray("qt7xmrkt3hkd 900140010C6A00A50\xC3\xA9\r\n");
        QTest::newRow("three-byte character") << QByteArray("900140010C6A00A50\xE2\x82\xAC\n");
        QTest::newRow("character of two UTF-16 units")
            << QByteArray("900140010C6A00A5\xF0\x9D\x84\x9E\n");
        QTest::newRow("sequences broken off inside a line")
            << QByteArray("900140010C6A00A5\xE2\x82\r\n900140010C6A00A\xF0\x90\x80\n");
        QTest::newRow("sequence unfinished at the end") << QByteArray("900140010C6A00A50\xC3");
        QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF"
                                                       "900140010C6A00A503");
    }

    void everyCutGivesTheSameReport()
    {
        QFETCH(QByteArray, input);
        const QByteArray expected = windowReport(input);
        QVERIFY(expected.startsWith("#1: "));
        for (qsizetype cut = 0; cut <= input.size(); ++cut)
            QVERIFY2(reportOfTwoChunks(input, cut) == expected, qPrintable(QString::number(cut)));
        QCOMPARE(streamReport(input, 1), expected);
    }

    // Lines longer than many chunks are cleaned while they are still coming in.
    void longLines_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("frames");
        QTest::newRow("frame after many spaces")
            << QByteArray(100'000, ' ') + "9001 4001 0C6A00A503" << 1;
        QTest::newRow("frame after many headers")
            << QByteArray("QT7XMR kt3hkd").repeated(20'000) + "9z0140010c6a00a503" << 1;
        for (const int shift : {1, 5, 11})
            QTest::addRow("headers shifted by %d", shift)
                << QByteArray(shift, ' ') + QByteArray("QT7XMRKT3HKD").repeated(9'000) +
                       "900140010C6A00A503"
                << 1;
        // Removing the inner header leaves an outer one, which stays: the line is that frame.
        for (const int cut : {3, 14, 20})
            QTest::addRow("header around a header, cut after %d characters", cut)
                << QByteArray(18 * 4097 - cut, ' ') + "QT7QT7XMRKT3HKDXMRKT3HKD900140" << 1;
        QTest::newRow("many headers, then one character too many")
            << QByteArray("QT7XMRKT3HKD").repeated(9'000) + "900140010C6A00A5031" << 0;
        QTest::newRow("long line of other text, then a frame")
            << QByteArray(200'000, 'x') + "\n" + ExampleFrameLine << 1;
    }

    void longLines()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, frames);
        const QByteArray expected = windowReport(input);
        QCOMPARE(expected.count("#"), qsizetype(frames));
        for (const qsizetype chunkSize : {1000, 4097, int(DefaultChunkSize)})
            QCOMPARE(streamReport(input, chunkSize), expected);
    }

    void longLineHoldsLittle_data()
    {
        QTest::addColumn<QString>("piece");
        QTest::newRow("other text") << QStringLiteral("x");
        QTest::newRow("spaces") << QStringLiteral(" ");
        QTest::newRow("headers") << BeaconHeader.toString();
    }

    void longLineHoldsLittle()
    {
        QFETCH(QString, piece);
        const QString part = piece.repeated(1000 / piece.size());
        PendingLine line;
        for (int count = 0; count < 1000; ++count)
            line.append(part);
        QVERIFY2(line.heldSize() < 10'000, qPrintable(QString::number(line.heldSize())));
    }

    void diagnostics_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<OutputFormat>("format");
        QTest::addColumn<QByteArray>("diagnostics");
        const QList<QByteArray> lines{"bad line", "", ExampleFrameLine, "no frame"};
        const QByteArray lineOneAndFour =
            "in:1: not a frame (7 characters after cleaning): bad line\n"
            "in:4: not a frame (7 characters after cleaning): no frame\n";
        for (const QByteArray lineEnd : {"\n", "\r\n", "\r"})
            QTest::addRow("line ends %s", lineEnd.toPercentEncoding().constData())
                << lines.join(lineEnd) << OutputFormat::Report << lineOneAndFour;
        QTest::newRow("CR+LF, CR and LF mixed")
            << QByteArray("x\r\n\rx\n\nx\r") << OutputFormat::Report
            << QByteArray("in:1: not a frame (1 character after cleaning): x\n"
                          "in:3: not a frame (1 character after cleaning): x\n"
                          "in:5: not a frame (1 character after cleaning): x\n");
        QTest::newRow("lines of white space are not named")
            << QByteArray("  \n\t\n\xC2\xA0 \t\r\n\n") << OutputFormat::Report << QByteArray();
        QTest::newRow("control characters escaped, one line each")
            << QByteArray("\x1B[31m\tC:\\ \xC2\x85 \xE2\x80\xA8.\x7F") << OutputFormat::Report
            << QByteArray("in:1: not a frame (13 characters after cleaning): "
                          "\\x1b[31m\\tC:\\\\ \\x85 \\u2028.\\x7f\n");
        QTest::newRow("values without reading")
            << QByteArray("QT7XMRKT3HKD 0008 00F8 0C6A 00 A5 04\n"
                          "QT7XMRKT3HKD 9001 0010 0C6A 00 A5 03\n")
            << OutputFormat::Report
            << QByteArray("in:1: frame 1: battery temperature 0008 has mixed sign bits: "
                          "QT7XMRKT3HKD 0008 00F8 0C6A 00 A5 04\n"
                          "in:1: frame 1: kill-switch byte 04 is above 3: "
                          "QT7XMRKT3HKD 0008 00F8 0C6A 00 A5 04\n"
                          "in:2: frame 2: COM temperature 0010 has mixed sign bits: "
                          "QT7XMRKT3HKD 9001 0010 0C6A 00 A5 03\n");
        QTest::newRow("a line with a bar is a line like others in the report")
            << QByteArray("2026-13-40T18:57:44Z|QT7XMRKT3HKD 900140010C6A00A503")
            << OutputFormat::Report
            << QByteArray("in:1: not a frame (39 characters after cleaning): "
                          "2026-13-40T18:57:44Z|QT7XMRKT3HKD 900140010C6A00A503\n");
        for (const auto &[format, name] :
             {std::pair(OutputFormat::Csv, "CSV"), std::pair(OutputFormat::Json, "JSON")})
            QTest::addRow("malformed timestamps in %s", name)
                << QByteArray("2026-13-40T18:57:44Z|QT7XMRKT3HKD 900140010C6A00A503\n"
                              "QT7XMRKT3HKD 9001 4001 0C6A 00 A5 03 |\n")
                << format
                << QByteArray("in:1: not a frame (text before \"|\" is not a UTC timestamp): "
                              "2026-13-40T18:57:44Z|QT7XMRKT3HKD 900140010C6A00A503\n"
                              "in:2: not a frame (text before \"|\" is not a UTC timestamp): "
                              "QT7XMRKT3HKD 9001 4001 0C6A 00 A5 03 |\n");
    }

    void diagnostics()
    {
        QFETCH(QByteArray, input);
        QFETCH(OutputFormat, format);
        QTEST(decodeStrictly(input, format).diagnostics, "diagnostics");
    }

    // Timestamps, line numbers and diagnostics are the same wherever a chunk boundary falls.
    void everyCutGivesTheSameTable_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("frames");
        QTest::newRow("timestamp with T")
            << QByteArray("2026-12-06T18:57:44Z|" + ExampleFrameLine + "\n") << 1;
        QTest::newRow("timestamp with a space and a fraction")
            << QByteArray("2026-12-06 18:57:44.250Z|" + ExampleFrameLine + "\r\n") << 1;
        QTest::newRow("bar inside the frame line after a timestamp")
            << QByteArray("2026-12-06T18:57:44Z|9001|40010C6A00A53\r") << 1;
        QTest::newRow("short line without a bar") << QByteArray("900140010C6A00A503\n") << 1;
        QTest::newRow("malformed timestamps")
            << QByteArray("2026-12-06T18:57:44|" + ExampleFrameLine + "\n" +
                          "2026-12-06T18:57:44.1234567890Z|" + ExampleFrameLine + "\n")
            << 0;
        QTest::newRow("bar after a start too long for a timestamp")
            << QByteArray(ExampleFrameLine + "          |\n") << 0;
        QTest::newRow("line ends of all kinds around dated lines")
            << QByteArray("2026-12-06T18:57:44Z|" + ExampleFrameLine + "\r\nbad\r\r\n\n" +
                          "2026-12-07T00:00:00Z|" + ExampleFrameLine + "\r\n")
            << 2;
    }

    void everyCutGivesTheSameTable()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, frames);
        for (const OutputFormat format : {OutputFormat::Csv, OutputFormat::Json}) {
            const Decoded expected = decodeStrictly(input, format);
            QCOMPARE(expected.output.count('\n'), qsizetype(frames));
            for (qsizetype cut = 0; cut <= input.size(); ++cut)
                QVERIFY2(decodeStrictly(input, format, DefaultChunkSize, cut) == expected,
                         qPrintable(QString::number(cut)));
            QCOMPARE(decodeStrictly(input, format, 1), expected);
        }
    }

    void longTimestampedLines_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QByteArray>("diagnosticsStart");
        const QByteArray frameRow = "1,2026-12-06T18:57:44Z,900140010C6A00A503,25,20,"
                                    "3.8987915039062497,00000000,165,10100101,3,00000011,OFF,OFF\n";
        QTest::newRow("timestamp, many spaces, frame")
            << QByteArray("2026-12-06T18:57:44Z|" + QByteArray(100'000, ' ') +
                          "9001 4001 0C6A00A503\n")
            << frameRow << QByteArray();
        QTest::newRow("many spaces before a bar")
            << QByteArray(QByteArray(100'000, ' ') + "|" + ExampleFrameLine + "\n") << QByteArray()
            << QByteArray("in:1: not a frame (text before \"|\" is not a UTC timestamp): " +
                          QByteArray(EchoLength, ' ') + " [... 99832 more characters]\n");
        QTest::newRow("very long line without a bar")
            << QByteArray(QByteArray(1'000'000, 'x') + "\n") << QByteArray()
            << QByteArray("in:1: not a frame (1000000 characters after cleaning): " +
                          QByteArray(EchoLength, 'x') + " [... 999800 more characters]\n");
    }

    void longTimestampedLines()
    {
        QFETCH(QByteArray, input);
        for (const qsizetype chunkSize : {1000, 4097, int(DefaultChunkSize)}) {
            const Decoded decoded = decodeStrictly(input, OutputFormat::Csv, chunkSize);
            QTEST(decoded.output, "output");
            QTEST(decoded.diagnostics, "diagnosticsStart");
        }
    }

    void echoKeepsTheStartOfALine_data()
    {
        QTest::addColumn<QString>("piece");
        QTest::addColumn<int>("keptUnits");
        QTest::newRow("characters of one unit") << u"xy"_s << int(EchoLength);
        QTest::newRow("characters of two units kept whole")
            << u"x\U0001D11E"_s << int(EchoLength) - 1;
    }

    void echoKeepsTheStartOfALine()
    {
        QFETCH(QString, piece);
        QFETCH(int, keptUnits);
        LineEcho echo;
        const int pieces = 100'000;
        for (int count = 0; count < pieces; ++count)
            echo.append(piece);
        const QString line = piece.repeated(pieces);
        QCOMPARE(echo.start(), QStringView(line).first(keptUnits));
        QCOMPARE(echo.cutCharacters(),
                 line.toUcs4().size() - line.first(keptUnits).toUcs4().size());
    }

    void failedWriteStopsReading()
    {
        QBuffer source;
        source.setData((ExampleFrameLine + "\n").repeated(10'000));
        source.open(QIODevice::ReadOnly);
        QBuffer readOnlyOutput;
        readOnlyOutput.open(QIODevice::ReadOnly);
        QCOMPARE(decodeStream(source, readOnlyOutput, 1000), StreamOutcome::WriteFailed);
        QVERIFY(source.pos() < source.size());
    }

private:
    QList<QByteArray> m_sampleLines;
};

QTEST_GUILESS_MAIN(TestStreamDecoding)
#include "tst_streamdecoding.moc"
