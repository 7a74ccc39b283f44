// SPDX-License-Identifier: GPL-3.0-or-later
// The decoder: the report, the values and texts a frame gives, the one line pipeline (lines
// whatever their ends and wherever the text is cut, timestamps, stopping) and the doubtful mark
// that every copying program writes, and what reading it back gives.
#include "beaconreader.h"
#include "conversions.h"
#include "decoder.h"
#include "doubtfulmark.h"
#include "normalisation.h"
#include "report.h"
#include "telemetry.h"

#include <QLocale>
#include <QTest>

#include <limits>

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

using Options = BeaconReader::Options;
const QString Frame = u"QT7XMRKT3HKD 900140010C6A00A503"_s;

// Each line as "number kind cleaned-length [frame number, timestamp, frame text]".
class LineRecorder : public BeaconLineReceiver
{
public:
    bool receiveLine(const BeaconLine &line) override
    {
        static const char *const kinds[] = {"frame", "other", "bad-time"};
        QString entry = u"%1 %2 %3"_s.arg(line.lineNumber)
                            .arg(QLatin1StringView(kinds[int(line.kind)]))
                            .arg(line.cleanedLength);
        if (line.kind == BeaconLine::Kind::Frame)
            entry += u" #%1 %2 %3"_s.arg(line.frameNumber)
                         .arg(line.timestamp.isEmpty() ? u"-"_s : QString(line.timestamp),
                              line.frameText.toString());
        if (line.doubtfulConfidence)
            entry += u" doubtful %1"_s.arg(*line.doubtfulConfidence);
        lines << entry;
        return true;
    }

    QStringList lines;
};

QStringList readWhole(const QString &text, BeaconReader::Options options)
{
    LineRecorder recorder;
    BeaconReader reader(recorder, options);
    reader.readText(text);
    return recorder.lines;
}

// The text in pieces of `size` characters.
QStringList readInPieces(const QString &text, BeaconReader::Options options, qsizetype size)
{
    LineRecorder recorder;
    BeaconReader reader(recorder, options);
    for (qsizetype at = 0; at < text.size(); at += size)
        reader.read(QStringView(text).sliced(at, std::min(size, text.size() - at)));
    reader.finish();
    return recorder.lines;
}

} // namespace

class DecoderTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    // A frame's block in the report, a line without value left out, and its record.
    void reportsAFrame()
    {
        FrameHistory history;
        QCOMPARE(decodeBeaconText(u"qt7xmr kt3 hkd 90 01 40 01 0c 6a 00 a5 03", history),
                 ExampleBlock);
        QCOMPARE(history.frameCount(), 1);
        QCOMPARE(history.record(1).FrameText, QString("900140010C6A00A503"));
        const std::array<double, ChannelCount> expected{25.0,  20.0, 3.8987915039062497,
                                                        165.0, 3.0,  0.0};
        QCOMPARE(history.record(1).Channel, expected);
        QCOMPARE(decodeBeaconText(u"000840010C6A00A504", history),
                 QString("#1: 000840010C6A00A504\r\n"
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
        QCOMPARE(history.record(1).FrameText, QString("000800080C6A00A503"));
        QCOMPARE(history.record(3).FrameText, QString("900140010C6A00A503"));

        decodeBeaconText(u"no frame here", history);
        QCOMPARE(history.frameCount(), 0);
        QCOMPARE(history.record(1).FrameText, QString("000800080C6A00A503"));
        // Each run numbers its frames from 1 again.
        QCOMPARE(decodeBeaconText(u"900140010C6A00A503", history), ExampleBlock);
    }

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
        cleaned("no-break space stays", "90\u00A001", "90\u00A001");
        cleaned("non-ASCII upper-cased by Qt's rules", "\u00E9z", "\u00C90");
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
        decimals("negative zero", -0.0, "0.00");
        decimals("rounds to zero from below", -0.004, "0.00");
        decimals("just below a tie stays down", 1.005, "1.00");
        const auto hex = [](const char *text, int expected) {
            QTest::addRow("hexadecimal: '%s'", text)
                << QString::number(HexToDec(QString::fromUtf8(text))) << QString::number(expected);
        };
        hex("", 0);
        hex("0x", 0);
        hex("0x1f", 31);
        hex("&H1F", 31);
        hex("7FFF", 32767);
        hex("8000", -32768); // four digits are 16 bits with a sign
        hex("10000", 65536); // five and more are 32 bits
        hex("80000000", std::numeric_limits<int>::min());
        hex("0000FFFF", 65535); // leading zeros widen
        hex("100000000", 0);    // nine digits
        hex("1G", 1);           // stops at a non-digit
        hex("-5", 0);           // a minus is no digit
        hex("0x&H12", 0);       // one prefix only
        hex("\xEF\xBC\x91", 0); // a non-ASCII digit
        // A temperature word, low byte first; "none" where it has no value.
        const auto temperature = [](const char *name, std::uint8_t low, std::uint8_t high,
                                    const char *celsius) {
            const std::optional<double> value = temperatureFromWord(low, high);
            QTest::addRow("temperature: %s", name)
                << (value ? QString::number(*value, 'g', QLocale::FloatingPointShortest)
                          : u"none"_s)
                << QString::fromLatin1(celsius);
        };
        temperature("5A01", 0x5A, 0x01, "21.625");
        temperature("70FE one's complement", 0x70, 0xFE, "-24.9375");
        temperature("F0FF is -0.9375, not -1", 0xF0, 0xFF, "-0.9375");
        temperature("FFFF is zero", 0xFF, 0xFF, "0");
        temperature("FF07 top", 0xFF, 0x07, "127.9375");
        temperature("00F8 bottom", 0x00, 0xF8, "-127.9375");
        temperature("0008 mixed sign bits", 0x00, 0x08, "none");
        // Bit for bit: the factor lies one unit in the last place below 5.025, and 8000 is
        // negative.
        for (const auto &[field, volts] : {std::pair{"0000", "0"},
                                           {"0FFF", "5.023773193359374"},
                                           {"8000", "-40.199999999999996"}})
            QTest::addRow("battery voltage %s", field)
                << QString::number(
                       decodeFields(u"00000000"_s + QLatin1StringView(field) + u"000000"_s)
                           .batteryVoltage,
                       'g', QLocale::FloatingPointShortest)
                << QString::fromLatin1(volts);
        const auto problems = [](const QString &frame) {
            static const char *const kinds[] = {"not hexadecimal", "mixed sign bits", "no state"};
            QStringList found;
            checkFields(frame, decodeFields(frame),
                        [&](const FieldLayout &field, FieldProblem problem) {
                            found << field.name.toString() + u": "_s +
                                         QLatin1StringView(kinds[int(problem)]);
                        });
            return found.join(u"; ");
        };
        QTest::newRow("field problems: none") << problems(u"900140010C6A00A503"_s) << QString();
        QTest::newRow("field problems: nothing hexadecimal")
            << problems(u"GGGGGGGGGGGGGGGGGG"_s)
            << u"battery temperature: not hexadecimal; COM temperature: not hexadecimal; battery "
               u"voltage: not hexadecimal; mission byte: not hexadecimal; debug byte: not "
               u"hexadecimal; kill-switch byte: not hexadecimal"_s;
        QTest::newRow("copied: a sure frame is its text")
            << copiedLineText(Frame, false, 0.99) << Frame;
        QTest::newRow("copied: a doubtful frame is marked after a space")
            << copiedLineText(Frame, true, 0.42) << Frame + u" [DOUBTFUL:CONFIDENCE=0.42]"_s;
        // Two decimals, held to 0 to 1; none and no number are 0.
        const auto marked = [](const char *name, std::optional<double> confidence,
                               const char *written) {
            QTest::addRow("copied: %s", name)
                << copiedLineText(u"A"_s, true, confidence)
                << u"A [DOUBTFUL:CONFIDENCE=%1]"_s.arg(QLatin1StringView(written));
        };
        marked("rounded", 0.125, "0.13");
        marked("below 0", -3.0, "0.00");
        marked("no number", std::numeric_limits<double>::quiet_NaN(), "0.00");
        marked("none", std::nullopt, "0.00");
        // The mark read back: its text and confidence, or none.
        const auto read = [](const char *line, const char *expected) {
            const QString text = QString::fromLatin1(line); // the mark's text points into it
            const std::optional<DoubtfulMark> mark = readDoubtfulMark(text);
            QTest::addRow("read: '%s'", line)
                << (mark ? u"'%1' at %2"_s.arg(mark->text.toString()).arg(mark->confidence)
                         : u"none"_s)
                << QString::fromLatin1(expected);
        };
        read("9001400I0C6A00A503[DOUBTFUL:CONFIDENCE=1.00]", "'9001400I0C6A00A503' at 1");
        read("[DOUBTFUL:CONFIDENCE=0.00]", "'' at 0");
        read("QT7XMRKT3HKD 9001400I0C6A00A503", "none");
        read("A [DOUBTFUL:CONFIDENCE=1.01]", "none");  // above one
        read("A [DOUBTFUL:CONFIDENCE=0.5]", "none");   // one decimal
        read("A [DOUBTFUL:CONFIDENCE=0.42] ", "none"); // text after it
        read("A [doubtful:confidence=0.42]", "none");  // lower case
    }

    void texts()
    {
        QFETCH(QString, text);
        QTEST(text, "expected");
    }

    // Each line as the receiver gets it. A line with the doubtful mark is no frame unless doubtful
    // frames are kept, and then only when the text before its mark cleans to a frame line.
    void lines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Options>("options");
        QTest::addColumn<QString>("lines"); // each as LineRecorder writes it, "; " between
        const Options timed{.timestamps = true};
        const Options keep{.timestamps = true, .keepDoubtful = true};
        QTest::newRow("CR+LF, LF and CR each end one line")
            << Frame + u"\r\nx\ny\r\r\n"_s + Frame << Options{}
            << u"1 frame 18 #1 - 900140010C6A00A503; 2 other 1; 3 other 1; 4 other 0; "
               u"5 frame 18 #2 - 900140010C6A00A503"_s;
        QTest::newRow("a text box's separators end lines there")
            << Frame + u"\u2029x\u2028"_s + Frame << Options{.lineBreaks = LineBreaks::TextDocument}
            << u"1 frame 18 #1 - 900140010C6A00A503; 2 other 1; 3 frame 18 #2 - 900140010C6A00A503"_s;
        QTest::newRow("but are characters in a file")
            << u"x\u2028y"_s << Options{} << u"1 other 3"_s;
        QTest::newRow("timestamp read")
            << u"2026-12-06 18:57:44.25z|"_s + Frame << timed
            << u"1 frame 18 #1 2026-12-06T18:57:44.25Z 900140010C6A00A503"_s;
        QTest::newRow("a bar after something else")
            << u"x|"_s + Frame << timed << u"1 bad-time 0"_s;
        QTest::newRow("without timestamps a dated line is too long")
            << u"2026-12-06T18:57:44Z|"_s + Frame << Options{} << u"1 other 39"_s;
        QTest::newRow("a header joined by a removal stays")
            << u"QT7XQT7XMRKT3HKDMRKT3HKD900103"_s << Options{}
            << u"1 frame 18 #1 - QT7XMRKT3HKD900103"_s;
        const QString marked = Frame + u" [DOUBTFUL:CONFIDENCE=0.42]"_s;
        QTest::newRow("doubtful, skipped by length")
            << marked << timed << u"1 other 44 doubtful 0.42"_s;
        QTest::newRow("doubtful, kept with a time before it")
            << u"2026-12-06T18:57:44Z|"_s + marked << keep
            << u"1 frame 44 #1 2026-12-06T18:57:44Z 900140010C6A00A503 doubtful 0.42"_s;
        QTest::newRow("doubtful, kept, but a digit short is no frame")
            << u"90014001 0C6A00A5 0 [DOUBTFUL:CONFIDENCE=0.05]"_s << keep
            << u"1 other 43 doubtful 0.05"_s;
        QTest::newRow("a mark inside the line is none")
            << u"[DOUBTFUL:CONFIDENCE=0.42] 900140010C6A00A503"_s << keep << u"1 other 44"_s;
        QTest::newRow("frames around a kept doubtful one count on")
            << Frame + u'\n' + marked + u'\n' + Frame << keep
            << u"1 frame 18 #1 - 900140010C6A00A503; 2 frame 44 #2 - 900140010C6A00A503 doubtful "
               u"0.42; 3 frame 18 #3 - 900140010C6A00A503"_s;
    }

    // The same lines for the whole text and for every cut into pieces of one to 40 characters.
    void lines()
    {
        QFETCH(QString, text);
        QFETCH(Options, options);
        QTEST(readWhole(text, options).join(u"; "), "lines");
        for (qsizetype size = 1; size <= 40; ++size)
            QVERIFY2(readInPieces(text, options, size) == readWhole(text, options),
                     qPrintable(u"pieces of %1"_s.arg(size)));
    }

    // Cleaning leaves the mark as it is, and a line holding it is never as long as a frame,
    // however many digits came before it.
    void markedLineIsNeverAFrame()
    {
        for (qsizetype digits = 0; digits <= 18; ++digits) {
            const QString line = copiedLineText(QString(digits, u'7'), true, 0.5);
            QString cleaned;
            normaliseLine(line, cleaned);
            QCOMPARE(cleaned, QString(digits, u'7') + u"[DOUBTFUL:CONFIDENCE=0.50]"_s);
        }
    }
};

QTEST_APPLESS_MAIN(DecoderTest)
#include "tst_decoder.moc"
