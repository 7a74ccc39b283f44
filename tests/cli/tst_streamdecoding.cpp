// SPDX-License-Identifier: GPL-3.0-or-later
// The stream decoder of tovrin3-decode, how it tells what an input holds, and the copy of a raw
// sample stream that tovrin3-cw writes.
#include "cwstream.h"
#include "cwtesting.h"
#include "decoder.h"
#include "doubtfulmark.h"
#include "filetesting.h"
#include "framerecords.h"
#include "inputcontent.h"
#include "linediagnostics.h"
#include "linetimestamp.h"
#include "normalisation.h"
#include "soundtesting.h"
#include "streamdecoding.h"
#include "telemetry.h"

#include <QBuffer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QStringEncoder>
#include <QTest>
#include <QTimeZone>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <memory>

using namespace tovrin3;
using namespace Qt::StringLiterals;
using tovrin3::testing::fileContent;
using tovrin3::testing::PassStart;

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

constexpr double Rate = 8000.0;

class FixedClock : public UtcClock
{
public:
    QDateTime now() const override { return time; }
    QDateTime time = PassStart;
};

// The copy of the bytes written in pieces; without a start, each piece arrives half a second
// into the second that its place in the pieces gives.
std::vector<TimedLine> copyInPieces(const QByteArray &bytes, qsizetype pieceSize,
                                    const std::optional<QDateTime> &start = std::nullopt)
{
    FixedClock clock;
    RawStreamCopier copier(Rate, clock, start);
    std::vector<TimedLine> lines;
    for (qsizetype at = 0; at < bytes.size(); at += pieceSize) {
        clock.time = PassStart.addMSecs(at / pieceSize * 1000 + 500);
        copier.write(QByteArrayView(bytes).sliced(at, std::min(pieceSize, bytes.size() - at)));
        std::ranges::move(copier.takeLines(), std::back_inserter(lines));
    }
    copier.finish();
    std::ranges::move(copier.takeLines(), std::back_inserter(lines));
    return lines;
}

QByteArray recording(int format, int sampleRate = 8000)
{
    return testing::soundBytes(testing::cwTestSignal(sampleRate, testing::CwShortTransmissions),
                               sampleRate, format);
}

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

Q_DECLARE_METATYPE(InputContent)

class TestStreamDecoding : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // A locale that writes a decimal comma must change nothing.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        std::setlocale(LC_ALL, "de_DE.UTF-8");
        m_bytes = testing::rawSamples(testing::cwTestSignal(Rate, testing::CwShortTransmissions));
        m_whole = copyInPieces(m_bytes, m_bytes.size());
        QStringList texts;
        for (const TimedLine &line : m_whole)
            texts.append(line.text);
        QCOMPARE(texts, testing::CwShortTransmissions);
    }

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

    // What an input holds, told by as few first bytes as a pipe may deliver.
    void tells_data()
    {
        QTest::addColumn<QByteArray>("firstBytes");
        QTest::addColumn<InputContent>("content");
        const QByteArray text = "QT7XMRKT3HKD 900140010C6A00A503\n";
        QTest::newRow("nothing is empty text") << QByteArray() << InputContent::Utf8Text;
        QTest::newRow("UTF-8") << text << InputContent::Utf8Text;
        QTest::newRow("UTF-8 with a byte-order mark")
            << "\xEF\xBB\xBF" + text << InputContent::Utf8Text;
        QTest::newRow("not UTF-8 but no NUL: text with replaced bytes")
            << "caf\xE9 " + text << InputContent::Utf8Text;
        QStringEncoder little(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
        QStringEncoder big(QStringConverter::Utf16BE, QStringConverter::Flag::WriteBom);
        QTest::newRow("UTF-16, little-endian")
            << QByteArray(little(QString::fromUtf8(text))) << InputContent::Utf16Text;
        QTest::newRow("UTF-16, big-endian")
            << QByteArray(big(QString::fromUtf8(text))) << InputContent::Utf16Text;
        QTest::newRow("a NUL in the first 4 KiB")
            << text.repeated(100) + '\0' << InputContent::Unknown;
        QTest::newRow("raw samples")
            << testing::rawSamples(testing::cwTestSignal(8000)).first(TextCheckSize)
            << InputContent::Unknown;
        // A pipe may deliver no more than the first AudioCheckSize bytes before the decision.
        const QList<std::pair<const char *, int>> formats{
            {"WAV", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
            {"FLAC", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
            {"Ogg Vorbis", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
            {"Ogg Opus", SF_FORMAT_OGG | SF_FORMAT_OPUS},
            {"AU", SF_FORMAT_AU | SF_FORMAT_PCM_16},
            {"AIFF", SF_FORMAT_AIFF | SF_FORMAT_PCM_16}};
        for (const auto &[name, format] : formats)
            QTest::addRow("%s, its first bytes", name)
                << recording(format).first(AudioCheckSize) << InputContent::Recording;
    }

    void tells()
    {
        QFETCH(QByteArray, firstBytes);
        QTEST(inputContent(firstBytes), "content");
    }

    // Pieces cut inside samples, at sample boundaries and around a read's usual size.
    void sameLinesWhereverCut_data()
    {
        QTest::addColumn<qsizetype>("pieceSize");
        for (const qsizetype size : {1, 2, 3, 5, 4095, 4096, 16385})
            QTest::addRow("%lld bytes", static_cast<long long>(size)) << size;
    }

    void sameLinesWhereverCut()
    {
        QFETCH(qsizetype, pieceSize);
        const std::vector<TimedLine> lines = copyInPieces(m_bytes, pieceSize);
        QCOMPARE(lines.size(), m_whole.size());
        for (size_t index = 0; index < lines.size(); ++index) {
            QCOMPARE(lines[index].text, m_whole[index].text);
            QCOMPARE(lines[index].startSeconds, m_whole[index].startSeconds);
        }
    }

    // From a start, a line's time is its place in the stream; without one, each piece of a
    // second's samples arrives half a second after its second began.
    void timesLines()
    {
        const std::vector<TimedLine> fromStart = copyInPieces(m_bytes, 4096, PassStart);
        QCOMPARE(fromStart.size(), m_whole.size());
        for (const TimedLine &line : fromStart)
            QCOMPARE(line.startTime, PassStart.addMSecs(std::llround(line.startSeconds * 1000)));
        const std::vector<TimedLine> byArrival = copyInPieces(m_bytes, qsizetype(Rate) * 2);
        QCOMPARE(byArrival.size(), m_whole.size());
        for (const TimedLine &line : byArrival) {
            const auto second = std::llround(line.startSeconds * Rate) / static_cast<qint64>(Rate);
            QCOMPARE(line.startTime, PassStart.addMSecs(second * 1000 + 500));
        }
    }

    // The time is one tovrin3-decode reads.
    void writesLines_data()
    {
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("UTC to the millisecond")
            << PassStart.addMSecs(250)
            << QByteArray("2026-12-06T18:57:44.250Z|QT7XMRKT3HKD 90 01\n");
        QTest::newRow("another zone written as UTC")
            << PassStart.toTimeZone(QTimeZone(3600))
            << QByteArray("2026-12-06T18:57:44.000Z|QT7XMRKT3HKD 90 01\n");
    }

    void writesLines()
    {
        QFETCH(QDateTime, time);
        const QByteArray line = cwOutputLine(QStringLiteral("QT7XMRKT3HKD 90 01"), time);
        QTEST(line, "line");
        Timestamp timestamp;
        QVERIFY(timestamp.read(QString::fromLatin1(line.first(line.indexOf('|')))));
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
        // Read as written: one and nine fraction digits, leap days (of a 400th year too).
        for (const char *text : {"2026-12-06T18:57:44.2Z", "2026-12-06T18:57:44.123456789Z",
                                 "2028-02-29T00:00:00Z", "2000-02-29T23:59:59Z"})
            QTest::newRow(text) << QString::fromLatin1(text) << QString::fromLatin1(text);
        QTest::newRow("lower-case t and z")
            << u"2026-12-06t18:57:44z"_s << u"2026-12-06T18:57:44Z"_s;
        // No seconds; month 13 and 0, day 0, 31 April, 29 February of a century; hour 24, second
        // 60; an offset, another separator; a point without
        // a fraction, ten fraction digits, a comma before them, a digit of another script.
        for (const char *text :
             {"2026-12-06T18:57Z", "2026-13-06T18:57:44Z", "2026-00-06T18:57:44Z",
              "2026-12-00T18:57:44Z", "2026-04-31T18:57:44Z", "1900-02-29T18:57:44Z",
              "2026-12-06T24:00:00Z", "2026-12-06T18:57:60Z", "2026-12-06T18:57:44+00:00",
              "2026-12-06_18:57:44Z", "2026-12-06T18:57:44.Z", "2026-12-06T18:57:44.1234567890Z",
              "2026-12-06T18:57:44,250Z", "2026-12-06T18:57:44.\xD9\xA6Z"})
            QTest::newRow(text) << QString::fromUtf8(text) << QString();
    }

    // The confidence in JSON only when asked for. The CSV column is tested in tst_programs
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

private:
    QByteArray m_bytes;
    std::vector<TimedLine> m_whole;
};

QTEST_GUILESS_MAIN(TestStreamDecoding)
#include "tst_streamdecoding.moc"
