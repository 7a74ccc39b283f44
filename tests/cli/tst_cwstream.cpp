// SPDX-License-Identifier: GPL-3.0-or-later
#include "cwstream.h"
#include "cwtesting.h"
#include "linetimestamp.h"

#include <QLocale>
#include <QTest>
#include <QTimeZone>

#include <cmath>

using namespace tovrin3;

namespace {

constexpr double Rate = 8000.0;
const QDateTime PassStart(QDate(2026, 12, 6), QTime(18, 57, 44), Qt::UTC);

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

} // namespace

class TestCwStream : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        m_bytes = testing::rawSamples(testing::cwTestSignal(Rate, testing::CwShortTransmissions));
        m_whole = copyInPieces(m_bytes, m_bytes.size());
        QStringList texts;
        for (const TimedLine &line : m_whole)
            texts.append(line.text);
        QCOMPARE(texts, testing::CwShortTransmissions);
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

private:
    QByteArray m_bytes;
    std::vector<TimedLine> m_whole;
};

QTEST_GUILESS_MAIN(TestCwStream)
#include "tst_cwstream.moc"
