#include "linetimestamp.h"

#include <QLocale>
#include <QTest>

using namespace tovrin3;
using namespace Qt::StringLiterals;

class TestLineTimestamp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void acceptedForms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("written");
        QTest::newRow("T and Z") << "2026-12-06T18:57:44Z"
                                 << "2026-12-06T18:57:44Z";
        QTest::newRow("space for the T") << "2026-12-06 18:57:44Z"
                                         << "2026-12-06T18:57:44Z";
        QTest::newRow("lower-case t and z") << "2026-12-06t18:57:44z"
                                            << "2026-12-06T18:57:44Z";
        QTest::newRow("fraction digits kept as given") << "2026-12-06 18:57:44.250Z"
                                                       << "2026-12-06T18:57:44.250Z";
        QTest::newRow("nine fraction digits") << "2026-12-06T18:57:44.123456789Z"
                                              << "2026-12-06T18:57:44.123456789Z";
        QTest::newRow("leap day") << "2028-02-29T00:00:00Z"
                                  << "2028-02-29T00:00:00Z";
        QTest::newRow("leap day of a 400th year") << "2000-02-29T23:59:59Z"
                                                  << "2000-02-29T23:59:59Z";
        QTest::newRow("last second of a year") << "2026-12-31T23:59:59Z"
                                               << "2026-12-31T23:59:59Z";
    }

    void acceptedForms()
    {
        QFETCH(QString, text);
        Timestamp timestamp;
        QVERIFY(timestamp.read(text));
        QTEST(QString(timestamp.text()), "written");
    }

    void rejectedForms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("month 13, day 40") << "2026-13-40T18:57:44Z";
        QTest::newRow("month 0") << "2026-00-06T18:57:44Z";
        QTest::newRow("day 0") << "2026-12-00T18:57:44Z";
        QTest::newRow("31 April") << "2026-04-31T18:57:44Z";
        QTest::newRow("29 February outside a leap year") << "2026-02-29T18:57:44Z";
        QTest::newRow("29 February of a century") << "1900-02-29T18:57:44Z";
        QTest::newRow("hour 24") << "2026-12-06T24:00:00Z";
        QTest::newRow("minute 60") << "2026-12-06T18:60:44Z";
        QTest::newRow("second 60") << "2026-12-06T18:57:60Z";
        QTest::newRow("no Z") << "2026-12-06T18:57:44";
        QTest::newRow("offset instead of Z") << "2026-12-06T18:57:44+00:00";
        QTest::newRow("other separator") << "2026-12-06_18:57:44Z";
        QTest::newRow("slashes in the date") << "2026/12/06T18:57:44Z";
        QTest::newRow("no seconds") << "2026-12-06T18:57Z";
        QTest::newRow("point without fraction") << "2026-12-06T18:57:44.Z";
        QTest::newRow("ten fraction digits") << "2026-12-06T18:57:44.1234567890Z";
        QTest::newRow("comma before the fraction") << "2026-12-06T18:57:44,250Z";
        QTest::newRow("space around") << " 2026-12-06T18:57:44Z";
        QTest::newRow("letter for a digit") << "2026-12-O6T18:57:44Z";
        QTest::newRow("digit of another script") << u"2026-12-0\u0666T18:57:44Z"_s;
    }

    void rejectedForms()
    {
        QFETCH(QString, text);
        Timestamp timestamp;
        QVERIFY(timestamp.read(u"2026-12-06T18:57:44Z"));
        QVERIFY(!timestamp.read(text));
        QVERIFY(timestamp.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestLineTimestamp)
#include "tst_linetimestamp.moc"
