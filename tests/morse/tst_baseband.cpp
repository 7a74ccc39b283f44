// SPDX-License-Identifier: GPL-3.0-or-later
// Stage 3: the baseband along a pitch track, the residual frequency, and the unit grid of
// keying at every speed.
#include "baseband.h"
#include "cwsignal.h"
#include "cwtesting.h"
#include "morsetesting.h"

#include <QTest>

#include <cmath>
#include <numbers>

using namespace tovrin3;
using namespace tovrin3::morse;

namespace {

// Two seconds of a cosine of amplitude 0.5.
std::vector<float> carrier(double hz)
{
    return testing::steadyTone(InternalRate, hz, 0.5, 2 * InternalRate, std::numbers::pi / 2);
}

// A constant track over the frames of the samples.
std::vector<double> steadyTrack(std::size_t samples, double hz)
{
    return std::vector<double>(samples / FrameHop + 1, hz);
}

double meanMagnitude(std::span<const Complex> baseband)
{
    double sum = 0.0;
    // The first and last few samples see the filter's edges.
    for (std::size_t k = 4; k + 4 < baseband.size(); ++k)
        sum += std::abs(baseband[k]);
    return sum / double(baseband.size() - 8);
}

} // namespace

class BasebandTest : public QObject
{
    Q_OBJECT

private slots:
    void passband_data()
    {
        QTest::addColumn<double>("offsetHz");
        QTest::addColumn<double>("least"); // dB of baseband magnitude over Decimation * A / 2
        QTest::addColumn<double>("most");
        QTest::newRow("on the track") << 0.0 << -0.2 << 0.2;
        QTest::newRow("30 Hz off, inside the passband") << 30.0 << -0.8 << 0.0;
        for (const auto &[offset, most, name] :
             {std::tuple{75.0, -30.0, "past a fast dot's spectrum"},
              {100.0, -50.0, "a close carrier"},
              {150.0, -50.0, "folding to -100 Hz"},
              {175.0, -50.0, "folding to -75 Hz"},
              {300.0, -25.0, "another station"},
              {1000.0, -50.0, "far off"}})
            QTest::addRow("%g Hz off, %s", offset, name) << offset << -qInf() << most;
    }

    // A carrier on the track comes out at Decimation times half its amplitude; one 75 Hz or more
    // off stays out, so even 30 dB stronger it lies under the keying.
    void passband()
    {
        QFETCH(double, offsetHz);
        QFETCH(double, least);
        QFETCH(double, most);
        const std::vector<float> samples = carrier(700 + offsetHz);
        const std::vector<Complex> baseband = mixDown(samples, steadyTrack(samples.size(), 700), 0);
        QCOMPARE(baseband.size(), samples.size() / Decimation - 1);
        QVERIFY_BETWEEN(20 * std::log10(meanMagnitude(baseband) / (Decimation * 0.25)), least,
                        most);
    }

    void residualFrequency_data()
    {
        QTest::addColumn<double>("errorHz");
        QTest::newRow("none") << 0.0;
        QTest::newRow("+3 Hz") << 3.0;
        QTest::newRow("-1.3 Hz, between steps") << -1.3;
    }

    // The track a few Hz off: the residual is found and removed, so the baseband's phase stands
    // still, and its coherent energy, which judges tracks, grows by the loss the error gave.
    void residualFrequency()
    {
        QFETCH(double, errorHz);
        const std::vector<float> samples = carrier(700 + errorHz);
        std::vector<Complex> baseband = mixDown(samples, steadyTrack(samples.size(), 700), 0);
        const double offTrack = coherentEnergy(baseband);
        const double found = refineFrequency(baseband);
        const double gain = coherentEnergy(baseband) / offTrack;
        if (errorHz == 0)
            QVERIFY_NEAR(gain, 1.0, 1e-3);
        else
            QVERIFY2(gain > 1.1, qPrintable(QString::number(gain)));
        QVERIFY_NEAR(found, errorHz, 0.1);
        QVERIFY_NEAR(std::arg(baseband[baseband.size() - 10] / baseband[10]), 0.0, 1.0);
    }

    void unitGrid_data()
    {
        QTest::addColumn<double>("wpm");
        QTest::addColumn<double>("snr");
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("carrierOffsetHz"); // 0: none
        const double clean = std::numeric_limits<double>::infinity();
        QTest::newRow("8 WPM, slowest") << 8.0 << clean << "TEST DE K" << 0.0;
        QTest::newRow("40 WPM, fastest") << 40.0 << clean << "CQ CQ DE TOVRIN3 TOVRIN3 K" << 0.0;
        QTest::newRow("25 WPM, -6 dB") << 25.0 << -6.0 << "QT7XMRKT3HKD 28 01 64 01 0C" << 0.0;
        QTest::newRow("dots only") << 18.0 << clean << "5 5 5 5 5 5 H H H H" << 0.0;
        QTest::newRow("dashes only") << 18.0 << clean << "0 0 0 0 O O O O M M M" << 0.0;
        QTest::newRow("carrier 150 Hz away, 20 dB stronger")
            << 20.0 << clean << "QT7XMRKT3HKD 90 01 40 01" << 150.0;
        QTest::newRow("carrier 100 Hz below, 20 dB stronger")
            << 20.0 << clean << "QT7XMRKT3HKD 90 01 40 01" << -100.0;
    }

    // The unit within 1 % of the sent one, and slot boundaries on the keying's edges.
    void unitGrid()
    {
        QFETCH(double, wpm);
        QFETCH(double, snr);
        QFETCH(QString, text);
        QFETCH(double, carrierOffsetHz);
        cwgen::KeyingSettings settings;
        settings.wordsPerMinute = wpm;
        settings.snrDb = snr;
        settings.seed = 3;
        if (carrierOffsetHz != 0)
            settings.carriers.push_back({carrierOffsetHz, 20.0});
        const std::vector<float> samples = cwgen::keyTransmissions({text}, settings);
        const std::vector<Complex> baseband =
            mixDown(samples, steadyTrack(samples.size(), settings.pitchHz), 0);
        const UnitGrid grid = findUnitGrid(baseband);
        const double unit = 1.2 / wpm * BasebandRate;
        QVERIFY_NEAR(grid.unit / unit, 1.0, 0.01);
        // The first element starts at leadSeconds; baseband sample k is centred on input sample
        // Decimation * (k + 1), so slot boundaries fall half a sample earlier.
        const double start = settings.leadSeconds * BasebandRate - 0.5;
        const double position = (start - grid.phase) / grid.unit;
        QVERIFY2(std::abs(position - std::round(position)) < 0.15,
                 qPrintable(QStringLiteral("phase %1, unit %2").arg(grid.phase).arg(grid.unit)));
    }

    // Nothing, or too little for one slow letter.
    void noKeyingNoGrid()
    {
        QCOMPARE(findUnitGrid({}).unit, 0.0);
        QCOMPARE(findUnitGrid(std::vector<Complex>(100, Complex(1, 0))).unit, 0.0);
    }
};

QTEST_GUILESS_MAIN(BasebandTest)
#include "tst_baseband.moc"
