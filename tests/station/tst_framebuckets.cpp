// SPDX-License-Identifier: GPL-3.0-or-later
#include "framebuckets.h"
#include "historytesting.h"
#include "stationlog.h"
#include "stationtesting.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>

using namespace tovrin3;
using namespace tovrin3::station;
using tovrin3::testing::frameDigits;
using tovrin3::testing::HourMs;
using tovrin3::testing::Noon;
using tovrin3::testing::reception;
using tovrin3::testing::SecondMs;
using tovrin3::testing::StationHome;

namespace {

// Every row of the two summary tables, as text, in key order.
QStringList summaryRows(QSqlDatabase database)
{
    QStringList rows;
    for (const QString &table : {u"frame_buckets"_qs, u"bucket_sources"_qs}) {
        QSqlQuery query(database);
        query.exec(u"SELECT * FROM %1 ORDER BY 1, 2"_qs.arg(table));
        while (query.next()) {
            QStringList values{table};
            for (int column = 0; column < query.record().count(); ++column)
                values.append(query.value(column).toString());
            rows.append(values.join(u'|'));
        }
    }
    return rows;
}

} // namespace

class TestFrameBuckets : public QObject
{
    Q_OBJECT

private slots:
    // Whatever order frames arrive in, the summaries kept along the way are those a rebuild from
    // the frames gives.
    void keepsWhatARebuildGives_data()
    {
        QTest::addColumn<int>("steps");
        QTest::newRow("frames in order, one batch") << 0;
        QTest::newRow("a later batch fills an earlier minute") << 1;
        QTest::newRow("a doubtful frame made sure by a second source") << 2;
        QTest::newRow("a deleted range and the frames logged again") << 3;
    }

    void keepsWhatARebuildGives()
    {
        QFETCH(int, steps);
        StationHome home;
        StationLog log;
        QVERIFY(log.open(home.logPath()));
        std::vector<Reception> first;
        for (int i = 0; i < 40; ++i)
            first.push_back(reception(Noon + i * 50 * SecondMs,
                                      frameDigits(3000 + (i * 37) % 200, i % 4, 0xA5, i % 5)));
        QVERIFY(log.log(first));
        if (steps >= 1) {
            std::vector<Reception> late{reception(Noon + 25 * SecondMs, frameDigits(2500), u"b"_qs),
                                        reception(Noon - DayMs, frameDigits(3900), u"b"_qs)};
            QVERIFY(log.log(late));
        }
        if (steps >= 2) {
            Reception doubtful = reception(Noon + HourMs, frameDigits(2000), u"a.wav"_qs);
            doubtful.doubtful = true;
            QVERIFY(log.log(std::span(&doubtful, 1)));
            const Reception sure =
                reception(Noon + HourMs + 3 * SecondMs, frameDigits(2000), u"listen"_qs);
            QVERIFY(log.log(std::span(&sure, 1)));
        }
        if (steps >= 3) {
            QCOMPARE(log.markDeleted(Noon + 10 * MinuteMs, Noon + 20 * MinuteMs), 12);
            QVERIFY(log.log(first));
        }

        const QStringList kept = summaryRows(log.database());
        QVERIFY(kept.size() > 40);
        QSqlQuery(log.database()).exec(u"BEGIN"_qs);
        QString error;
        QSqlDatabase database = log.database();
        QVERIFY2(rebuildBuckets(database, Noon - 2 * DayMs, Noon + 2 * DayMs, error),
                 qPrintable(error));
        const QStringList rebuilt = summaryRows(log.database());
        QSqlQuery(log.database()).exec(u"ROLLBACK"_qs);
        QCOMPARE(kept, rebuilt);
    }
};

QTEST_GUILESS_MAIN(TestFrameBuckets)
#include "tst_framebuckets.moc"
