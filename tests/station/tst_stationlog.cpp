// SPDX-License-Identifier: GPL-3.0-or-later
#include "historytesting.h"
#include "stationlog.h"
#include "stationtesting.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSemaphore>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

#include <thread>
#include <vector>

using namespace tovrin3::station;
using tovrin3::testing::execOnLog;
using tovrin3::testing::logNumber;
using tovrin3::testing::Noon;
using tovrin3::testing::StationHome;
using tovrin3::testing::writeFile;

namespace {

const QString Server = QStringLiteral("http://127.0.0.1:9/t");
const QString Frame = QStringLiteral("900140010C6A00A503");
const std::vector<Reception> OneFrame{{Frame, Noon, QStringLiteral("a"), {}, false}};

QueueRequest queueTo(const QStringList &servers)
{
    return {servers, [](const QString &digits, qint64 time) {
                return (digits + u'@' + QString::number(time)).toUtf8();
            }};
}

} // namespace

class TestStationLog : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        for (const QString &name : QSqlDatabase::connectionNames())
            if (!name.startsWith(u"tovrin3"))
                QSqlDatabase::removeDatabase(name);
    }

    // Which deliveries are one frame and which add nothing.
    void mergesReceptions_data()
    {
        QTest::addColumn<QList<Reception>>("receptions");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("receptionRows");
        QTest::addColumn<int>("queued");

        const Reception listen{Frame, Noon, u"listen"_qs, 0.97, false};
        const Reception file{Frame, Noon + 3'000, u"pass.wav"_qs, std::nullopt, false};
        QTest::newRow("two sources 3 s apart: one frame, two receptions")
            << QList<Reception>{listen, file} << 1 << 2 << 1;
        QTest::newRow("the same input again adds nothing")
            << QList<Reception>{listen, listen} << 1 << 1 << 1;
        QTest::newRow("11 s apart: two frames")
            << QList<Reception>{listen, {Frame, Noon + 11'000, u"pass.wav"_qs, {}, false}} << 2 << 2
            << 2;
        QTest::newRow("other digits at the same time: two frames")
            << QList<Reception>{listen, {u"5A01B6010C7201A604"_qs, Noon, u"listen"_qs, {}, false}}
            << 2 << 2 << 2;
        QTest::newRow("doubtful: logged, never queued")
            << QList<Reception>{{Frame, Noon, u"listen"_qs, 0.42, true}} << 1 << 1 << 0;
        QTest::newRow("a sure copy of a doubtful frame queues it")
            << QList<Reception>{{Frame, Noon, u"listen"_qs, 0.42, true}, file} << 1 << 2 << 1;
    }

    void mergesReceptions()
    {
        QFETCH(QList<Reception>, receptions);
        StationHome home;
        StationLog log;
        QVERIFY2(log.open(home.logPath()), qPrintable(log.errorString()));
        const QueueRequest queue = queueTo({Server});
        for (const Reception &reception : receptions)
            QVERIFY(log.log(std::span(&reception, 1), &queue));
        QTEST(int(logNumber(home.logPath(), u"SELECT count(*) FROM frames"_qs)), "frames");
        QTEST(int(logNumber(home.logPath(), u"SELECT count(*) FROM receptions"_qs)),
              "receptionRows");
        QTEST(int(logNumber(home.logPath(), u"SELECT count(*) FROM outbox"_qs)), "queued");
    }

    // The body is fixed from the frame's first time, whichever source adds to it later.
    void fixesTheBodyWhenQueued()
    {
        StationHome home;
        StationLog log;
        QVERIFY(log.open(home.logPath()));
        const QList<Reception> receptions{{Frame, Noon, u"a"_qs, {}, false},
                                          {Frame, Noon + 2'000, u"b"_qs, {}, false}};
        const QueueRequest queue = queueTo({Server, u"https://db.example/t"_qs});
        const std::optional<LogResult> result = log.log(receptions, &queue);
        QVERIFY(result);
        QCOMPARE(result->frames, 1);
        QCOMPARE(result->queued, 2);
        const std::optional<OutboxRow> row = log.claim(Server, Noon, 60'000);
        QVERIFY(row);
        QCOMPARE(row->body, (Frame + u'@' + QString::number(Noon)).toUtf8());
    }

    // A row is taken by one sender at a time, and again once its holder is gone.
    void claimsRowsForOneSender()
    {
        StationHome home;
        StationLog first;
        StationLog second;
        QVERIFY(first.open(home.logPath()));
        QVERIFY(second.open(home.logPath()));
        const QueueRequest queue = queueTo({Server});
        QVERIFY(first.log(OneFrame, &queue));
        const std::optional<OutboxRow> taken = first.claim(Server, Noon, 60'000);
        QVERIFY(taken);
        QCOMPARE(taken->attempts, 1);
        QVERIFY(!second.claim(Server, Noon + 1'000, 60'000));
        QVERIFY2(second.claim(Server, Noon + 61'000, 60'000), "an expired claim is free");
        QVERIFY(second.markFailed(taken->id, Noon + 65'000, u"HTTP 500"_qs));
        QVERIFY2(!first.claim(Server, Noon + 64'000, 60'000), "not due before its next try");
        const std::optional<OutboxRow> again = first.claim(Server, Noon + 65'000, 60'000);
        QVERIFY(again);
        QCOMPARE(again->attempts, 3);
        QCOMPARE(second.queueState(Server).lastError, u"HTTP 500"_qs);
        QVERIFY(first.markAccepted(again->id, Noon + 66'000));
        QVERIFY2(!second.claim(Server, Noon + 999'000'000, 60'000), "accepted: never again");
        QCOMPARE(second.queueState(Server).accepted, 1);
        QCOMPARE(second.queueState(Server).queued, 0);
    }

    void takesTheClaimOfAKilledProgram()
    {
        StationHome home;
        StationLog log;
        QVERIFY(log.open(home.logPath()));
        const QueueRequest queue = queueTo({Server});
        QVERIFY(log.log(OneFrame, &queue));
        QProcess gone;
        gone.start(u"true"_qs, {});
        QVERIFY(gone.waitForFinished());
        QVERIFY(execOnLog(home.logPath(),
                          {u"UPDATE outbox SET claimed_by = '%1:0', claim_expires_ms = %2"_qs
                               .arg(gone.processId())
                               .arg(Noon + 3'600'000)}));
        QVERIFY(log.claim(Server, Noon, 60'000));
    }

    void keepsTheLogPrivate()
    {
        StationHome home;
        StationLog log;
        QVERIFY(log.open(home.logPath()));
        QCOMPARE(QFileInfo(home.logPath()).permissions() & 0x7077,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(QFileInfo(QFileInfo(home.logPath()).absolutePath()).permissions() & 0x7077,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    void reportsALockedLog()
    {
        StationHome home;
        StationLog log;
        QVERIFY(log.open(home.logPath(), 100));
        QSqlDatabase holder = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"holder"_qs);
        holder.setDatabaseName(home.logPath());
        QVERIFY(holder.open());
        QSqlQuery hold(holder);
        QVERIFY(hold.exec(u"BEGIN IMMEDIATE"_qs));
        QVERIFY(!log.log(OneFrame));
        QVERIFY2(log.errorString().contains(u"locked"), qPrintable(log.errorString()));
        QVERIFY(hold.exec(u"ROLLBACK"_qs));
        QVERIFY2(log.log(OneFrame), "usable again once the lock is gone");
        hold.finish();
        holder.close();
    }

    // Another program that holds a new log's write lock, as while it creates the log: SQLite
    // answers the switch of the journal busy without waiting, and the open waits for it anyway.
    void opensALogAnotherProgramCreates()
    {
        StationHome home;
        QVERIFY(QDir().mkpath(QFileInfo(home.logPath()).absolutePath()));
        QVERIFY(writeFile(home.logPath(), {}));
        QSemaphore locked;
        std::thread other([&] {
            {
                QSqlDatabase holder = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"creator"_qs);
                holder.setDatabaseName(home.logPath());
                QSqlQuery hold(holder);
                const bool held = holder.open() && hold.exec(u"BEGIN IMMEDIATE"_qs);
                locked.release();
                if (held) {
                    QThread::msleep(300);
                    hold.exec(u"ROLLBACK"_qs);
                }
            }
            QSqlDatabase::removeDatabase(u"creator"_qs);
        });
        locked.acquire();
        StationLog log;
        const bool opened = log.open(home.logPath());
        other.join();
        QVERIFY2(opened, qPrintable(log.errorString()));
        QVERIFY(log.log(OneFrame));
    }
};

QTEST_GUILESS_MAIN(TestStationLog)
#include "tst_stationlog.moc"
