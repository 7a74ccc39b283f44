// SPDX-License-Identifier: GPL-3.0-or-later
// Stage 6: the confidence of a frame's digits from slot likelihoods made in the test, and the
// frame's own fields as evidence.
#include "frameconfidence.h"
#include "slottesting.h"

#include <QTest>

#include <random>

using namespace tovrin3;
using namespace tovrin3::morse;
using testing::slotsOf;

namespace {

constexpr int Margin = 10;

FrameDigits digitsOf(const QString &groups)
{
    FrameDigits digits{};
    std::size_t count = 0;
    for (const QChar character : groups) {
        if (character != QLatin1Char(' '))
            digits[count++] = QString(character).toInt(nullptr, 16);
    }
    return digits;
}

QString frameOf(const QString &groups)
{
    return QStringLiteral("QT7XMRKT3HKD ") + groups;
}

int bodyStart()
{
    return Margin + headerKeying().length + WordGap;
}

} // namespace

class FrameConfidenceTest : public QObject
{
    Q_OBJECT

private slots:
    void confidence_data()
    {
        QTest::addColumn<QString>("groups");
        QTest::addColumn<float>("level");
        QTest::addColumn<float>("noise");     // deviation of noise added to every slot's ratio
        QTest::addColumn<int>("erasedDigit"); // whose slots are set to 0; -1 for none
        QTest::addColumn<double>("least");
        QTest::addColumn<double>("most");
        const QString plausible = QStringLiteral("90 01 40 01 0C 6A 00 A5 03");
        QTest::newRow("clean") << plausible << 12.0f << 0.0f << -1 << 0.999 << 1.0;
        QTest::newRow("noisy, still clear") << plausible << 12.0f << 2.0f << -1 << 0.99 << 1.0;
        QTest::newRow("weak: each slot wrong at odds of e^-3")
            << plausible << 3.0f << 0.0f << -1 << 0.0 << 0.9;
        // Digit 10 is the 6 of 6A; 4 and C are keyed over as many slots.
        QTest::newRow("one digit erased") << plausible << 12.0f << 0.0f << 10 << 0.2 << 0.5;
        QTest::newRow("drowned in noise") << plausible << 1.0f << 4.0f << -1 << 0.0 << 0.01;
        QTest::newRow("digits made of silence, all E")
            << QStringLiteral("EE EE EE EE EE EE EE EE EE") << 0.0f << 0.0f << -1 << 0.0 << 0.01;
    }

    void confidence()
    {
        QFETCH(QString, groups);
        QFETCH(float, level);
        QFETCH(float, noise);
        QFETCH(int, erasedDigit);
        QFETCH(double, least);
        QFETCH(double, most);
        std::vector<float> ratios = slotsOf(frameOf(groups), level == 0.0f ? 3.0f : level, Margin);
        if (level == 0.0f) // silence where the body should be
            std::fill(ratios.begin() + bodyStart(), ratios.end(), -3.0f);
        std::mt19937 random(17);
        std::normal_distribution<float> gauss(0.0f, noise);
        if (noise > 0) {
            for (float &ratio : ratios)
                ratio += gauss(random);
        }
        if (erasedDigit >= 0) {
            const FrameDigits digits = digitsOf(groups);
            int slot = bodyStart();
            for (int k = 0; k < erasedDigit; ++k)
                slot += hexDigitKeyings()[std::size_t(digits[std::size_t(k)])].length +
                        (k % 2 == 0 ? LetterGap : WordGap);
            const auto &erased = hexDigitKeyings()[std::size_t(digits[std::size_t(erasedDigit)])];
            std::fill_n(ratios.begin() + slot, erased.length, 0.0f);
        }
        const double confidence =
            frameConfidence(SlotScores(ratios), bodyStart(), digitsOf(groups));
        QVERIFY2(confidence >= least && confidence <= most,
                 qPrintable(QString::number(confidence)));
    }

    // The transmission's end cuts into the last digit: the digits read from what is left compete
    // with every digit that goes on past the end, unless the last element closes every longer
    // one.
    void cutAtTheEnd_data()
    {
        QTest::addColumn<QString>("groups");
        QTest::addColumn<int>("lastDigitSlots"); // of the last digit's keying, kept
        QTest::addColumn<double>("least");
        QTest::addColumn<double>("most");
        QTest::newRow("cut right after the last element")
            << QStringLiteral("90 01 40 01 0C 6A 00 A5 03") << 9 << 0.999 << 1.0;
        QTest::newRow("3 cut after its first dot, read as E")
            << QStringLiteral("90 01 40 01 0C 6A 00 A5 0E") << 1 << 0.0 << 0.05;
        QTest::newRow("5 cut after its first dot, read as E")
            << QStringLiteral("90 01 40 01 0C 6A 00 A5 5E") << 1 << 0.0 << 0.5;
    }

    void cutAtTheEnd()
    {
        QFETCH(QString, groups);
        QFETCH(int, lastDigitSlots);
        QFETCH(double, least);
        QFETCH(double, most);
        std::vector<float> ratios = slotsOf(frameOf(groups), 12.0f, Margin);
        const FrameDigits digits = digitsOf(groups);
        int end = bodyStart();
        for (int k = 0; k < BeaconDigits - 1; ++k)
            end += hexDigitKeyings()[std::size_t(digits[std::size_t(k)])].length +
                   (k % 2 == 0 ? LetterGap : WordGap);
        ratios.resize(std::size_t(end + lastDigitSlots));
        const double confidence = frameConfidence(SlotScores(ratios), bodyStart(), digits);
        QVERIFY2(confidence >= least && confidence <= most,
                 qPrintable(QString::number(confidence)));
    }

    // At a middling signal the same keying is surer where the fields are as the beacon sends
    // them, since bodies that break them weigh less.
    void fieldsAsEvidence()
    {
        const QString plausible = QStringLiteral("90 01 40 01 0C 6A 00 A5 03");
        const QString implausible = QStringLiteral("90 71 40 01 0C 6A 00 A5 73");
        const auto confidenceOf = [](const QString &groups) {
            std::vector<float> ratios = slotsOf(frameOf(groups), 1.2f, Margin);
            std::mt19937 random(5);
            std::normal_distribution<float> gauss(0.0f, 1.2f);
            for (float &ratio : ratios)
                ratio += gauss(random);
            return frameConfidence(SlotScores(ratios), bodyStart(), digitsOf(groups));
        };
        const double sure = confidenceOf(plausible);
        const double unsure = confidenceOf(implausible);
        QVERIFY2(sure > unsure, qPrintable(QStringLiteral("%1 %2").arg(sure).arg(unsure)));
    }

    void plausibleFields_data()
    {
        QTest::addColumn<QString>("groups");
        QTest::addColumn<bool>("plausible");
        QTest::newRow("positive temperatures, kill switch 0")
            << "90 01 40 07 0C 6A 00 A5 00" << true;
        QTest::newRow("negative temperatures, kill switch 3")
            << "90 F8 40 FF 0C 6A 00 A5 03" << true;
        QTest::newRow("first word's sign bits disagree") << "90 08 40 01 0C 6A 00 A5 03" << false;
        QTest::newRow("second word's sign bits disagree") << "90 01 40 F7 0C 6A 00 A5 03" << false;
        QTest::newRow("high digit neither 0 nor F") << "90 11 40 01 0C 6A 00 A5 03" << false;
        QTest::newRow("kill switch 4") << "90 01 40 01 0C 6A 00 A5 04" << false;
        QTest::newRow("kill switch 30") << "90 01 40 01 0C 6A 00 A5 30" << false;
    }

    void plausibleFields()
    {
        QFETCH(QString, groups);
        QFETCH(bool, plausible);
        QCOMPARE(frameFieldsPlausible(digitsOf(groups)), plausible);
    }
};

QTEST_GUILESS_MAIN(FrameConfidenceTest)
#include "tst_frameconfidence.moc"
