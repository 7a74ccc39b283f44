// SPDX-License-Identifier: GPL-3.0-or-later
// Stage 4: keyed or unkeyed per slot, from baseband made in the test: a known keying pattern,
// complex Gaussian noise, fading.
#include "cwsignal.h"
#include "morsetesting.h"
#include "slotlikelihoods.h"

#include <QTest>

#include <cmath>
#include <complex>
#include <random>

using namespace tovrin3::morse;

namespace {

constexpr int Unit = 10; // baseband samples per slot

struct Keyed
{
    std::vector<bool> pattern;
    std::vector<Complex> baseband;
};

// PARIS-like keying: runs of 1 or 3 keyed slots with gaps of 1, 3 or 7. slotSnrDb: a keyed
// slot's energy over a slot's noise energy. fadeDb: the level falls linearly to this over the
// stretch. phaseTurns: the carrier takes a random phase in every slot instead of holding one.
Keyed keyedBaseband(int slotCount, double slotSnrDb, double fadeDb, std::uint32_t seed,
                    bool noSignal = false, bool phaseTurns = false)
{
    std::mt19937 random(seed);
    Keyed result;
    while (int(result.pattern.size()) < slotCount) {
        const int run = random() % 3 == 0 ? 3 : 1;
        const int gap = std::array{1, 1, 3, 7}[random() % 4];
        result.pattern.insert(result.pattern.end(), std::size_t(run), !noSignal);
        result.pattern.insert(result.pattern.end(), std::size_t(gap), false);
    }
    result.pattern.resize(std::size_t(slotCount));
    const double noise = 1.0; // per sample
    const double amplitude = std::sqrt(std::pow(10.0, slotSnrDb / 10) * noise / Unit);
    std::normal_distribution<float> gauss(0.0f, float(std::sqrt(noise / 2)));
    std::uniform_real_distribution<float> turn(0.0f, 6.2832f);
    for (int s = 0; s < slotCount; ++s) {
        const double fade = std::pow(10.0, fadeDb * s / slotCount / 20);
        const Complex carrier = phaseTurns ? std::polar(1.0f, turn(random)) : Complex(0.6f, 0.8f);
        for (int k = 0; k < Unit; ++k) {
            Complex value(gauss(random), gauss(random));
            if (result.pattern[std::size_t(s)])
                value += float(amplitude * fade) * carrier;
            result.baseband.push_back(value);
        }
    }
    return result;
}

SlotLikelihoods likelihoodsOf(const Keyed &keyed, double noise = 0.0)
{
    return slotLikelihoods(CumulativeSum(keyed.baseband), {double(Unit), 0.0}, noise);
}

} // namespace

class SlotLikelihoodsTest : public QObject
{
    Q_OBJECT

private slots:
    void decisions_data()
    {
        QTest::addColumn<double>("slotSnrDb");
        QTest::addColumn<double>("fadeDb");
        QTest::addColumn<double>("leastRight"); // share of slots whose ratio has the right sign
        QTest::newRow("strong, 20 dB a slot") << 20.0 << 0.0 << 1.0;
        QTest::newRow("10 dB a slot") << 10.0 << 0.0 << 0.965;
        QTest::newRow("weak, 4 dB a slot") << 4.0 << 0.0 << 0.78;
        QTest::newRow("fading from 20 dB to 10 dB") << 20.0 << -10.0 << 0.97;
    }

    // The ratio's sign is the decision: keyed slots above 0, gaps below. Where the keying stands
    // clear of the noise (10 dB a slot and more), the noise is judged right to a few percent: a
    // noise judged high, as weak keying in the quiet slots makes it, weakens every slot's evidence.
    void decisions()
    {
        QFETCH(double, slotSnrDb);
        QFETCH(double, fadeDb);
        QFETCH(double, leastRight);
        const Keyed keyed = keyedBaseband(8000, slotSnrDb, fadeDb, 7);
        const SlotLikelihoods likelihoods = likelihoodsOf(keyed);
        QCOMPARE(likelihoods.keyed.size(), keyed.pattern.size());
        int right = 0;
        for (std::size_t s = 0; s < keyed.pattern.size(); ++s)
            right += (likelihoods.keyed[s] > 0) == keyed.pattern[s] ? 1 : 0;
        QVERIFY_BETWEEN(double(right) / double(keyed.pattern.size()), leastRight, 1.0);
        // A slot's noise energy: Unit samples.
        if (slotSnrDb + fadeDb >= 10)
            QVERIFY_NEAR(likelihoods.noise / Unit, 1.0, 0.05);
        if (fadeDb == 0.0)
            QVERIFY_NEAR(10 * std::log10(likelihoods.signalToNoise), slotSnrDb, 1.5);
    }

    // A slot's matched sum, 2 a s / N, is on average twice its level in the carrier's phase
    // where keyed, and 0 where not: summed over a character's key-downs it scores them in one
    // phase.
    void matchedSums()
    {
        const Keyed keyed = keyedBaseband(2000, 10.0, 0.0, 9);
        const SlotLikelihoods likelihoods = likelihoodsOf(keyed);
        QCOMPARE(likelihoods.matched.size(), keyed.pattern.size());
        const std::complex<double> carrier(0.6, 0.8);
        std::complex<double> keyedSum;
        std::complex<double> gapSum;
        double twiceLevels = 0.0;
        for (std::size_t s = 0; s < keyed.pattern.size(); ++s) {
            const std::complex<double> matched(likelihoods.matched[s]);
            if (keyed.pattern[s]) {
                keyedSum += matched * std::conj(carrier);
                twiceLevels += 2 * double(likelihoods.level[s]);
            } else {
                gapSum += matched;
            }
        }
        QVERIFY_NEAR(keyedSum.real() / twiceLevels, 1.0, 0.15);
        QVERIFY_NEAR(keyedSum.imag() / twiceLevels, 0.0, 0.1);
        QVERIFY_NEAR(std::abs(gapSum) / twiceLevels, 0.0, 0.1);
    }

    // Noise alone: the signal-to-noise ratio stays low and under a third of the slots look
    // keyed (the keyed level falls back on twice the noise there).
    void noiseAlone()
    {
        const SlotLikelihoods likelihoods = likelihoodsOf(keyedBaseband(2000, 0.0, 0.0, 8, true));
        QVERIFY_BETWEEN(std::ranges::count_if(likelihoods.keyed, [](float r) { return r > 0; }), 0,
                        599);
        QVERIFY(likelihoods.signalToNoise < 4);
        // The loudest noise taken for keying would pull the noise down pass after pass.
        QVERIFY_NEAR(likelihoods.noise / Unit, 1.0, 0.05);
    }

    // A short stretch that ends in near silence (the filters' edge at a transmission's end, a deep
    // fade) holds too few slots of noise to judge it by: with the transmission's noise given, its
    // quiet slots score as the keyed level says, not as confident gaps thousands of times over.
    void knownNoise()
    {
        Keyed keyed = keyedBaseband(60, 15.0, 0.0, 9);
        for (std::size_t k = 40 * Unit; k < keyed.baseband.size(); ++k)
            keyed.baseband[k] *= 0.01f;
        const SlotLikelihoods given = likelihoodsOf(keyed, Unit * 1.0);
        QCOMPARE(given.noise, Unit * 1.0);
        const float quietest = *std::min_element(given.keyed.begin() + 40, given.keyed.end());
        QVERIFY2(quietest > -2 * std::pow(10.0, 15.0 / 10), qPrintable(QString::number(quietest)));
    }

    void trough_data()
    {
        QTest::addColumn<int>("halfWidth"); // slots from the null to the full level
        QTest::addColumn<double>("slotSnrDb");
        QTest::addColumn<float>("most");      // the largest ratio either way under 0 dB a slot
        QTest::addColumn<bool>("keyingEnds"); // no keying after the null
        QTest::newRow("Rayleigh null, 0.4 s either side, 25 dB a slot")
            << 10 << 25.0 << 4.0f << false;
        QTest::newRow("wide trough, 1 s either side, 20 dB a slot") << 25 << 20.0 << 6.0f << false;
        QTest::newRow("fade closing over the keying's end, 1 s, 20 dB a slot")
            << 25 << 20.0 << 6.0f << true;
    }

    // Where fading passes near a null, a slot's own level is near the noise: keyed or not, the slot
    // is missing evidence and scores near 0, never as a confident gap, while the slots at the full
    // level either side keep their decisions. So too where the fade closes over the last elements
    // of a transmission, with no keying after it to show the level rising again: else a frame's
    // last digit loses its trailing elements there (B read as D) and is stated sure.
    void trough()
    {
        QFETCH(int, halfWidth);
        QFETCH(double, slotSnrDb);
        QFETCH(float, most);
        QFETCH(bool, keyingEnds);
        Keyed keyed = keyedBaseband(400, slotSnrDb, 0.0, 11);
        constexpr int Null = 200;
        const double nullSnr = std::pow(10.0, slotSnrDb / 10);
        for (int s = Null - halfWidth; s < 400; ++s) {
            const double gain = keyingEnds && s > Null
                                    ? 0.0
                                    : std::min(1.0, std::abs(s - Null) / double(halfWidth));
            for (int k = 0; k < Unit; ++k) {
                Complex &value = keyed.baseband[std::size_t(s * Unit + k)];
                if (keyed.pattern[std::size_t(s)])
                    value -= Complex(float(std::sqrt(nullSnr / Unit) * (1 - gain) * 0.6),
                                     float(std::sqrt(nullSnr / Unit) * (1 - gain) * 0.8));
            }
            if (keyingEnds && s > Null)
                keyed.pattern[std::size_t(s)] = false;
        }
        const SlotLikelihoods likelihoods = likelihoodsOf(keyed);
        // The level the slots were judged at dips with the fade, so a frame across it can be
        // told by its level alone.
        QVERIFY(likelihoods.level[Null] < 0.1f * likelihoods.level[Null - halfWidth - 20]);
        for (int s = 0; s < 400; ++s) {
            const double gain = std::min(1.0, std::abs(s - Null) / double(halfWidth));
            const float ratio = likelihoods.keyed[std::size_t(s)];
            const QString where = QStringLiteral("slot %1, ratio %2").arg(s).arg(ratio);
            // Under 0 dB a slot, the slot says little either way.
            if (nullSnr * gain * gain < 1.0)
                QVERIFY2(std::abs(ratio) < most, qPrintable(where));
            else if (keyingEnds && s > Null) // the quiet after the keying: never clearly keyed
                QVERIFY2(ratio < most, qPrintable(where));
            else if (gain == 1.0)
                QVERIFY2((ratio > 0) == keyed.pattern[std::size_t(s)], qPrintable(where));
        }
    }

    void rayleighNulls_data()
    {
        QTest::addColumn<double>("meanSnrDb"); // a keyed slot's mean energy over the noise's
        QTest::newRow("22 dB a slot") << 22.0;
        QTest::newRow("25 dB a slot") << 25.0;
        QTest::newRow("28 dB a slot") << 28.0;
    }

    // Under Rayleigh fading the level passes near a null every few seconds, often where the keying
    // on one side is sparse (a word gap, a long letter), and the slots a few tenths of a second
    // away still stand well above the noise. A keyed slot in such a null holds little carrier: it
    // may say little, but never that it is a confident gap (e^-20: odds far past any frame's
    // confidence), and seldom a likely one (e^-5, one in ten at most), or a dash there turns into
    // dots stated sure.
    void rayleighNulls()
    {
        QFETCH(double, meanSnrDb);
        constexpr int Slots = 6000; // 4 minutes of 40 ms slots
        const double slotSnr = std::pow(10.0, meanSnrDb / 10);
        const Complex carrier = float(std::sqrt(slotSnr / Unit)) * Complex(0.6f, 0.8f);
        int faded = 0;
        int likelyGaps = 0;
        for (std::uint32_t seed = 1; seed <= 6; ++seed) {
            const tovrin3::cwgen::RayleighFading fading(0.2, seed);
            Keyed keyed = keyedBaseband(Slots, meanSnrDb, 0.0, seed + 100);
            std::vector<double> trueSnr(Slots);
            for (int s = 0; s < Slots; ++s) {
                const std::complex<double> gain = fading.gain(s * Unit / BasebandRate);
                trueSnr[std::size_t(s)] = slotSnr * std::norm(gain);
                for (int k = 0; k < Unit && keyed.pattern[std::size_t(s)]; ++k)
                    keyed.baseband[std::size_t(s * Unit + k)] += carrier * (Complex(gain) - 1.0f);
            }
            const SlotLikelihoods likelihoods = likelihoodsOf(keyed);
            for (int s = 0; s < Slots; ++s) {
                if (!keyed.pattern[std::size_t(s)] || trueSnr[std::size_t(s)] > 1.0)
                    continue;
                ++faded;
                const float ratio = likelihoods.keyed[std::size_t(s)];
                likelyGaps += ratio < -5;
                QVERIFY2(ratio > -20, qPrintable(QStringLiteral("seed %1, slot %2 at %3 dB: %4")
                                                     .arg(seed)
                                                     .arg(s)
                                                     .arg(10 * std::log10(trueSnr[std::size_t(s)]))
                                                     .arg(ratio)));
            }
        }
        QVERIFY(faded > 20);
        QVERIFY2(
            likelyGaps * 10 <= faded,
            qPrintable(QStringLiteral("%1 of %2 faded keyed slots").arg(likelyGaps).arg(faded)));
    }

    void dashes_data()
    {
        QTest::addColumn<bool>("phaseTurns");
        QTest::addColumn<double>("leastGain"); // mean dash ratio over its slots' sum [nats]
        QTest::addColumn<double>("mostGain");
        QTest::newRow("phase held through the dash: the run gains") << false << 1.5 << 20.0;
        QTest::newRow("phase turning in every slot: the slots apart, less ln 2")
            << true << -0.7 << 0.5;
    }

    // A dash scored as one run of unknown phase: where the phase holds, it tells a dash from
    // noise better than its three slots apart; where it turns, it costs at most the ln 2 of the
    // mixture. After a gap the run still reads unkeyed.
    void dashes()
    {
        QFETCH(bool, phaseTurns);
        QFETCH(double, leastGain);
        QFETCH(double, mostGain);
        const Keyed keyed = keyedBaseband(3000, 6.0, 0.0, 12, false, phaseTurns);
        const SlotLikelihoods likelihoods = likelihoodsOf(keyed);
        QCOMPARE(likelihoods.dashes.size(), likelihoods.keyed.size());
        double gain = 0.0;
        int dashCount = 0;
        int unkeyedRight = 0;
        int unkeyedCount = 0;
        const auto &pattern = keyed.pattern;
        for (std::size_t s = 1; s + 3 < pattern.size(); ++s) {
            const double apart =
                double(likelihoods.keyed[s]) + likelihoods.keyed[s + 1] + likelihoods.keyed[s + 2];
            if (!pattern[s - 1] && pattern[s] && pattern[s + 1] && pattern[s + 2]) {
                gain += likelihoods.dashes[s] - apart;
                ++dashCount;
            } else if (!pattern[s] && !pattern[s + 1] && !pattern[s + 2]) {
                unkeyedRight += likelihoods.dashes[s] < 0 ? 1 : 0;
                ++unkeyedCount;
            }
        }
        QVERIFY(dashCount > 100);
        QVERIFY_BETWEEN(gain / dashCount, leastGain, mostGain);
        QVERIFY2(unkeyedRight > 0.95 * unkeyedCount,
                 qPrintable(QStringLiteral("%1 of %2").arg(unkeyedRight).arg(unkeyedCount)));
        const std::size_t last = likelihoods.keyed.size() - 1;
        QCOMPARE(likelihoods.dashes[last], likelihoods.keyed[last]);
    }

    // None or nine slots: nothing to judge them by.
    void tooFewSlots()
    {
        for (const int slotCount : {0, 9}) {
            const SlotLikelihoods likelihoods = likelihoodsOf(keyedBaseband(slotCount, 20, 0, 9));
            QVERIFY(std::ranges::all_of(likelihoods.keyed, [](float r) { return r == 0.0f; }));
            QVERIFY(std::ranges::all_of(likelihoods.dashes, [](float r) { return r == 0.0f; }));
        }
    }
};

QTEST_GUILESS_MAIN(SlotLikelihoodsTest)
#include "tst_slotlikelihoods.moc"
