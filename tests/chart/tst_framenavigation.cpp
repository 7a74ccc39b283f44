#include "framenavigation.h"

#include <QLocale>
#include <QtTest>

using namespace tovrin3;

class TestFrameNavigation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void positionText_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<QString>("text");

        QTest::newRow("first of several") << 1 << 12 << QStringLiteral("1/12");
        QTest::newRow("inside the history") << 3 << 12 << QStringLiteral("3/12");
        QTest::newRow("full history") << 100 << 100 << QStringLiteral("100/100");
        QTest::newRow("nothing decoded yet") << 0 << 0 << QStringLiteral("0/0");
        QTest::newRow("minus only for a negative position") << -1 << 0 << QStringLiteral("-1/0");
    }

    void positionText()
    {
        QFETCH(int, position);
        QFETCH(int, maximum);
        QFETCH(QString, text);

        QCOMPARE(framePositionText(position, maximum), text);
    }
};

QTEST_APPLESS_MAIN(TestFrameNavigation)
#include "tst_framenavigation.moc"
