#include "decoder.h"
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
