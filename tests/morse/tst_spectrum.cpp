// SPDX-License-Identifier: GPL-3.0-or-later
// Stage 1: the FFT class, the window, the frame spectrum over its noise floor, the waterfall rows.
#include "spectrum.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <random>
#include <stdexcept>

using namespace tovrin3::morse;

namespace {

std::vector<float> sine(double rate, double hz, double amplitude, std::size_t count)
{
    std::vector<float> samples(count);
    for (std::size_t n = 0; n < count; ++n)
        samples[n] = float(amplitude * std::sin(2 * std::numbers::pi * hz * double(n) / rate));
    return samples;
}

std::vector<float> whiteNoise(std::size_t count, double deviation, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<float> gauss(0.0f, float(deviation));
    std::vector<float> samples(count);
    for (float &sample : samples)
        sample = gauss(random);
    return samples;
}

} // namespace

class SpectrumTest : public QObject
{
    Q_OBJECT

private slots:
    void fftOfSine_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("bin");
        QTest::newRow("512, bin 45") << 512 << 45;
        QTest::newRow("smallest, 2 samples") << 2 << 1;
        QTest::newRow("odd size 625, bin 100") << 625 << 100;
    }

    void fftOfSine()
    {
        QFETCH(int, size);
        QFETCH(int, bin);
        RealFft fft(size);
        QCOMPARE(int(fft.output().size()), size / 2 + 1);
        const std::span<float> input = fft.input();
        for (int n = 0; n < size; ++n)
            input[std::size_t(n)] = float(std::cos(2 * std::numbers::pi * bin * n / size));
        fft.execute();
        const double expected = bin * 2 == size ? size : size / 2.0;
        QVERIFY(std::abs(std::abs(fft.output()[std::size_t(bin)]) - expected) < 1e-3 * size);
        QVERIFY(std::abs(fft.output()[std::size_t((bin + 3) % (size / 2 + 1))]) < 1e-3 * size);
    }

    void fftRefusesNoSize()
    {
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, RealFft(0));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, RealFft(-4));
    }

    void hannWindow_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("frame") << FftSize;
        QTest::newRow("waterfall at 48 kHz") << 4096;
        QTest::newRow("odd") << 7;
    }

    // Symmetric about the middle, near 0 at the ends, and the Hann sum of size / 2 that the
    // spectra's scale rests on.
    void hannWindow()
    {
        QFETCH(int, size);
        const std::vector<float> window = tovrin3::morse::hannWindow(size);
        QCOMPARE(int(window.size()), size);
        for (int n = 0; n < size; ++n)
            QVERIFY(std::abs(window[std::size_t(n)] - window[std::size_t(size - 1 - n)]) < 1e-6f);
        QVERIFY(window.front() < 0.05f + 2.0f / float(size));
        QVERIFY(std::abs(std::accumulate(window.begin(), window.end(), 0.0) - size / 2.0) < 1e-3);
    }

    void frameSpectrum_data()
    {
        QTest::addColumn<double>("toneHz");
        QTest::addColumn<double>("toneAmplitude");
        QTest::addColumn<double>("leastPeakDb");
        QTest::newRow("noise alone") << 0.0 << 0.0 << 0.0;
        QTest::newRow("tone at 703 Hz, 0 dB in 3 kHz")
            << 703.125 << 0.1 * std::sqrt(2 * 3.0 / 4.0) << 18.0;
        QTest::newRow("tone at the lowest bin") << LowestBin * BinHz << 0.2 << 20.0;
        QTest::newRow("tone at the highest bin") << HighestBin * BinHz << 0.2 << 20.0;
        QTest::newRow("tone off the bin centre") << 1005.0 << 0.2 << 20.0;
    }

    // In noise the ratios average 1 whatever the noise's power; a tone stands out in its bin.
    void frameSpectrum()
    {
        QFETCH(double, toneHz);
        QFETCH(double, toneAmplitude);
        QFETCH(double, leastPeakDb);
        constexpr int Frames = 200;
        FrameSpectrum spectrum;
        std::vector<float> samples = whiteNoise(std::size_t(Frames * FftSize), 0.1, 5);
        if (toneHz > 0) {
            const std::vector<float> tone =
                sine(InternalRate, toneHz, toneAmplitude, samples.size());
            std::transform(samples.begin(), samples.end(), tone.begin(), samples.begin(),
                           std::plus<>());
        }
        std::vector<double> mean(SearchBins, 0.0);
        std::vector<float> powers(SearchBins);
        for (int f = 0; f < Frames; ++f) {
            spectrum.process(std::span(samples).subspan(std::size_t(f * FftSize), FftSize), powers);
            for (int b = 0; b < SearchBins; ++b)
                mean[std::size_t(b)] += powers[std::size_t(b)] / double(Frames);
        }
        const auto peak = std::max_element(mean.begin(), mean.end());
        if (toneHz == 0.0) {
            const double average = std::accumulate(mean.begin(), mean.end(), 0.0) / SearchBins;
            QVERIFY2(std::abs(average - 1.0) < 0.1, qPrintable(QString::number(average)));
            QVERIFY(*peak < 1.5);
            return;
        }
        const int expectedBin = int(std::lround(toneHz / BinHz)) - LowestBin;
        QVERIFY2(std::abs(int(peak - mean.begin()) - expectedBin) <= 0,
                 qPrintable(QString::number(peak - mean.begin())));
        QVERIFY2(10 * std::log10(*peak) > leastPeakDb, qPrintable(QString::number(*peak)));
    }

    void waterfallRows_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("chunk");
        QTest::newRow("4 kHz") << 4000.0 << 100;
        QTest::newRow("8 kHz, single samples") << 8000.0 << 1;
        QTest::newRow("44.1 kHz") << 44100.0 << 1000;
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
        QVERIFY(whole.frequencyOfColumn(0) >= WaterfallSpectrum::LowestHz);
        QVERIFY(whole.frequencyOfColumn(0) < WaterfallSpectrum::LowestHz + 16);
        const double last = whole.frequencyOfColumn(whole.columnCount() - 1);
        QVERIFY(last <= WaterfallSpectrum::HighestHz && last > WaterfallSpectrum::HighestHz - 16);
        const std::vector<float> samples = sine(rate, 1000.0, 0.5, std::size_t(rate));
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
        QVERIFY2(std::abs(whole.frequencyOfColumn(peak) - 1000.0) < 16,
                 qPrintable(QString::number(whole.frequencyOfColumn(peak))));
    }
};

QTEST_GUILESS_MAIN(SpectrumTest)
#include "tst_spectrum.moc"
