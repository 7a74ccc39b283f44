// SPDX-License-Identifier: GPL-3.0-or-later
// The one line pipeline: lines whatever their ends and wherever the text is cut, timestamps,
// stopping, the report's line ends and the problems a frame's fields can have.
#include "beaconreader.h"
#include "decoder.h"

#include <QLocale>
#include <QTest>

using namespace tovrin3;
using namespace Qt::StringLiterals;

namespace {

const QString Frame = u"QT7XMRKT3HKD 900140010C6A00A503"_s;

// Each line as "number kind cleaned-length [frame number, timestamp, frame text]".
class LineRecorder : public BeaconLineReceiver
{
public:
    explicit LineRecorder(int stopAfterFrames = -1) : m_stopAfterFrames(stopAfterFrames) {}

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
        return line.frameNumber != m_stopAfterFrames;
    }

    QStringList lines;

private:
    int m_stopAfterFrames;
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

class TestBeaconReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    // Each line as the receiver gets it. A line with the doubtful mark is no frame unless doubtful
    // frames are kept, and then only when the text before its mark cleans to a frame line.
    void lines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("timestamps");
        QTest::addColumn<LineBreaks>("breaks");
        QTest::addColumn<bool>("keepDoubtful");
        QTest::addColumn<QStringList>("lines");
        const QString frameEntry = u"0 frame 18 #1 - 900140010C6A00A503"_s;
        const auto numbered = [](QStringList entries) {
            for (qsizetype index = 0; index < entries.size(); ++index)
                entries[index].replace(0, 1, QString::number(index + 1));
            return entries;
        };
        const LineBreaks text = LineBreaks::Text;
        QTest::newRow("CR+LF, LF and CR each end one line")
            << Frame + u"\r\nx\ny\r\r\n"_s + Frame << false << text << false
            << numbered({frameEntry, u"0 other 1"_s, u"0 other 1"_s, u"0 other 0"_s,
                         u"0 frame 18 #2 - 900140010C6A00A503"_s});
        QTest::newRow("a text box's separators end lines there")
            << Frame + u"\u2029x\u2028"_s + Frame << false << LineBreaks::TextDocument << false
            << numbered({frameEntry, u"0 other 1"_s, u"0 frame 18 #2 - 900140010C6A00A503"_s});
        QTest::newRow("but are characters in a file")
            << u"x\u2028y"_s << false << text << false << numbered({u"0 other 3"_s});
        QTest::newRow("timestamp read")
            << u"2026-12-06 18:57:44.25z|"_s + Frame << true << text << false
            << QStringList{u"1 frame 18 #1 2026-12-06T18:57:44.25Z 900140010C6A00A503"_s};
        QTest::newRow("a bar after something else")
            << u"x|"_s + Frame << true << text << false << QStringList{u"1 bad-time 0"_s};
        QTest::newRow("without timestamps a dated line is too long")
            << u"2026-12-06T18:57:44Z|"_s + Frame << false << text << false
            << QStringList{u"1 other 39"_s};
        QTest::newRow("a header joined by a removal stays")
            << u"QT7XQT7XMRKT3HKDMRKT3HKD900103"_s << false << text << false
            << QStringList{u"1 frame 18 #1 - QT7XMRKT3HKD900103"_s};
        const QString marked = Frame + u" [DOUBTFUL:CONFIDENCE=0.42]"_s;
        QTest::newRow("doubtful, skipped by length")
            << marked << true << text << false << QStringList{u"1 other 44 doubtful 0.42"_s};
        QTest::newRow("doubtful, kept with a time before it")
            << u"2026-12-06T18:57:44Z|"_s + marked << true << text << true
            << QStringList{
                   u"1 frame 44 #1 2026-12-06T18:57:44Z 900140010C6A00A503 doubtful 0.42"_s};
        QTest::newRow("doubtful, kept, but a digit short is no frame")
            << u"90014001 0C6A00A5 0 [DOUBTFUL:CONFIDENCE=0.05]"_s << true << text << true
            << QStringList{u"1 other 43 doubtful 0.05"_s};
        QTest::newRow("a mark inside the line is none")
            << u"[DOUBTFUL:CONFIDENCE=0.42] 900140010C6A00A503"_s << true << text << true
            << QStringList{u"1 other 44"_s};
        QTest::newRow("frames around a kept doubtful one count on")
            << Frame + u'\n' + marked + u'\n' + Frame << true << text << true
            << QStringList{u"1 frame 18 #1 - 900140010C6A00A503"_s,
                           u"2 frame 44 #2 - 900140010C6A00A503 doubtful 0.42"_s,
                           u"3 frame 18 #3 - 900140010C6A00A503"_s};
    }

    // The same lines for the whole text and for every cut into pieces of one to 40 characters.
    void lines()
    {
        QFETCH(QString, text);
        QFETCH(bool, timestamps);
        QFETCH(LineBreaks, breaks);
        QFETCH(bool, keepDoubtful);
        const BeaconReader::Options options{
            .lineBreaks = breaks, .timestamps = timestamps, .keepDoubtful = keepDoubtful};
        QTEST(readWhole(text, options), "lines");
        for (qsizetype size = 1; size <= 40; ++size)
            QVERIFY2(readInPieces(text, options, size) == readWhole(text, options),
                     qPrintable(u"pieces of %1"_s.arg(size)));
    }

    void receiverStopsTheReading()
    {
        LineRecorder recorder(2);
        BeaconReader reader(recorder, {});
        reader.readText(QStringList(4, Frame).join(u'\n'));
        QCOMPARE(recorder.lines.size(), 2);
        reader.read(Frame + u'\n');
        QCOMPARE(recorder.lines.size(), 2);
    }

    void fieldProblems_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QStringList>("problems");
        QTest::newRow("clean") << u"900140010C6A00A503"_s << QStringList();
        QTest::newRow("nothing hexadecimal")
            << u"GGGGGGGGGGGGGGGGGG"_s << QStringList{u"battery temperature: not hexadecimal"_s,
                                                      u"COM temperature: not hexadecimal"_s,
                                                      u"battery voltage: not hexadecimal"_s,
                                                      u"mission byte: not hexadecimal"_s,
                                                      u"debug byte: not hexadecimal"_s,
                                                      u"kill-switch byte: not hexadecimal"_s};
        QTest::newRow("lower case is hexadecimal") << u"900140010c6a00a503"_s << QStringList();
    }

    void fieldProblems()
    {
        QFETCH(QString, frame);
        static const char *const names[] = {"not hexadecimal", "mixed sign bits", "no state"};
        QStringList problems;
        checkFields(frame, decodeFields(frame),
                    [&](const FieldLayout &field, FieldProblem problem) {
                        problems << field.name.toString() + u": "_s +
                                        QLatin1StringView(names[int(problem)]);
                    });
        QTEST(problems, "problems");
    }
};

QTEST_APPLESS_MAIN(TestBeaconReader)
#include "tst_beaconreader.moc"
