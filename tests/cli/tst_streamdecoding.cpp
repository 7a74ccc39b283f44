// SPDX-License-Identifier: GPL-3.0-or-later
#include "cwstream.h"
#include "decoder.h"
#include "doubtfulmark.h"
#include "filetesting.h"
#include "linediagnostics.h"
#include "normalisation.h"
#include "streamdecoding.h"

#include <QBuffer>
#include <QFile>
#include <QLocale>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace tovrin3;
using namespace Qt::StringLiterals;
using tovrin3::testing::fileContent;

namespace {

const QByteArray ExampleFrameLine = "QT7XMRKT3HKD 900140010C6A00A503";
const QByteArray BadTimestamp = "not a frame (text before \"|\" is not a UTC timestamp): ";

// The report of the same text pasted into the window, with LF line ends: what the stream
// decoder must write for an input of at most MaxFrames frames.
QByteArray windowReport(const QByteArray &input)
{
    QString text = QString::fromUtf8(input);
    text.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n').replace(u"\n"_s, u"\r\n"_s);
    auto history = std::make_unique<FrameHistory>();
    return decodeBeaconText(text, *history).replace(u"\r\n"_s, u"\n"_s).toUtf8();
}

struct Decoded
{
    QByteArray output;
    QByteArray diagnostics;
    friend bool operator==(const Decoded &, const Decoded &) = default;
};

// Decodes with the strict check on, the input named "in": a first chunk of `firstChunk` bytes,
// then chunks of chunkSize bytes.
Decoded decode(const QByteArray &input, OutputFormat format, qsizetype chunkSize = DefaultChunkSize,
               qsizetype firstChunk = 0)
{
    QBuffer output;
    output.open(QIODevice::WriteOnly);
    QBuffer errors;
    errors.open(QIODevice::WriteOnly);
    LineDiagnostics diagnostics(errors);
    diagnostics.setInputName("in");
    BeaconStreamDecoder decoder(output, {format, &diagnostics});
    decoder.write(input.first(firstChunk));
    for (qsizetype at = firstChunk; at < input.size(); at += chunkSize)
        decoder.write(input.sliced(at, std::min(chunkSize, input.size() - at)));
    decoder.finish();
    return {output.data(), errors.data()};
}

int frameCount(const QByteArray &output, OutputFormat format)
{
    return int(output.count(format == OutputFormat::Report ? '#' : '\n'));
}

} // namespace

class TestStreamDecoding : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    // Output, line numbers and diagnostics are those of decoding all at once, and the report is
    // the window's, also where a chunk boundary splits a CR+LF, a multi-byte character, a broken
    // sequence or a timestamp.
    void everyCutGivesTheSameResult_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<OutputFormat>("format");
        QTest::addColumn<int>("frames");
        auto reportRow = [](const char *name, const QByteArray &input, int frames) {
            QTest::newRow(name) << input << OutputFormat::Report << frames;
        };
        auto tableRows = [](const char *name, const QByteArray &input, int frames) {
            QTest::addRow("%s, CSV", name) << input << OutputFormat::Csv << frames;
            QTest::addRow("%s, JSON", name) << input << OutputFormat::Json << frames;
        };
        const QList<QByteArray> sampleLines =
            fileContent(QStringLiteral(SAMPLES_DIR "/beacon.txt")).split('\n');
        reportRow("sample, CR+LF", sampleLines.join("\r\n"), 12);
        reportRow("two-byte character", "qt7xmrkt3hkd 900140010C6A00A50\xC3\xA9\r\n", 1);
        reportRow("character of two UTF-16 units", "900140010C6A00A5\xF0\x9D\x84\x9E\n", 1);
        reportRow("sequences broken off inside a line",
                  "900140010C6A00A5\xE2\x82\r\n900140010C6A00A\xF0\x90\x80\n", 2);
        reportRow("sequence unfinished at the end", "900140010C6A00A50\xC3", 1);
        reportRow("byte order mark", QByteArray("\xEF\xBB\xBF") + "900140010C6A00A503", 1);
        const QByteArray timestamped =
            fileContent(QStringLiteral(TEST_DATA_DIR "/timestamped.txt"));
        reportRow("timestamps are no part of the report format", timestamped, 1);
        tableRows("timestamped pass", timestamped, 6);
        tableRows("bar inside the frame line after a timestamp",
                  "2026-12-06T18:57:44Z|9001|40010C6A00A53\r", 1);
        tableRows("short line without a bar", "900140010C6A00A503\n", 1);
    }

    void everyCutGivesTheSameResult()
    {
        QFETCH(QByteArray, input);
        QFETCH(OutputFormat, format);
        QFETCH(int, frames);
        const Decoded whole = decode(input, format);
        if (format == OutputFormat::Report)
            QCOMPARE(whole.output, windowReport(input));
        QCOMPARE(frameCount(whole.output, format), frames);
        for (qsizetype cut = 0; cut <= input.size(); ++cut)
            QVERIFY2(decode(input, format, DefaultChunkSize, cut) == whole,
                     qPrintable(QString::number(cut)));
        QCOMPARE(decode(input, format, 1), whole);
    }

    void numbersFramesBeyondWhatTheWindowHolds()
    {
        const QByteArray block = decode(ExampleFrameLine, OutputFormat::Report).output;
        QVERIFY(block.startsWith("#1: "));
        QByteArray expected;
        for (int frame = 1; frame <= 150; ++frame)
            expected += '#' + QByteArray::number(frame) + block.sliced(2);
        QCOMPARE(decode((ExampleFrameLine + '\n').repeated(150), OutputFormat::Report, 1000).output,
                 expected);
    }

    // The strict check's diagnostics. Lines longer than many chunks are cleaned while they are
    // still coming in; a line that ends within the one chunk is cleaned whole, which the chunked
    // decoding must match.
    void diagnosedLines_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<OutputFormat>("format");
        QTest::addColumn<int>("frames");
        QTest::addColumn<QByteArray>("diagnostics");
        const OutputFormat report = OutputFormat::Report;
        QTest::newRow("lines of white space are not named")
            << QByteArray("  \n\t\n\xC2\xA0 \t\r\n\n") << report << 0 << QByteArray();
        QTest::newRow("control characters escaped, one line each")
            << QByteArray("\x1B[31m\tC:\\ \xC2\x85 \xE2\x80\xA8.\x7F") << report << 0
            << QByteArray("in:1: not a frame (13 characters after cleaning): "
                          "\\x1b[31m\\tC:\\\\ \\x85 \\u2028.\\x7f\n");
        const QByteArray noReadings = "QT7XMRKT3HKD 0008 0010 0C6A 00 A5 04";
        QTest::newRow("values without reading")
            << noReadings + "\n"
            << report << 1
            << "in:1: frame 1: battery temperature 0008 has mixed sign bits: " + noReadings +
                   "\nin:1: frame 1: COM temperature 0010 has mixed sign bits: " + noReadings +
                   "\nin:1: frame 1: kill-switch byte 04 is above 3: " + noReadings + "\n";
        QTest::newRow("malformed timestamps")
            << QByteArray("2026-13-40T18:57:44Z|" + ExampleFrameLine + "\n" + ExampleFrameLine +
                          " |\n")
            << OutputFormat::Json << 0
            << "in:1: " + BadTimestamp + "2026-13-40T18:57:44Z|" + ExampleFrameLine +
                   "\nin:2: " + BadTimestamp + ExampleFrameLine + " |\n";
        QTest::newRow("frame after many headers")
            << QByteArray("QT7XMR kt3hkd").repeated(20'000) + "9z0140010c6a00a503\n"
            << report << 1 << QByteArray();
        for (const int shift : {1, 5, 11})
            QTest::addRow("headers shifted by %d", shift)
                << QByteArray(shift, ' ') + BeaconHeader.toLatin1().repeated(9'000) +
                       "900140010C6A00A503\n"
                << report << 1 << QByteArray();
        // Removing the inner header leaves an outer one, which stays: the line is that frame.
        for (const int cut : {3, 14, 20})
            QTest::addRow("header around a header, cut after %d characters", cut)
                << QByteArray(18 * 4097 - cut, ' ') + "QT7QT7XMRKT3HKDXMRKT3HKD900103\n"
                << report << 1
                << "in:1: frame 1: not hexadecimal: battery temperature QT7X, COM temperature "
                   "MRKT, battery voltage 3HKD: " +
                       QByteArray(EchoLength, ' ') +
                       QByteArray::number(18 * 4097 - cut + 30 - EchoLength)
                           .prepend(" [... ")
                           .append(" more characters]\n");
        const QByteArray headers = BeaconHeader.toLatin1().repeated(9'000);
        QTest::newRow("many headers, then one character too many")
            << headers + "900140010C6A00A5031\n"
            << report << 0
            << "in:1: not a frame (19 characters after cleaning): " + headers.first(EchoLength) +
                   " [... 107819 more characters]\n";
        QTest::newRow("long line of other text, then a frame")
            << QByteArray(200'000, 'x') + "\n" + ExampleFrameLine + "\n"
            << report << 1
            << "in:1: not a frame (200000 characters after cleaning): " +
                   QByteArray(EchoLength, 'x') + " [... 199800 more characters]\n";
        QTest::newRow("timestamp, many spaces, frame")
            << "2026-12-06T18:57:44Z|" + QByteArray(100'000, ' ') + "9001 4001 0C6A00A503\n"
            << OutputFormat::Csv << 1 << QByteArray();
        QTest::newRow("many spaces before a bar")
            << QByteArray(100'000, ' ') + "|" + ExampleFrameLine + "\n"
            << OutputFormat::Csv << 0
            << "in:1: " + BadTimestamp + QByteArray(EchoLength, ' ') +
                   " [... 99832 more characters]\n";
        QTest::newRow("characters of two UTF-16 units, each shown whole")
            << QByteArray("x\xF0\x9D\x84\x9E").repeated(100'000) + "\n"
            << OutputFormat::Json << 0
            << "in:1: not a frame (300000 characters after cleaning): " +
                   QByteArray("x\xF0\x9D\x84\x9E").repeated(66) +
                   "x [... 199867 more characters]\n";
    }

    void diagnosedLines()
    {
        QFETCH(QByteArray, input);
        QFETCH(OutputFormat, format);
        QFETCH(int, frames);
        const Decoded whole = decode(input, format, input.size());
        QCOMPARE(frameCount(whole.output, format), frames);
        QTEST(whole.diagnostics, "diagnostics");
        for (const qsizetype chunkSize : {1000, 4097})
            QCOMPARE(decode(input, format, chunkSize), whole);
    }

    // However long a line grows, what is held of it stays small.
    void longLineHoldsLittle()
    {
        for (const QString &piece : {u"x"_s, u" "_s, BeaconHeader.toString()}) {
            LineCleaner line;
            for (int count = 0; count < 1000; ++count)
                line.append(piece.repeated(1000 / piece.size()));
            QVERIFY2(line.heldSize() < 10'000, qPrintable(piece));
        }
    }

    // tovrin3-decode on a recording decodes the copied lines as tovrin3-cw writes them: the
    // report is the same either way, doubtful frames left out or kept.
    void copiedLinesDecodeAsTheirText_data()
    {
        QTest::addColumn<bool>("keepDoubtful");
        QTest::addColumn<QByteArray>("confidences");
        QTest::newRow("doubtful frames left out") << false << QByteArray("0.97,");
        QTest::newRow("doubtful frames kept") << true << QByteArray("0.97,0.42,");
    }

    void copiedLinesDecodeAsTheirText()
    {
        QFETCH(bool, keepDoubtful);
        const std::vector<morse::CopiedLine> lines{
            {u"QT7XMRKT3HKD 90 01 40 01 0C 6A 00 A5 03"_s, 1.0, 0.97, false},
            {u"CQ DE NOCALL K"_s, 9.0, {}, false},
            {u"QT7XMRKT3HKD 28 01 64 01 0C 80 00 A5 03"_s, 20.0, 0.42, true},
        };
        QByteArray copiedText;
        for (const morse::CopiedLine &line : lines)
            copiedText +=
                cwOutputLine(copiedLineText(line.text, line.doubtful, line.frameConfidence));
        const auto decoded = [&](OutputFormat format, bool fromText) {
            QBuffer output;
            output.open(QIODevice::WriteOnly);
            DecodeSettings settings{format, nullptr};
            settings.keepDoubtful = keepDoubtful;
            settings.withConfidence = format == OutputFormat::Csv;
            if (fromText) {
                QBuffer input(&copiedText);
                input.open(QIODevice::ReadOnly);
                decodeStream(input, output, settings);
            } else {
                decodeCopiedLines(lines, output, settings);
            }
            return output.data();
        };
        const QByteArray report = decoded(OutputFormat::Report, false);
        QCOMPARE(report, decoded(OutputFormat::Report, true));
        QCOMPARE(report.count("-----------------------\n"), keepDoubtful ? 2 : 1);
        // Each CSV row ends in its frame's confidence.
        QByteArray confidences;
        for (const QByteArray &row : decoded(OutputFormat::Csv, false).split('\n'))
            if (!row.isEmpty())
                confidences += row.sliced(row.lastIndexOf(',') + 1) + ',';
        QTEST(confidences, "confidences");
    }
};

QTEST_GUILESS_MAIN(TestStreamDecoding)
#include "tst_streamdecoding.moc"
