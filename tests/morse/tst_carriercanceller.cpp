// SPDX-License-Identifier: GPL-3.0-or-later
// Before stage 1: steady carriers cancelled from the samples, keying and noise left as they were.
#include "bandanalysis.h"
#include "carriercanceller.h"
#include "cwtesting.h"
#include "morsetesting.h"

#include <QTest>

#include <cmath>

using namespace tovrin3;
using namespace tovrin3::morse;
using namespace tovrin3::testing;

namespace {

struct Carrier
{
    double offsetHz;
    double levelDb; // over the beacon's key-down power
    double fromSeconds = 0.0;
};

// Two frames at 20 WPM and 700 Hz, in noise at snrDb (infinity: none).
std::vector<float> beacon(double snrDb, std::uint32_t seed = 61)
{
    return cwgen::keyTransmissions(beaconFrames(2, seed), impaired(snrDb, seed));
}

std::vector<float> withCarriers(std::vector<float> samples, const QList<Carrier> &carriers,
                                double amplitude)
{
    for (const Carrier &carrier : carriers) {
        const auto from = std::min(samples.size(), std::size_t(carrier.fromSeconds * InternalRate));
        const std::vector<float> tone = steadyTone(InternalRate, 700.0 + carrier.offsetHz,
                                                   amplitude * std::pow(10.0, carrier.levelDb / 20),
                                                   samples.size() - from, 1.0);
        for (std::size_t n = 0; n < tone.size(); ++n)
            samples[from + n] += tone[n];
    }
    return samples;
}

std::vector<float> cancelled(std::span<const float> samples, std::size_t piece)
{
    CarrierCanceller canceller;
    std::vector<float> cleaned;
    for (std::size_t at = 0; at < samples.size(); at += piece)
        canceller.process(samples.subspan(at, std::min(piece, samples.size() - at)), cleaned);
    canceller.finish(cleaned);
    return cleaned;
}

// What is left of the carriers from `from` on, in dB over the beacon's key-down power.
double residualDb(std::span<const float> cleaned, std::span<const float> wanted, double amplitude,
                  double fromSeconds)
{
    double error = 0.0;
    const auto from = std::size_t(fromSeconds * InternalRate);
    for (std::size_t n = from; n < wanted.size(); ++n)
        error += std::pow(double(cleaned[n]) - double(wanted[n]), 2);
    const double keyDown = amplitude * amplitude / 2;
    return 10 * std::log10(error / double(wanted.size() - from) / keyDown + 1e-30);
}

} // namespace

Q_DECLARE_METATYPE(Carrier)

class CarrierCancellerTest : public QObject
{
    Q_OBJECT

private slots:
    void cancelsSteadyCarriers_data()
    {
        QTest::addColumn<QList<Carrier>>("carriers");
        QTest::addColumn<double>("snr");
        QTest::addColumn<double>("fromSeconds"); // where the residual is measured from
        QTest::addColumn<double>("mostDb");      // the residual's largest
        QTest::newRow("55 Hz above, 30 dB stronger, no noise")
            << QList<Carrier>{{55, 30}} << qInf() << 0.0 << -30.0;
        // In noise the notch takes out a few hertz of noise too.
        QTest::newRow("60 Hz below, 20 dB stronger, 0 dB")
            << QList<Carrier>{{-60, 20}} << 0.0 << 0.0 << -20.0;
        QTest::newRow("70 Hz above and 450 Hz below, 10 and 25 dB")
            << QList<Carrier>{{70, 10}, {-450, 25}} << 6.0 << 0.0 << -20.0;
        // Found within 4 s of switching on, followed and gone within the next second.
        QTest::newRow("switched on 10 s in, 55 Hz above, 30 dB")
            << QList<Carrier>{{55, 30, 10}} << 0.0 << 15.5 << -20.0;
    }

    void cancelsSteadyCarriers()
    {
        QFETCH(QList<Carrier>, carriers);
        QFETCH(double, snr);
        QFETCH(double, fromSeconds);
        QFETCH(double, mostDb);
        const double amplitude = cwTestKeying(InternalRate).amplitude;
        const std::vector<float> wanted = beacon(snr);
        const std::vector<float> cleaned =
            cancelled(withCarriers(wanted, carriers, amplitude), 4096);
        QCOMPARE(cleaned.size(), wanted.size());
        const double residual = residualDb(cleaned, wanted, amplitude, fromSeconds);
        QVERIFY2(residual < mostDb, qPrintable(QString::number(residual)));
    }

    // Keying falls back between its elements, however densely keyed, and noise never stands
    // steady: neither is touched, to the bit.
    void leavesKeyingAndNoiseAlone_data()
    {
        QTest::addColumn<std::vector<float>>("samples");
        QTest::newRow("a frame keyed as one word, 20 dB")
            << cwgen::keyTransmissions({"QT7XMRKT3HKD 900140010C6A00A503"}, impaired(20));
        QTest::newRow("8 WPM, no noise") << cwgen::keyTransmissions(
            {"0000 TEST"}, impaired(qInf(), 1, [](auto &s) { s.wordsPerMinute = 8; }));
        QTest::newRow("a station keying without pause, 10 dB stronger")
            << cwgen::keyTransmissions(beaconFrames(1, 5), impaired(0, 1, [](auto &s) {
                                           s.stations.push_back({150, 25, 10});
                                       }));
        QTest::newRow("noise alone, shaped with a 25 dB hump")
            << cwgen::keyTransmissions({}, impaired(0, 1, [](auto &s) {
                                           s.noiseShape = {true, 300, 2700, 25, 1250, 200};
                                           s.leadSeconds = 10;
                                       }));
    }

    void leavesKeyingAndNoiseAlone()
    {
        QFETCH(std::vector<float>, samples);
        QVERIFY(cancelled(samples, 4096) == samples);
    }

    // The stream may be cut anywhere: the same samples come out.
    void sameWhereverCut()
    {
        const double amplitude = cwTestKeying(InternalRate).amplitude;
        const std::vector<float> samples = withCarriers(beacon(0.0), {{55, 30, 2}}, amplitude);
        const std::vector<float> whole = cancelled(samples, samples.size());
        for (const std::size_t piece : {std::size_t(1), std::size_t(333), std::size_t(8000)})
            QVERIFY(cancelled(samples, piece) == whole);
    }
};

QTEST_GUILESS_MAIN(CarrierCancellerTest)
#include "tst_carriercanceller.moc"
