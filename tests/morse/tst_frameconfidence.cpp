// SPDX-License-Identifier: GPL-3.0-or-later
// Stage 6: the confidence of a frame's digits from slot likelihoods made in the test, and the
// frame's own fields as evidence.
#include "frameconfidence.h"
#include "morsetesting.h"
#include "slotlikelihoods.h"
#include "slottesting.h"

#include <QTest>

#include <cmath>
#include <complex>
#include <random>

using namespace tovrin3;
using namespace tovrin3::morse;
using testing::slotsOf;

namespace {

constexpr int Margin = 10;

QString frameOf(const QString &groups)
{
    return QStringLiteral("QT7XMRKT3HKD ") + groups;
}

FrameDigits digitsOf(const QString &groups)
{
    return frameDigitValues(frameOf(groups)).value();
}

int bodyStart()
{
    return Margin + headerKeying().length + WordGap;
}

// The slot where digit `index` of the frame's body starts.
int digitStart(const FrameDigits &digits, int index)
{
    int start = bodyStart();
    for (int k = 0; k < index; ++k)
        start += hexDigitKeyings()[std::size_t(digits[std::size_t(k)])].length +
                 (k % 2 == 0 ? LetterGap : WordGap);
    return start;
}

} // namespace

class FrameConfidenceTest : public QObject
{
    Q_OBJECT

private slots:
    // A transmission that ends inside its last digit keeps `lastDigitSlots` of that digit's
    // keying: the digits read from what is left compete with every digit that goes on past the
    // end, unless the last element closes every longer one.
    void confidence_data()
    {
        QTest::addColumn<QString>("groups");
        QTest::addColumn<float>("level");
        QTest::addColumn<float>("noise");        // deviation of noise added to every slot's ratio
        QTest::addColumn<int>("erasedDigit");    // whose slots are set to 0; -1 for none
        QTest::addColumn<int>("lastDigitSlots"); // -1: the transmission goes on past the frame
        QTest::addColumn<double>("least");
        QTest::addColumn<double>("most");
        const QString plausible = QStringLiteral("90 01 40 01 0C 6A 00 A5 03");
        QTest::newRow("clean") << plausible << 12.0f << 0.0f << -1 << -1 << 0.999 << 1.0;
        QTest::newRow("keyed as one word, noisy")
            << QStringLiteral("900140010C6A00A503") << 12.0f << 2.0f << -1 << -1 << 0.99 << 1.0;
        QTest::newRow("weak: each slot wrong at odds of e^-3")
            << plausible << 3.0f << 0.0f << -1 << -1 << 0.0 << 0.9;
        // Digit 10 is the 6 of 6A; 4 and C are keyed over as many slots.
        QTest::newRow("one digit erased") << plausible << 12.0f << 0.0f << 10 << -1 << 0.2 << 0.5;
        QTest::newRow("drowned in noise") << plausible << 1.0f << 4.0f << -1 << -1 << 0.0 << 0.01;
        QTest::newRow("digits made of silence, all E")
            << QStringLiteral("EE EE EE EE EE EE EE EE EE") << 0.0f << 0.0f << -1 << -1 << 0.0
            << 0.01;
        QTest::newRow("cut right after the last element")
            << plausible << 12.0f << 0.0f << -1 << 9 << 0.999 << 1.0;
        QTest::newRow("3 cut after its first dot, read as E")
            << QStringLiteral("90 01 40 01 0C 6A 00 A5 0E") << 12.0f << 0.0f << -1 << 1 << 0.0
            << 0.05;
    }

    void confidence()
    {
        QFETCH(QString, groups);
        QFETCH(float, level);
        QFETCH(float, noise);
        QFETCH(int, erasedDigit);
        QFETCH(int, lastDigitSlots);
        QFETCH(double, least);
        QFETCH(double, most);
        const FrameDigits digits = digitsOf(groups);
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
            const int slot = digitStart(digits, erasedDigit);
            const auto &erased = hexDigitKeyings()[std::size_t(digits[std::size_t(erasedDigit)])];
            std::fill_n(ratios.begin() + slot, erased.length, 0.0f);
        }
        if (lastDigitSlots >= 0)
            ratios.resize(std::size_t(digitStart(digits, BeaconDigits - 1) + lastDigitSlots));
        QVERIFY_BETWEEN(frameConfidence(SlotScores(ratios), bodyStart(), digits), least, most);
    }

    // A reading that ends inside a frame leaves the digits after its end unknown: a body that
    // fits what was heard competes with every body that runs on past the end. Here the last byte
    // reads EE, the gap between the two E's faded (its ratios 0) and two quiet slots after the
    // last dot, where the reading ends: that keying is as much an A and any digit after it.
    void bodiesRunningPastTheEnd()
    {
        const QString groups = QStringLiteral("90 01 40 01 0C 6A 00 A5 EE");
        const FrameDigits digits = digitsOf(groups);
        std::vector<float> ratios = slotsOf(frameOf(groups), 12.0f, Margin);
        const int lastByte = digitStart(digits, BeaconDigits - 2);
        std::fill_n(ratios.begin() + lastByte + 1, LetterGap, 0.0f);
        ratios.resize(std::size_t(lastByte + 7));
        QVERIFY_NEAR(frameConfidence(SlotScores(ratios), bodyStart(), digits), 0.0, 0.1);
    }

    // The keying stops before the last digit, the slots after it plainly unkeyed: no digit fits
    // there, and the shortest, E, must not pass as sure for fitting least badly.
    void keyingStoppedBeforeLastDigit()
    {
        const QString groups = QStringLiteral("90 01 40 01 0C 6A 00 A5 0E");
        const FrameDigits digits = digitsOf(groups);
        std::vector<float> ratios = slotsOf(frameOf(groups), 12.0f, Margin);
        const int lastDigit = digitStart(digits, BeaconDigits - 1);
        ratios.resize(std::size_t(lastDigit + 20));
        std::fill(ratios.begin() + lastDigit, ratios.end(), -9.0f);
        QVERIFY_BETWEEN(frameConfidence(SlotScores(ratios), bodyStart(), digits), 0.0, 0.5);
    }

    // Digits that differ in one slot only (6 and C, 5 and B, 5 and F: two dots and the gap
    // between them, or a dash) are told apart by that slot alone, however clear the others are.
    // In phase, two dots and the noise between them also score as a dash run, so that run's
    // coherent score is no evidence for the dash over the dots; nor is a field rule that the
    // digit read keeps and the digit sent breaks, since the beacon's frames may break them.
    void oneSlotDecides_data()
    {
        QTest::addColumn<QString>("groups");
        QTest::addColumn<int>("digit");     // whose one slot decides
        QTest::addColumn<int>("slot");      // within the digit's keying
        QTest::addColumn<float>("ratio");   // of that slot
        QTest::addColumn<float>("runGain"); // of the dash run through it, over its slots apart
        QTest::addColumn<double>("least");
        QTest::addColumn<double>("most");
        const QString withC = QStringLiteral("68 20 6C 62 27 96 EC 3D 4C");
        QTest::newRow("C, 6 sent: the gap between two dots weakly keyed, in phase with them")
            << withC << 13 << 7 << 2.8f << 2.5f << 0.0 << 0.98;
        QTest::newRow("C, its dash clearly keyed and in phase")
            << withC << 13 << 7 << 12.0f << 3.0f << 0.999 << 1.0;
        QTest::newRow("B, 5 sent: the gap after the first dot weakly keyed, in phase")
            << QStringLiteral("26 C7 BA FE D8 5C 18 BD B5") << 4 << 1 << 3.0f << 2.0f << 0.0
            << 0.98;
        QTest::newRow("FF, 5F sent: a sign byte kept only as read")
            << QStringLiteral("1B 4B 24 FF 62 7F F8 67 A2") << 6 << 5 << 4.0f << 0.0f << 0.0
            << 0.99;
        QTest::newRow("0F, 05 near: a sign byte broken as read, kept one slot away")
            << QStringLiteral("90 0F 40 01 0C 6A 00 A5 03") << 3 << 5 << 4.0f << 0.0f << 0.0 << 0.5;
    }

    void oneSlotDecides()
    {
        QFETCH(QString, groups);
        QFETCH(int, digit);
        QFETCH(int, slot);
        QFETCH(float, ratio);
        QFETCH(float, runGain);
        QFETCH(double, least);
        QFETCH(double, most);
        std::vector<float> ratios = slotsOf(frameOf(groups), 12.0f, Margin);
        const FrameDigits digits = digitsOf(groups);
        const int deciding = digitStart(digits, digit) + slot;
        ratios[std::size_t(deciding)] = ratio;
        std::vector<float> dashes(ratios.size());
        for (std::size_t i = 0; i + 2 < ratios.size(); ++i)
            dashes[i] = ratios[i] + ratios[i + 1] + ratios[i + 2];
        dashes[std::size_t(deciding - 1)] += runGain;
        QVERIFY_BETWEEN(frameConfidence(SlotScores(ratios, dashes), bodyStart(), digits), least,
                        most);
    }

    // The same with the slots as the decoder gives them: noiseless keying, every key-down in one
    // phase (a keyed oscillator's), at an energy of 12 over the noise, and one slot's sum set by
    // hand. Every digit is scored in that phase, so the one slot's part of it decides, and
    // a dash run's coherent gain over slots apart speaks for no digit.
    void inPhase_data()
    {
        QTest::addColumn<double>("amplitude"); // of the deciding slot's sum, noise amplitude 1
        QTest::addColumn<double>("phase");     // of that sum against the keying's [radians]
        QTest::addColumn<double>("least");
        QTest::addColumn<double>("most");
        // C read at digit 13; 6 differs from it in slot 7, the middle of C's second dash.
        QTest::newRow("6 sent: the gap between two dots noisy in phase with them")
            << 2.34 << 0.0 << 0.0 << 0.989;
        QTest::newRow("6 sent: the gap's noise across the phase") << 2.34 << 1.57 << 0.0 << 0.5;
        QTest::newRow("C sent: its dash's middle keyed") << std::sqrt(12.0) << 0.0 << 0.999 << 1.0;
    }

    void inPhase()
    {
        QFETCH(double, amplitude);
        QFETCH(double, phase);
        QFETCH(double, least);
        QFETCH(double, most);
        constexpr double Level = 12.0; // energy over noise, so the keyed amplitude is its root
        const double keyed = std::sqrt(Level);
        const QString groups = QStringLiteral("68 20 6C 62 27 96 EC 3D 4C");
        const FrameDigits digits = digitsOf(groups);
        const std::vector<float> pattern = slotsOf(frameOf(groups), 1.0f, Margin);
        std::vector<std::complex<double>> sums(pattern.size());
        for (std::size_t i = 0; i < pattern.size(); ++i)
            sums[i] = pattern[i] > 0 ? keyed : 0.0;
        const int deciding = digitStart(digits, 13) + 7;
        sums[std::size_t(deciding)] = std::polar(amplitude, phase);
        // The slot likelihoods' formulas at noise energy 1: a slot's ratio, its matched sum, and a
        // dash run's even mixture of one phase and slots apart.
        std::vector<float> ratios(sums.size());
        std::vector<std::complex<float>> matched(sums.size());
        const std::vector<float> levels(sums.size(), float(Level));
        for (std::size_t i = 0; i < sums.size(); ++i) {
            ratios[i] = float(logBesselI0(2 * keyed * std::abs(sums[i])) - Level);
            matched[i] = std::complex<float>(2 * keyed * sums[i]);
        }
        std::vector<float> dashes(sums.size());
        for (std::size_t i = 0; i + 2 < sums.size(); ++i) {
            const double run =
                logBesselI0(2 * keyed * std::abs(sums[i] + sums[i + 1] + sums[i + 2])) - 3 * Level;
            const double apart = double(ratios[i]) + ratios[i + 1] + ratios[i + 2];
            const double high = std::max(run, apart);
            dashes[i] =
                float(high + std::log1p(std::exp(std::min(run, apart) - high)) + std::log(0.5));
        }
        QVERIFY_BETWEEN(
            frameConfidence(SlotScores(ratios, dashes, matched, levels), bodyStart(), digits),
            least, most);
    }

    void fadeDepth_data()
    {
        QTest::addColumn<int>("lowFrom"); // slots [lowFrom, lowTo) at 2, the rest at 100
        QTest::addColumn<int>("lowTo");
        QTest::addColumn<double>("slot");
        QTest::addColumn<double>("run");
        QTest::newRow("steady keying") << 0 << 0 << 1.0 << 1.0;
        QTest::newRow("one slot fallen to the noise") << 50 << 51 << 0.02 << 1.0;
        QTest::newRow("a fade's trough of five slots") << 48 << 53 << 0.02 << 0.02;
        QTest::newRow("a fade closing over the last slot") << 89 << 100 << 0.02 << 0.02;
        QTest::newRow("a fade lifting from the first slot") << 0 << 11 << 0.02 << 0.02;
        QTest::newRow("a fade after the frame") << 91 << 100 << 1.0 << 1.0;
    }

    // The frame covers slots 10 to 89 of 100.
    void fadeDepth()
    {
        QFETCH(int, lowFrom);
        QFETCH(int, lowTo);
        QFETCH(double, slot);
        QFETCH(double, run);
        std::vector<float> levels(100, 100.0f);
        std::fill(levels.begin() + lowFrom, levels.begin() + lowTo, 2.0f);
        const FadeDepth depth = morse::fadeDepth(levels, 10, 90);
        QCOMPARE(depth.slot, slot);
        QCOMPARE(depth.run, run);
    }

    // A frame across a trough must state 0.999 to pass as sure, across a null 0.99999; outside
    // fades, what it states counts as it is.
    void confidenceAcrossFades_data()
    {
        QTest::addColumn<float>("low"); // slots 48 to 52 at this level, the rest at 100
        QTest::addColumn<double>("stated");
        QTest::addColumn<bool>("sure");
        QTest::newRow("steady, at the threshold") << 100.0f << morse::SureConfidence << true;
        QTest::newRow("steady, under it") << 100.0f << morse::SureConfidence - 0.001 << false;
        QTest::newRow("trough, 0.999") << 2.0f << 0.999 << true;
        QTest::newRow("trough, 0.998") << 2.0f << 0.998 << false;
        QTest::newRow("null, 0.99999") << 0.5f << 0.99999 << true;
        QTest::newRow("null, 0.9999") << 0.5f << 0.9999 << false;
    }

    void confidenceAcrossFades()
    {
        QFETCH(float, low);
        QFETCH(double, stated);
        std::vector<float> levels(100, 100.0f);
        std::fill(levels.begin() + 48, levels.begin() + 53, low);
        // Rounding may take a confidence exactly at its threshold a hair under it.
        const double counted = morse::confidenceAcrossFades(stated, levels, 10, 90);
        QTEST(counted >= morse::SureConfidence - 1e-12, "sure");
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
        QTEST(frameFieldsPlausible(digitsOf(groups)), "plausible");
    }
};

QTEST_GUILESS_MAIN(FrameConfidenceTest)
#include "tst_frameconfidence.moc"
