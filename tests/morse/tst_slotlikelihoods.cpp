// SPDX-License-Identifier: GPL-3.0-or-later
// Stage 4: keyed or unkeyed per slot, from baseband made in the test: a known keying pattern,
// complex Gaussian noise, fading.
#include "slotlikelihoods.h"

#include <QTest>

#include <cmath>
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
// stretch.
Keyed keyedBaseband(int slotCount, double slotSnrDb, double fadeDb, std::uint32_t seed,
                    bool noSignal = false)
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
    for (int s = 0; s < slotCount; ++s) {
        const double fade = std::pow(10.0, fadeDb * s / slotCount / 20);
        for (int k = 0; k < Unit; ++k) {
            Complex value(gauss(random), gauss(random));
            if (result.pattern[std::size_t(s)])
                value += Complex(float(amplitude * fade * 0.6), float(amplitude * fade * 0.8));
            result.baseband.push_back(value);
        }
    }
    return result;
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
        QTest::newRow("10 dB a slot") << 10.0 << 0.0 << 0.97;
        QTest::newRow("weak, 4 dB a slot") << 4.0 << 0.0 << 0.8;
        QTest::newRow("fading from 20 dB to 10 dB") << 20.0 << -10.0 << 0.97;
    }

    // The ratio's sign is the decision: keyed slots above 0, gaps below.
    void decisions()
    {
        QFETCH(double, slotSnrDb);
        QFETCH(double, fadeDb);
        QFETCH(double, leastRight);
        const Keyed keyed = keyedBaseband(2000, slotSnrDb, fadeDb, 7);
        const CumulativeSum sums(keyed.baseband);
        const SlotLikelihoods likelihoods = slotLikelihoods(sums, {double(Unit), 0.0});
        QCOMPARE(likelihoods.keyed.size(), keyed.pattern.size());
        int right = 0;
        for (std::size_t s = 0; s < keyed.pattern.size(); ++s)
            right += (likelihoods.keyed[s] > 0) == keyed.pattern[s] ? 1 : 0;
        const double share = double(right) / double(keyed.pattern.size());
        QVERIFY2(share >= leastRight, qPrintable(QString::number(share)));
        if (fadeDb == 0.0) {
            const double snr = 10 * std::log10(likelihoods.signalToNoise);
            QVERIFY2(std::abs(snr - slotSnrDb) < 1.5, qPrintable(QString::number(snr)));
        }
    }

    // Noise alone: the signal-to-noise ratio stays low and under a third of the slots look
    // keyed (the keyed level falls back on twice the noise there).
    void noiseAlone()
    {
        const Keyed keyed = keyedBaseband(2000, 0.0, 0.0, 8, true);
        const CumulativeSum sums(keyed.baseband);
        const SlotLikelihoods likelihoods = slotLikelihoods(sums, {double(Unit), 0.0});
        const auto keyedSlots = std::count_if(likelihoods.keyed.begin(), likelihoods.keyed.end(),
                                              [](float ratio) { return ratio > 0; });
        QVERIFY2(keyedSlots < 600, qPrintable(QString::number(keyedSlots)));
        QVERIFY(likelihoods.signalToNoise < 4);
    }

    void trough_data()
    {
        QTest::addColumn<int>("halfWidth"); // slots from the null to the full level
        QTest::addColumn<double>("slotSnrDb");
        QTest::addColumn<float>("most"); // the largest ratio either way under 0 dB a slot
        QTest::newRow("Rayleigh null, 0.4 s either side, 25 dB a slot") << 10 << 25.0 << 4.0f;
        QTest::newRow("wide trough, 1 s either side, 20 dB a slot") << 25 << 20.0 << 6.0f;
    }

    // Where fading passes near a null, a slot's own level is near the noise: keyed or not, the slot
    // is missing evidence and scores near 0, never as a confident gap, while the slots at the full
    // level either side keep their decisions.
    void trough()
    {
        QFETCH(int, halfWidth);
        QFETCH(double, slotSnrDb);
        QFETCH(float, most);
        Keyed keyed = keyedBaseband(400, slotSnrDb, 0.0, 11);
        constexpr int Null = 200;
        const double nullSnr = std::pow(10.0, slotSnrDb / 10);
        for (int s = Null - halfWidth; s <= Null + halfWidth; ++s) {
            const double gain = std::abs(s - Null) / double(halfWidth);
            for (int k = 0; k < Unit; ++k) {
                Complex &value = keyed.baseband[std::size_t(s * Unit + k)];
                if (keyed.pattern[std::size_t(s)])
                    value -= Complex(float(std::sqrt(nullSnr / Unit) * (1 - gain) * 0.6),
                                     float(std::sqrt(nullSnr / Unit) * (1 - gain) * 0.8));
            }
        }
        const CumulativeSum sums(keyed.baseband);
        const SlotLikelihoods likelihoods = slotLikelihoods(sums, {double(Unit), 0.0});
        // The level the slots were judged at dips with the fade, so a frame across it can be
        // told by its level alone.
        QVERIFY2(likelihoods.level[Null] < 0.1f * likelihoods.level[Null - halfWidth - 20],
                 qPrintable(QString::number(likelihoods.level[Null])));
        for (int s = 0; s < 400; ++s) {
            const double gain = std::min(1.0, std::abs(s - Null) / double(halfWidth));
            const float ratio = likelihoods.keyed[std::size_t(s)];
            const QString where = QStringLiteral("slot %1, ratio %2").arg(s).arg(ratio);
            // Under 0 dB a slot, the slot says little either way.
            if (nullSnr * gain * gain < 1.0)
                QVERIFY2(std::abs(ratio) < most, qPrintable(where));
            else if (gain == 1.0)
                QVERIFY2((ratio > 0) == keyed.pattern[std::size_t(s)], qPrintable(where));
        }
    }

    void tooFewSlots_data()
    {
        QTest::addColumn<int>("slotCount");
        QTest::newRow("none") << 0;
        QTest::newRow("nine") << 9;
    }

    void tooFewSlots()
    {
        QFETCH(int, slotCount);
        const Keyed keyed = keyedBaseband(slotCount, 20.0, 0.0, 9);
        const CumulativeSum sums(keyed.baseband);
        const SlotLikelihoods likelihoods = slotLikelihoods(sums, {double(Unit), 0.0});
        for (const float ratio : likelihoods.keyed)
            QCOMPARE(ratio, 0.0f);
    }
};

QTEST_GUILESS_MAIN(SlotLikelihoodsTest)
#include "tst_slotlikelihoods.moc"
