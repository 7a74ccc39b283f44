// SPDX-License-Identifier: GPL-3.0-or-later
#include "historytesting.h"
#include "sidssender.h"
#include "sidsserver.h"
#include "stationlog.h"
#include "stationtesting.h"

#include <QDateTime>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

using namespace tovrin3::station;
using tovrin3::testing::SidsServer;
using tovrin3::testing::StationHome;

namespace {

using Answer = SidsServer::Answer;
using tovrin3::testing::Noon;
constexpr int Frames = 3;

QByteArray bodyOf(const QString &digits, qint64 time)
{
    return (digits + u'@' + QString::number(time)).toUtf8();
}

// `count` sure frames 20 s apart, logged at the station and queued for the server; none when
// they could not be.
std::vector<Reception> queueFrames(const StationHome &home, const QString &key, int count)
{
    std::vector<Reception> receptions;
    for (int frame = 0; frame < count; ++frame)
        receptions.push_back({u"90014001%1C6A00A503"_qs.arg(frame, 2, 10, QChar(u'0')),
                              Noon + frame * 20'000,
                              u"test"_qs,
                              {},
                              false});
    StationLog log;
    const QueueRequest queue{{key}, bodyOf};
    return log.open(home.logPath()) && log.log(receptions, &queue) ? receptions
                                                                   : std::vector<Reception>{};
}

// Starts the sender and waits until it has drained the queue.
bool drain(SidsSender &sender)
{
    QSignalSpy drained(&sender, &SidsSender::drained);
    sender.start();
    sender.drain();
    return drained.count() == 1 || drained.wait(5'000);
}

// Short enough that a test waits for no real back-off or timeout.
const SendTiming QuickTiming{.transferTimeoutMs = 300,
                             .shortestDelayMs = 20,
                             .longestDelayMs = 100,
                             .remoteIntervalMs = 1000};

} // namespace

class TestSidsSender : public QObject
{
    Q_OBJECT

private slots:
    // Whatever the server does first, in the end every frame is accepted exactly once, each try
    // sends the same bytes, and a frame is never sent after its 2xx; a new sender (a restart)
    // takes over between tries.
    void deliversEveryFrameOnce_data()
    {
        QTest::addColumn<QList<Answer>>("answers");
        QTest::addColumn<int>("refusedRounds");

        QTest::newRow("429 with Retry-After")
            << QList<Answer>{{429, "Retry-After: 1\r\n"}, {429, "Retry-After: 1\r\n"}} << 0;
        QTest::newRow("a redirect is not followed")
            << QList<Answer>{{302, "Location: /login\r\n"},
                             {301, "Location: https://x.example/\r\n"}}
            << 0;
        QTest::newRow("4xx") << QList<Answer>{{400, {}, "bad frame"}, {404}} << 0;
        QTest::newRow("no answer") << QList<Answer>{{200, {}, {}, true}} << 0;
        QTest::newRow("refused connection") << QList<Answer>{} << 2;
        QTest::newRow("huge answer") << QList<Answer>{{500, {}, QByteArray(100'000, 'x')}} << 0;
    }

    void deliversEveryFrameOnce()
    {
        QFETCH(QList<Answer>, answers);
        QFETCH(int, refusedRounds);
        StationHome home;
        SidsServer server;
        QVERIFY(server.listen());
        server.script(answers);
        const QString key = SidsSender::serverKey(server.url());
        const std::vector<Reception> receptions = queueFrames(home, key, Frames);
        QCOMPARE(int(receptions.size()), Frames);
        StationLog log;
        QVERIFY(log.open(home.logPath()));
        QSet<QByteArray> bodies;
        for (const Reception &reception : receptions)
            bodies.insert(bodyOf(reception.digits, reception.receivedMs));

        for (int round = 0; round < 40 && log.queueState(key).queued > 0; ++round) {
            if (round < refusedRounds)
                server.close();
            else
                QVERIFY(server.listen());
            SidsSender sender(home.logPath(), {server.url()}, QuickTiming);
            QVERIFY(drain(sender));
            // The next sender starts once a row is due again, after its back-off.
            QTRY_VERIFY(log.nextDue(key).value_or(0) <= QDateTime::currentMSecsSinceEpoch());
        }
        const QueueState state = log.queueState(key);
        QCOMPARE(state.queued, 0);
        QCOMPARE(state.accepted, Frames);

        QHash<QByteArray, int> acceptedTimes;
        for (qsizetype index = 0; index < server.requests.size(); ++index) {
            const SidsServer::Request &request = server.requests[index];
            QCOMPARE(request.path, QByteArray("/api/telemetry/"));
            QCOMPARE(request.method, QByteArray("POST"));
            QVERIFY(request.headers.contains("application/x-www-form-urlencoded"));
            QVERIFY2(!request.headers.toLower().contains("cookie"), request.headers.constData());
            const bool accepted = index >= answers.size() ||
                                  (answers[index].status / 100 == 2 && !answers[index].hold);
            if (accepted)
                ++acceptedTimes[request.body];
            QVERIFY2(bodies.contains(request.body), request.body.constData());
        }
        QCOMPARE(acceptedTimes.size(), Frames);
        for (auto it = acceptedTimes.cbegin(); it != acceptedTimes.cend(); ++it)
            QVERIFY2(it.value() == 1, it.key().constData());
    }

    // One request at a time on one kept-alive connection; requests to a paced server keep
    // their distance (a server off the loopback address gets one a second; the seam paces this
    // loopback one too).
    void keepsOneConnection_data()
    {
        QTest::addColumn<qint64>("intervalMs");
        QTest::newRow("unpaced") << qint64(0);
        QTest::newRow("paced") << qint64(150);
    }

    void keepsOneConnection()
    {
        QFETCH(qint64, intervalMs);
        StationHome home;
        SidsServer server;
        QVERIFY(server.listen());
        QCOMPARE(int(queueFrames(home, SidsSender::serverKey(server.url()), 8).size()), 8);
        SendTiming timing = QuickTiming;
        timing.loopbackIntervalMs = intervalMs;
        SidsSender sender(home.logPath(), {server.url()}, timing);
        QVERIFY(drain(sender));
        QCOMPARE(sender.acceptedCount(), 8);
        QCOMPARE(server.requests.size(), 8);
        QCOMPARE(server.connections, 1);
        // Over the whole run: this busy process may read any one request late.
        const qint64 span = server.requests.last().receivedMs - server.requests.first().receivedMs;
        QVERIFY2(span >= (server.requests.size() - 2) * intervalMs,
                 qPrintable(QString::number(span)));
    }

    // The reason kept for a queued row names the server without its password.
    void keepsPasswordsOutOfErrors()
    {
        StationHome home;
        SidsServer server;
        QVERIFY(server.listen());
        server.script({{500, {}, "secret-free reply"}});
        QUrl url = server.url();
        url.setUserInfo(u"station:hunter2"_qs);
        const QString key = SidsSender::serverKey(url);
        QVERIFY2(!key.contains(u"hunter2"), "the log keeps no password");
        QCOMPARE(queueFrames(home, key, 1).size(), 1u);
        SidsSender sender(home.logPath(), {url}, QuickTiming);
        QSignalSpy failed(&sender, &SidsSender::rowFailed);
        QVERIFY(drain(sender));
        QCOMPARE(failed.count(), 1);
        StationLog log;
        QVERIFY(log.open(home.logPath()));
        const QString error = log.queueState(key).lastError;
        QVERIFY2(error.contains(u"HTTP 500") && error.contains(u"secret-free reply"),
                 qPrintable(error));
        QVERIFY2(!error.contains(u"hunter2"), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestSidsSender)
#include "tst_sidssender.moc"
