// SPDX-License-Identifier: GPL-3.0-or-later
#include "sidsrequest.h"
#include "sidssender.h"

#include <QLocale>
#include <QTest>

using namespace tovrin3::station;

class TestSidsRequest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    // The request's fields, and a server's reply as a message shows it.
    void writesTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");

        QTest::newRow("time before 1970 is no concern; a whole second")
            << sidsTimestamp(0) << "1970-01-01T00:00:00.000Z";
        QTest::newRow("east") << sidsLongitude(12.3454) << "12.345E";
        QTest::newRow("west") << sidsLongitude(-0.5) << "0.500W";
        QTest::newRow("south") << sidsLatitude(-33.5) << "33.500S";
        QTest::newRow("equator") << sidsLatitude(0.0) << "0.000N";
        // A server's reply, shown in a message: nothing in it may steer the terminal or the text.
        QTest::newRow("reply with a terminal escape")
            << shownReply("bad\x1b]0;owned\x07 frame") << "bad ]0;owned frame";
        QTest::newRow("reply with line breaks and tabs") << shownReply("a\r\nb\tc") << "a b c";
        QTest::newRow("reply with a bidirectional override")
            << shownReply("x\xe2\x80\xaey") << "x y";
        QTest::newRow("long reply cut")
            << shownReply(QByteArray(300, 'a')) << QString(200, u'a') + u"..."_qs;
    }

    void writesTexts()
    {
        QFETCH(QString, text);
        QTEST(text, "expected");
    }

    void delaysStayWithinBounds_data()
    {
        QTest::addColumn<int>("attempts");
        QTest::addColumn<qint64>("retryAfter");
        QTest::addColumn<qint64>("lowest");
        QTest::addColumn<qint64>("highest");

        QTest::newRow("first failure") << 1 << qint64(-1) << qint64(1000) << qint64(1500);
        QTest::newRow("fourth failure doubles thrice")
            << 4 << qint64(-1) << qint64(8000) << qint64(12000);
        QTest::newRow("many failures: an hour at most")
            << 40 << qint64(-1) << qint64(3'600'000) << qint64(3'600'000);
        QTest::newRow("Retry-After honoured")
            << 1 << qint64(120'000) << qint64(120'000) << qint64(120'000);
        QTest::newRow("Retry-After 0: a second") << 1 << qint64(0) << qint64(1000) << qint64(1000);
        QTest::newRow("Retry-After of a day: an hour")
            << 1 << qint64(86'400'000) << qint64(3'600'000) << qint64(3'600'000);
    }

    void delaysStayWithinBounds()
    {
        QFETCH(int, attempts);
        QFETCH(qint64, retryAfter);
        QFETCH(qint64, lowest);
        QFETCH(qint64, highest);
        for (int run = 0; run < 50; ++run) {
            const qint64 delay = retryDelayMs(
                attempts, retryAfter < 0 ? std::nullopt : std::optional(retryAfter), SendTiming{});
            QVERIFY2(delay >= lowest && delay <= highest, qPrintable(QString::number(delay)));
        }
    }

    void readsRetryAfter_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<qint64>("expected"); // -1: none

        QTest::newRow("seconds") << QByteArray(" 120 ") << qint64(120'000);
        QTest::newRow("HTTP date") << QByteArray("Sun, 06 Dec 2026 19:00:00 GMT") << qint64(60'000);
        QTest::newRow("date gone by") << QByteArray("Sun, 06 Dec 2026 18:00:00 GMT") << qint64(0);
        QTest::newRow("negative") << QByteArray("-5") << qint64(-1);
        QTest::newRow("nonsense") << QByteArray("soon") << qint64(-1);
        QTest::newRow("missing") << QByteArray() << qint64(-1);
    }

    void readsRetryAfter()
    {
        QFETCH(QByteArray, header);
        QFETCH(qint64, expected);
        const qint64 now =
            QDateTime(QDate(2026, 12, 6), QTime(18, 59), Qt::UTC).toMSecsSinceEpoch();
        QCOMPARE(retryAfterMs(header, now).value_or(-1), expected);
    }
};

QTEST_GUILESS_MAIN(TestSidsRequest)
#include "tst_sidsrequest.moc"
