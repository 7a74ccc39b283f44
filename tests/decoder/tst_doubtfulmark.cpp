// SPDX-License-Identifier: GPL-3.0-or-later
// The doubtful mark: what every copying program writes, and what reading it back gives.
#include "doubtfulmark.h"
#include "normalisation.h"

#include <QLocale>
#include <QTest>

#include <limits>

using namespace tovrin3;
using namespace Qt::StringLiterals;

namespace {

const QString Frame = u"QT7XMRKT3HKD 9001400I0C6A00A503"_s;

} // namespace

class TestDoubtfulMark : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void writes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("doubtful");
        QTest::addColumn<std::optional<double>>("confidence");
        QTest::addColumn<QString>("line");
        QTest::newRow("a sure frame is its text") << Frame << false << std::optional(0.99) << Frame;
        QTest::newRow("a doubtful frame is marked after a space")
            << Frame << true << std::optional(0.42) << Frame + u" [DOUBTFUL:CONFIDENCE=0.42]"_s;
        QTest::newRow("two decimals, rounded")
            << u"A"_s << true << std::optional(0.125) << u"A [DOUBTFUL:CONFIDENCE=0.13]"_s;
        QTest::newRow("one") << u"A"_s << true << std::optional(1.0)
                             << u"A [DOUBTFUL:CONFIDENCE=1.00]"_s;
        QTest::newRow("held to 0 to 1")
            << u"A"_s << true << std::optional(-3.0) << u"A [DOUBTFUL:CONFIDENCE=0.00]"_s;
        QTest::newRow("no number is 0")
            << u"A"_s << true << std::optional(std::numeric_limits<double>::quiet_NaN())
            << u"A [DOUBTFUL:CONFIDENCE=0.00]"_s;
        QTest::newRow("without a confidence, 0")
            << u"A"_s << true << std::optional<double>() << u"A [DOUBTFUL:CONFIDENCE=0.00]"_s;
    }

    void writes()
    {
        QFETCH(QString, text);
        QFETCH(bool, doubtful);
        QFETCH(std::optional<double>, confidence);
        QTEST(copiedLineText(text, doubtful, confidence), "line");
    }

    void reads_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("marked");
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("confidence");
        QTest::newRow("cleaned line, no space") << u"9001400I0C6A00A503[DOUBTFUL:CONFIDENCE=1.00]"_s
                                                << true << u"9001400I0C6A00A503"_s << 1.0;
        QTest::newRow("the mark alone")
            << u"[DOUBTFUL:CONFIDENCE=0.00]"_s << true << QString() << 0.0;
        QTest::newRow("plain frame") << Frame << false << QString() << 0.0;
        QTest::newRow("above one")
            << u"A [DOUBTFUL:CONFIDENCE=1.01]"_s << false << QString() << 0.0;
        QTest::newRow("one decimal")
            << u"A [DOUBTFUL:CONFIDENCE=0.5]"_s << false << QString() << 0.0;
        QTest::newRow("text after it")
            << u"A [DOUBTFUL:CONFIDENCE=0.42] "_s << false << QString() << 0.0;
        QTest::newRow("lower case")
            << u"A [doubtful:confidence=0.42]"_s << false << QString() << 0.0;
    }

    void reads()
    {
        QFETCH(QString, line);
        QFETCH(bool, marked);
        const std::optional<DoubtfulMark> mark = readDoubtfulMark(line);
        QCOMPARE(mark.has_value(), marked);
        if (!marked)
            return;
        QTEST(mark->text.toString(), "text");
        QTEST(mark->confidence, "confidence");
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
            QVERIFY(cleaned.size() != FrameLength);
            QCOMPARE(readDoubtfulMark(cleaned)->text, QString(digits, u'7'));
        }
    }
};

QTEST_GUILESS_MAIN(TestDoubtfulMark)
#include "tst_doubtfulmark.moc"
