// SPDX-License-Identifier: GPL-3.0-or-later
// Stage 1: the FFT class, the window, the per-bin noise floor, keying presence, the frame spectrum
// over its floor, the waterfall rows.
#include "bandanalysis.h"
#include "cwtesting.h"
#include "morsetesting.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <ranges>

using namespace tovrin3;
using namespace tovrin3::morse;

namespace {

std::vector<float> whiteNoise(std::size_t count, double deviation, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<float> gauss(0.0f, float(deviation));
    std::vector<float> samples(count);
    for (float &sample : samples)
        sample = gauss(random);
    return samples;
}

// Frames 32 ms apart, as the demodulator's spectra are.
constexpr double FrameSeconds = FrameHop / InternalRate;

// What a bin holds: noise of a mean power, plus a carrier of a power that is steady or keyed.
enum class Carrier
{
    None,
    Steady,
    Keyed
};

struct BinContent
{
    int bin = 0;
    double powerOverNoise = 0.0;
    Carrier carrier = Carrier::None;
};

// Keying at 20 WPM frame by frame: dots and dashes in a random order with element and letter
// gaps, about half the time down, as a beacon frame is.
std::vector<bool> keyingByFrame(int frames, std::uint32_t seed)
{
    std::mt19937 random(seed);
    const double unit = 1.2 / 20;
    std::vector<bool> down(std::size_t(frames), false);
    double at = 0.0;
    while (at < frames * FrameSeconds) {
        const double length = (random() % 2 ? 3 : 1) * unit;
        for (int f = int(at / FrameSeconds); f < int((at + length) / FrameSeconds) && f < frames;)
            down[f++] = true;
        at += length + (random() % 4 == 0 ? 3 : 1) * unit;
    }
    return down;
}

// Per frame, the powers of the pitch range: exponential noise of mean `noise[b]` in every bin
// plus the carriers, so the stages see what the FFT of such a band gives.
std::vector<std::vector<float>> bandPowers(int frames, const std::vector<double> &noise,
                                           const QList<BinContent> &contents, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::exponential_distribution<double> exponential(1.0);
    const std::vector<bool> keying = keyingByFrame(frames, seed + 1);
    std::vector<std::vector<float>> powers(static_cast<std::size_t>(frames),
                                           std::vector<float>(SearchBins));
    for (int f = 0; f < frames; ++f) {
        for (int b = 0; b < SearchBins; ++b)
            powers[f][b] = float(noise[b] * exponential(random));
        for (const BinContent &content : contents) {
            if (content.carrier == Carrier::Steady ||
                (content.carrier == Carrier::Keyed && keying[f]))
                powers[f][content.bin] += float(content.powerOverNoise * noise[content.bin]);
        }
    }
    return powers;
}

// A receiver's hump: the noise density rises by `db` at bin `centre`, a bell `width` bins wide
// at half its height in dB, over a flat density of 1.
std::vector<double> humpedNoise(double db, int centre, double width)
{
    std::vector<double> noise(SearchBins);
    for (int b = 0; b < SearchBins; ++b)
        noise[b] = std::pow(10.0, db * std::pow(0.5, std::pow((b - centre) / (width / 2), 2)) / 10);
    return noise;
}

} // namespace

Q_DECLARE_METATYPE(BinContent)

class SpectrumTest : public QObject
{
    Q_OBJECT

private slots:
    // Symmetric about the middle, near 0 at the ends, and the Hann sum of size / 2 that the
    // spectra's scale rests on.
    void hannWindow()
    {
        const std::vector<float> window = morse::hannWindow(FftSize);
        QCOMPARE(int(window.size()), FftSize);
        QVERIFY(std::ranges::equal(window, std::views::reverse(window),
                                   [](float a, float b) { return std::abs(a - b) < 1e-6f; }));
        QVERIFY(window.front() < 0.05f + 2.0f / float(FftSize));
        QVERIFY_NEAR(std::accumulate(window.begin(), window.end(), 0.0), FftSize / 2.0, 1e-3);
    }

    void frameSpectrum_data()
    {
        QTest::addColumn<double>("toneHz");
        QTest::addColumn<double>("toneAmplitude");
        QTest::addColumn<bool>("keyed");
        QTest::addColumn<double>("leastPeakDb");
        QTest::newRow("noise alone") << 0.0 << 0.0 << false << 0.0;
        QTest::newRow("keyed tone at the lowest bin") << LowestBin * BinHz << 0.2 << true << 17.0;
        QTest::newRow("keyed tone at the highest bin") << HighestBin * BinHz << 0.2 << true << 17.0;
        QTest::newRow("keyed tone off the bin centre") << 1005.0 << 0.2 << true << 17.0;
    }

    // In noise the ratios average 1 whatever the noise's power; a keyed tone stands out in its
    // bin; a steady one, once its floor has followed it, no longer does.
    void frameSpectrum()
    {
        QFETCH(double, toneHz);
        QFETCH(double, toneAmplitude);
        QFETCH(bool, keyed);
        QFETCH(double, leastPeakDb);
        constexpr int Settle = 200;
        constexpr int Frames = 200;
        // Keyed: four frames down, four up.
        constexpr int KeyedFrames = 4;
        FrameSpectrum spectrum;
        std::vector<float> samples = whiteNoise(std::size_t((Settle + Frames) * FftSize), 0.1, 5);
        if (toneHz > 0) {
            const std::vector<float> tone =
                testing::steadyTone(InternalRate, toneHz, toneAmplitude, samples.size());
            for (std::size_t n = 0; n < samples.size(); ++n) {
                if (!keyed || (n / FftSize / KeyedFrames) % 2 == 0)
                    samples[n] += tone[n];
            }
        }
        std::vector<double> mean(SearchBins, 0.0);
        std::vector<float> powers(SearchBins);
        for (int f = 0; f < Settle + Frames; ++f) {
            spectrum.process(std::span(samples).subspan(std::size_t(f * FftSize), FftSize), powers);
            for (int b = 0; f >= Settle && b < SearchBins; ++b)
                mean[b] += powers[b] / double(Frames);
        }
        const auto peak = std::max_element(mean.begin(), mean.end());
        if (!keyed) {
            QVERIFY_NEAR(std::accumulate(mean.begin(), mean.end(), 0.0) / SearchBins, 1.0, 0.15);
            QVERIFY_NEAR(*peak, 0.0, 1.7);
            return;
        }
        QCOMPARE(int(peak - mean.begin()), int(std::lround(toneHz / BinHz)) - LowestBin);
        QVERIFY2(10 * std::log10(*peak) > leastPeakDb, qPrintable(QString::number(*peak)));
    }

    void floorAndPresence_data()
    {
        QTest::addColumn<double>("humpDb");
        QTest::addColumn<double>("humpWidth"); // bins at half the hump's height in dB
        QTest::addColumn<QList<BinContent>>("contents");
        QTest::newRow("white noise") << 0.0 << 20.0 << QList<BinContent>{};
        QTest::newRow("hump of 25 dB, 200 Hz wide") << 25.0 << 12.8 << QList<BinContent>{};
        QTest::newRow("carrier 10 dB over its bin's noise")
            << 0.0 << 20.0 << QList<BinContent>{{40, 10.0, Carrier::Steady}};
        QTest::newRow("carrier 45 dB, on a hump of 15 dB")
            << 15.0 << 20.0 << QList<BinContent>{{68, 3e4, Carrier::Steady}};
        QTest::newRow("carrier 50 dB over its bin's noise")
            << 0.0 << 20.0 << QList<BinContent>{{40, 1e5, Carrier::Steady}};
        QTest::newRow("keying 20 dB over its bin's noise")
            << 0.0 << 20.0 << QList<BinContent>{{30, 100.0, Carrier::Keyed}};
        QTest::newRow("keying 8 dB, a carrier 26 bins away")
            << 0.0 << 20.0
            << QList<BinContent>{{30, 6.3, Carrier::Keyed}, {56, 1000.0, Carrier::Steady}};
        QTest::newRow("keying 8 dB on top of a hump of 20 dB")
            << 20.0 << 20.0 << QList<BinContent>{{70, 6.3, Carrier::Keyed}};
        QTest::newRow("keying 12 dB on the side of a hump of 20 dB")
            << 20.0 << 20.0 << QList<BinContent>{{55, 16.0, Carrier::Keyed}};
    }

    // Through the floor and the presence, frame after frame. After ten seconds, each bin's floor
    // lies within 2 dB of the noise under it, hump or not, except a steady carrier's bin, whose
    // floor holds the carrier, so that the carrier's power over its floor stays near 1; a keyed
    // bin's floor is the noise under the keying, not the keying. Keying is found within two
    // seconds and stays found in all but a frame or two; a carrier from its first frame and noise
    // are never taken for keying, in any frame, in any bin.
    void floorAndPresence()
    {
        QFETCH(double, humpDb);
        QFETCH(double, humpWidth);
        QFETCH(QList<BinContent>, contents);
        constexpr int Settle = 310;
        constexpr int Measured = 300;
        constexpr int Found = 62;
        const std::vector<double> noise = humpedNoise(humpDb, 70, humpWidth);
        const auto holds = [&contents](Carrier carrier, int b, int reach = 0) {
            return std::ranges::any_of(contents, [&](const BinContent &c) {
                return c.carrier == carrier && std::abs(c.bin - b) <= reach;
            });
        };
        NoiseFloor floor;
        KeyingPresence presence;
        std::vector<float> floors(SearchBins);
        std::vector<float> ratios(SearchBins);
        std::vector<double> meanFloor(SearchBins, 0.0);
        std::vector<double> meanRatio(SearchBins, 0.0);
        std::vector<int> keyedFrames(SearchBins, 0);
        int f = 0;
        for (const std::vector<float> &powers : bandPowers(Settle + Measured, noise, contents, 7)) {
            floor.update(powers, floors);
            for (int b = 0; b < SearchBins; ++b)
                ratios[b] = powers[b] / floors[b];
            presence.update(ratios);
            for (int b = 0; b < SearchBins; ++b) {
                if (presence.isKeyed(b)) {
                    QVERIFY2(holds(Carrier::Keyed, b),
                             qPrintable(QStringLiteral("bin %1, frame %2").arg(b).arg(f)));
                    keyedFrames[b] += f >= Found ? 1 : 0;
                }
                meanFloor[b] += f >= Settle ? floors[b] / double(Measured) : 0.0;
                meanRatio[b] += f >= Settle ? ratios[b] / double(Measured) : 0.0;
            }
            ++f;
        }
        for (int b = 0; b < SearchBins; ++b) {
            const double floorDb = 10 * std::log10(meanFloor[b] / noise[b]);
            const QByteArray where =
                QString::asprintf("bin %d: floor %.1f dB, ratio %.2f, keyed in %d frames", b,
                                  floorDb, meanRatio[b], keyedFrames[b])
                    .toLatin1();
            if (holds(Carrier::Keyed, b))
                QVERIFY2(keyedFrames[b] >= (Settle + Measured - Found) * 98 / 100, where);
            if (holds(Carrier::Steady, b))
                QVERIFY2(meanRatio[b] < 1.6, where);
            else if (!holds(Carrier::Steady, b, 2))
                QVERIFY2(std::abs(floorDb) < 2.0, where);
        }
    }

    void carrierSkirt_data()
    {
        QTest::addColumn<double>("beaconSnrDb");
        QTest::addColumn<double>("carrierOffsetHz"); // from the beacon's 700 Hz
        QTest::addColumn<double>("carrierDb");       // over the beacon's key-down power
        QTest::addColumn<double>("leastKeyedShare"); // of the beacon's frames
        QTest::newRow("carrier 28 dB over its bin's noise, 0.4 bins off a bin, at 1600 Hz")
            << -3.0 << 900.0 << 10.0 << 0.95;
        QTest::newRow("a quarter bin off, its skirt 4 dB over the noise")
            << -3.0 << 897.66 << 10.0 << 0.95;
        QTest::newRow("carrier 57 dB over its bin's noise, 100 Hz from keying 30 dB under it")
            << 6.0 << 100.0 << 30.0 << 0.95;
        // Six bins from this carrier, past its skirt, weak keying must not be taken for one: it
        // keeps the presence the median floor around gives it (three quarters of its frames
        // here, nine tenths without the carrier).
        QTest::newRow("keying at -12 dB 100 Hz from a carrier 25 dB over it")
            << -12.0 << 100.0 << 25.0 << 0.72;
    }

    // Through the frame spectrum and the presence, a beacon frame beside a steady carrier: the
    // bins on the carrier's skirt, its leakage a few dB over the noise, read about 1 and are never
    // keyed; the beacon's bin stays keyed through its keying, on a stronger carrier's skirt too.
    void carrierSkirt()
    {
        QFETCH(double, beaconSnrDb);
        QFETCH(double, carrierOffsetHz);
        QFETCH(double, carrierDb);
        QFETCH(double, leastKeyedShare);
        cwgen::KeyingSettings settings = testing::impaired(beaconSnrDb, 23);
        settings.leadSeconds = 1.5;
        settings.carriers.push_back({carrierOffsetHz, carrierDb});
        const std::vector<float> samples =
            cwgen::keyTransmissions(testing::beaconFrames(1, 23), settings);
        const int beaconBin = int(std::lround(700 / BinHz)) - LowestBin;
        const int carrierBin = int(std::lround((700 + carrierOffsetHz) / BinHz)) - LowestBin;
        // Presence judged from 2.5 s into the keying until 0.5 s before its end.
        const int frames = int((samples.size() - FftSize) / FrameHop) + 1;
        const int from = int((settings.leadSeconds + 2.5) / FrameSeconds);
        const int to = frames - int((settings.leadSeconds + 0.5) / FrameSeconds);
        FrameSpectrum spectrum;
        KeyingPresence presence;
        std::vector<float> ratios(SearchBins);
        std::vector<double> meanRatio(SearchBins, 0.0);
        int beaconKeyed = 0;
        for (int f = 0; f < frames; ++f) {
            spectrum.process(std::span(samples).subspan(std::size_t(f * FrameHop), FftSize),
                             ratios);
            presence.update(ratios);
            if (f < from || f >= to)
                continue;
            for (int b = 0; b < SearchBins; ++b) {
                meanRatio[b] += ratios[b] / double(to - from);
                QVERIFY2(std::abs(b - beaconBin) <= 2 || !presence.isKeyed(b),
                         qPrintable(QStringLiteral("bin %1 keyed in frame %2").arg(b).arg(f)));
            }
            beaconKeyed += presence.isKeyed(beaconBin) ? 1 : 0;
        }
        QVERIFY2(beaconKeyed >= leastKeyedShare * (to - from),
                 qPrintable(QStringLiteral("keyed in %1 of %2").arg(beaconKeyed).arg(to - from)));
        for (int b = std::max(carrierBin - 6, 0); b <= std::min(carrierBin + 6, SearchBins - 1);
             ++b) {
            QVERIFY2(std::abs(b - beaconBin) <= 2 || meanRatio[b] < 1.6,
                     qPrintable(QStringLiteral("bin %1 reads %2").arg(b).arg(meanRatio[b])));
        }
    }

    void waterfallRows_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("chunk");
        QTest::newRow("4 kHz") << 4000.0 << 100;
        QTest::newRow("8 kHz, single samples") << 8000.0 << 1;
        QTest::newRow("48 kHz, odd pieces") << 48000.0 << 4097;
    }

    // The band from 200 to 2000 Hz at 16 Hz or finer, a tone in its column, rows independent of
    // how the stream is cut.
    void waterfallRows()
    {
        QFETCH(double, rate);
        QFETCH(int, chunk);
        WaterfallSpectrum whole(rate);
        WaterfallSpectrum cut(rate);
        QVERIFY_BETWEEN(whole.frequencyOfColumn(0), WaterfallSpectrum::LowestHz,
                        WaterfallSpectrum::LowestHz + 15.99);
        const double last = whole.frequencyOfColumn(whole.columnCount() - 1);
        QVERIFY(last <= WaterfallSpectrum::HighestHz && last > WaterfallSpectrum::HighestHz - 16);
        const std::vector<float> samples =
            testing::steadyTone(rate, 1000.0, 0.5, std::size_t(rate));
        const auto rows = whole.process(samples);
        QVERIFY(!rows.empty());
        std::vector<std::vector<float>> pieces;
        for (std::size_t at = 0; at < samples.size(); at += std::size_t(chunk)) {
            const auto part =
                std::span(samples).subspan(at, std::min(std::size_t(chunk), samples.size() - at));
            for (auto &row : cut.process(part))
                pieces.push_back(std::move(row));
        }
        QCOMPARE(pieces, rows);
        const auto &row = rows.back();
        const auto peak = int(std::max_element(row.begin(), row.end()) - row.begin());
        QVERIFY_NEAR(whole.frequencyOfColumn(peak), 1000.0, 16);
    }
};

QTEST_GUILESS_MAIN(SpectrumTest)
#include "tst_bandanalysis.moc"
