// SPDX-License-Identifier: GPL-3.0-or-later
// The generator every test and benchmark signal comes from: its timing, its SNR, and each
// impairment measured on the samples it makes, then the program's options.
#include "bandanalysis.h"
#include "cwsignal.h"
#include "cwtesting.h"
#include "morsetesting.h"
#include "processtesting.h"
#include "soundtesting.h"

#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <limits>
#include <numbers>
#include <numeric>

using namespace tovrin3;

namespace {

double power(std::span<const float> samples)
{
    return std::inner_product(samples.begin(), samples.end(), samples.begin(), 0.0) /
           double(samples.size());
}

double toDb(double ratio)
{
    return 10 * std::log10(ratio);
}

// The correlation of a stretch of samples with a complex tone: its magnitude is the tone's
// amplitude, its angle the tone's phase (of a sine) at the stretch's start.
std::complex<double> tone(std::span<const float> samples, double rate, double hz)
{
    std::complex<double> sum = 0.0;
    for (std::size_t n = 0; n < samples.size(); ++n)
        sum += double(samples[n]) * std::polar(1.0, -2 * std::numbers::pi * hz * double(n) / rate);
    return sum * std::complex<double>(0, 2) / double(samples.size());
}

// One-sided power density per Hz around a frequency: Hann-windowed periodograms of 0.5 s (bins of
// 2 Hz), averaged over the signal and over the bins within halfWidth of the frequency.
double density(std::span<const float> samples, double rate, double hz, double halfWidth)
{
    const int length = int(rate / 2);
    const std::vector<float> window = morse::hannWindow(length);
    const double windowPower =
        std::inner_product(window.begin(), window.end(), window.begin(), 0.0);
    morse::RealFft fft(length);
    double sum = 0.0;
    int count = 0;
    for (std::size_t at = 0; at + std::size_t(length) <= samples.size();
         at += std::size_t(length / 2)) {
        std::ranges::transform(window, samples.subspan(at), fft.input().begin(),
                               std::multiplies<>());
        fft.execute();
        for (int bin = int((hz - halfWidth) / 2); bin <= int((hz + halfWidth) / 2); ++bin, ++count)
            sum += 2 * std::norm(std::complex<double>(fft.output()[std::size_t(bin)])) /
                   (rate * windowPower);
    }
    return sum / count;
}

// `count` dashes (letters T, one every six units) keyed with the settings into `samples`, for
// measuring the beacon's carrier dash by dash: the middle 80 % of each.
std::vector<std::span<const float>> keyDashes(const cwgen::KeyingSettings &settings, int count,
                                              std::vector<float> &samples)
{
    samples = cwgen::keyTransmissions({QString(count, QLatin1Char('T'))}, settings);
    const double unit = 1.2 / settings.wordsPerMinute;
    std::vector<std::span<const float>> dashes;
    for (int i = 0; i < count; ++i) {
        const double first = settings.leadSeconds + (i * 6 + 0.3) * unit;
        dashes.push_back(
            std::span<const float>(samples).subspan(std::size_t(first * settings.sampleRate),
                                                    std::size_t(2.4 * unit * settings.sampleRate)));
    }
    return dashes;
}

// Frequency from zero crossings, interpolated between samples.
double zeroCrossingHz(std::span<const float> samples, double rate)
{
    double first = -1;
    double last = -1;
    int crossings = 0;
    for (std::size_t n = 1; n < samples.size(); ++n) {
        const double a = samples[n - 1];
        const double b = samples[n];
        if ((a < 0) == (b < 0))
            continue;
        last = double(n - 1) + a / (a - b);
        first = first < 0 ? last : first;
        ++crossings;
    }
    return (crossings - 1) / (2 * (last - first) / rate);
}

// Every impairment at once, as programOptions gives them to tovrin3-cwgen.
const cwgen::KeyingSettings EveryImpairment{.snrDb = 6,
                                            .noiseShape = {true, 200, 2800, 15, 1250, 150},
                                            .fadingPeriodSeconds = 5,
                                            .fadingDepthDb = 8,
                                            .rayleighSpreadHz = 0.2,
                                            .carriers = {{400, -3}, {-200, -10}},
                                            .stations = {{150, 25, -6}},
                                            .clicksPerSecond = 3,
                                            .clickLevelDb = -2,
                                            .doppler = {400, 60, 2},
                                            .phaseWanderRadians = 0.5,
                                            .seed = 9};

int runGenerator(const QStringList &arguments)
{
    return testing::runProgram(QStringLiteral(BIN_DIR "/tovrin3-cwgen"), arguments).exitCode;
}

} // namespace

Q_DECLARE_METATYPE(cwgen::KeyingSettings)

class CwSignalTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    // PARIS timing: the signal's length from its units and gaps, and its key-down time from its
    // energy. "PARIS" is 43 units from its first element to its last, 22 of them keyed; an
    // unknown character counts as a word gap.
    void timing_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("wpm");
        QTest::addColumn<int>("spanUnits");
        QTest::addColumn<int>("keyedUnits");
        QTest::addColumn<int>("elements");
        QTest::newRow("PARIS, 44.1 kHz, 40 WPM")
            << QStringList{"PARIS"} << 44100.0 << 40.0 << 43 << 22 << 14;
        QTest::newRow("two lines, a gap between")
            << QStringList{"E", "E"} << 8000.0 << 20.0 << 2 << 2 << 2;
        QTest::newRow("unknown character") << QStringList{"E#E"} << 8000.0 << 20.0 << 9 << 2 << 2;
    }

    void timing()
    {
        QFETCH(QStringList, lines);
        QFETCH(double, rate);
        QFETCH(double, wpm);
        QFETCH(int, spanUnits);
        QFETCH(int, keyedUnits);
        QFETCH(int, elements);
        cwgen::KeyingSettings settings = testing::cwTestKeying(rate, wpm, 1000);
        settings.gapSeconds = 2;
        const double unit = 1.2 / wpm;
        const std::vector<float> samples = cwgen::keyTransmissions(lines, settings);
        const double length = 2 * settings.leadSeconds + spanUnits * unit +
                              double(lines.size() - 1) * settings.gapSeconds;
        QVERIFY(std::abs(double(samples.size()) - length * rate) <= 1);
        // Each raised-cosine edge of 5 ms carries 3/8 of its length's energy, where a hard edge
        // would carry half.
        const double keyed = power(samples) * double(samples.size()) /
                                 (settings.amplitude * settings.amplitude / 2) / rate +
                             2 * elements * 0.005 / 8;
        QVERIFY_NEAR(keyed, keyedUnits * unit, 0.001);
        // Each line's start lies in the middle of its first rising edge: silence before the edge,
        // the carrier past it.
        const std::vector<double> starts = cwgen::transmissionStarts(lines, settings);
        QCOMPARE(qsizetype(starts.size()), lines.size());
        const auto halfEdge = std::size_t(0.0025 * rate) + 1;
        for (const double start : starts) {
            const auto at = std::size_t(std::lround(start * rate));
            QCOMPARE(power(std::span(samples).subspan(at - 2 * halfEdge, halfEdge)), 0.0);
            QVERIFY(power(std::span(samples).subspan(at + halfEdge, halfEdge)) >
                    settings.amplitude * settings.amplitude / 4);
        }
    }

    // The SNR holds at the beacon's pitch, whatever the rate: key-down carrier power over the
    // noise in 3 kHz of the density there. White noise is flat to half the rate; shaped noise has
    // its hump the stated height above the density at the pitch, and falls away beyond the
    // passband.
    void noise_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("snr");
        QTest::addColumn<double>("humpDb"); // below 0: white noise
        QTest::addColumn<double>("humpHz");
        QTest::newRow("white, 8 kHz, 0 dB") << 8000.0 << 0.0 << -1.0 << 1250.0;
        QTest::newRow("15 dB hump 550 Hz above, 0 dB") << 8000.0 << 0.0 << 15.0 << 1250.0;
        QTest::newRow("10 dB hump 350 Hz below, 48 kHz") << 48000.0 << 3.0 << 10.0 << 350.0;
    }

    void noise()
    {
        QFETCH(double, rate);
        QFETCH(double, snr);
        QFETCH(double, humpDb);
        QFETCH(double, humpHz);
        cwgen::KeyingSettings settings;
        settings.sampleRate = rate;
        settings.snrDb = snr;
        settings.leadSeconds = rate > 8000 ? 6 : 15;
        settings.noiseShape = {humpDb >= 0, 300, 2700, std::max(humpDb, 0.0), humpHz, 200};
        const std::vector<float> noise = cwgen::keyTransmissions({}, settings);
        const double atPitch = density(noise, rate, settings.pitchHz, 40);
        QVERIFY_NEAR(toDb((settings.amplitude * settings.amplitude / 2) / (atPitch * 3000)), snr,
                     0.5);
        QVERIFY_NEAR(toDb(density(noise, rate, humpHz, 6) / atPitch), std::max(humpDb, 0.0), 0.7);
        const double outside = toDb(density(noise, rate, 3200, 40) / atPitch);
        if (humpDb >= 0)
            QVERIFY2(outside < -30, qPrintable(QString::number(outside)));
        else
            QVERIFY_NEAR(outside, 0.0, 0.5);
    }

    // The beacon's carrier measured dash by dash against the unfaded carrier: the strongest and
    // the weakest dash (dB, within 0.2 and 0.5), the mean power (dB, within 1), the share of
    // dashes 10 dB or more down (within 0.04), the rms of the phase steps between dashes
    // (radians, within 0.01 + 10 %); NaN: not checked. Sine fading spans its depth; Rayleigh
    // fading keeps the mean power (the SNR is the mean) and spends 1 - exp(-0.1) = 9.5 % of the
    // time 10 dB down; the phase steps by the wander's spread, and not at all without it.
    void carrierDashByDash_data()
    {
        QTest::addColumn<cwgen::KeyingSettings>("settings");
        QTest::addColumn<int>("dashes");
        QTest::addColumn<QList<double>>("expected");
        const double none = std::numeric_limits<double>::quiet_NaN();
        using testing::impaired;
        QTest::newRow("sine fading, 12 dB, 5 s") << impaired(qInf(), 1, [](auto &s) {
            s.fadingPeriodSeconds = 5;
            s.fadingDepthDb = 12;
        }) << 60 << QList{0.0, -12.0, none, none, 0.0};
        QTest::newRow("Rayleigh fading, 0.2 Hz")
            << impaired(qInf(), 7, [](auto &s) { s.rayleighSpreadHz = 0.2; }) << 3000
            << QList{none, none, 0.0, 0.1, none};
        QTest::newRow("phase wander, 1 rad")
            << impaired(qInf(), 1, [](auto &s) { s.phaseWanderRadians = 1; }) << 600
            << QList{0.0, 0.0, 0.0, 0.0, 1.0};
    }

    void carrierDashByDash()
    {
        QFETCH(cwgen::KeyingSettings, settings);
        QFETCH(int, dashes);
        QFETCH(QList<double>, expected);
        settings.wordsPerMinute = 30;
        std::vector<float> samples;
        std::vector<double> levels;
        std::vector<double> phases;
        for (const auto dash : keyDashes(settings, dashes, samples)) {
            const std::complex<double> carrier = tone(dash, 8000, settings.pitchHz);
            levels.push_back(toDb(std::norm(carrier) / std::pow(settings.amplitude, 2)));
            const double start = double(dash.data() - samples.data()) / 8000;
            phases.push_back(std::arg(carrier) - 2 * std::numbers::pi * settings.pitchHz * start);
        }
        double mean = 0;
        double deep = 0;
        double squares = 0;
        for (std::size_t i = 0; i < levels.size(); ++i) {
            mean += std::pow(10.0, levels[i] / 10) / double(levels.size());
            deep += levels[i] <= -10 ? 1.0 / double(levels.size()) : 0.0;
            if (i > 0)
                squares +=
                    std::pow(std::remainder(phases[i] - phases[i - 1], 2 * std::numbers::pi), 2);
        }
        const QList<double> measured{std::ranges::max(levels), std::ranges::min(levels), toDb(mean),
                                     deep, std::sqrt(squares / double(dashes - 1))};
        const QList<double> tolerances{0.2, 0.5, 1.0, 0.04, 0.01 + 0.1 * expected[4]};
        for (qsizetype i = 0; i < measured.size(); ++i)
            QVERIFY2(std::isnan(expected[i]) ||
                         std::abs(measured[i] - expected[i]) <= tolerances[i],
                     qPrintable(QStringLiteral("statistic %1: %2").arg(i).arg(measured[i])));
    }

    // A Doppler pass: the pitch crosses its nominal value at mid-pass, falling there at the
    // stated slope, and starts near the shift above it.
    void dopplerPass()
    {
        cwgen::KeyingSettings settings = testing::cwTestKeying(8000, 5, 1000);
        settings.doppler.shiftHz = 500;
        settings.doppler.slopeHzPerSecond = 60;
        std::vector<float> samples;
        // 40 dashes: the signal's middle is the middle of the gap after dash 19, and dashes 19 and
        // 20 lie symmetrically around it, 6 units apart.
        const auto dashes = keyDashes(settings, 40, samples);
        const double before = zeroCrossingHz(dashes[19], 8000);
        const double after = zeroCrossingHz(dashes[20], 8000);
        QVERIFY_NEAR((before + after) / 2, 1000, 0.5);
        QVERIFY_NEAR((after - before) / (6 * 1.2 / 5), -60, 0.05 * 60);
        QVERIFY_BETWEEN(zeroCrossingHz(dashes[0], 8000) - 1000, 0.8 * 500, 500);
    }

    // Every impairment at once: adding a steady carrier leaves the others' samples as they were,
    // and another seed gives others. That one seed gives the same samples is programOptions'.
    void impairmentsCombineDeterministically()
    {
        const QStringList text{QStringLiteral("QT7XMRKT3HKD 28 01")};
        const std::vector<float> first = cwgen::keyTransmissions(text, EveryImpairment);
        cwgen::KeyingSettings withCarrier = EveryImpairment;
        withCarrier.carriers.push_back({600, 6});
        const std::vector<float> second = cwgen::keyTransmissions(text, withCarrier);
        QCOMPARE(second.size(), first.size());
        std::vector<float> difference(first.size());
        std::ranges::transform(second, first, difference.begin(), std::minus<>());
        // The carrier alone: its level over the beacon's key-down power, at its frequency.
        QVERIFY_NEAR(toDb(power(difference) / (withCarrier.amplitude * withCarrier.amplitude / 2)),
                     6, 0.05);
        QVERIFY_NEAR(zeroCrossingHz(difference, 8000), withCarrier.pitchHz + 600, 0.1);

        withCarrier.seed = 10;
        QVERIFY(second != cwgen::keyTransmissions(text, withCarrier));
    }

    // Each impairment option of tovrin3-cwgen reaches its setting: the file holds the samples
    // the library makes from the settings.
    void programOptions()
    {
        const QStringList options =
            QStringLiteral("--carrier 400,-3 --carrier -200,-10 --station 150,25,-6 --snr 6 "
                           "--hump 15,1250,150 --passband 200,2800 --rayleigh 0.2 "
                           "--fading-period 5 --fading-depth 8 --clicks 3 --click-level -2 "
                           "--doppler 400,60,2 --phase-wander 0.5")
                .split(u' ');
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        const QString path = directory.filePath(QStringLiteral("signal.wav"));
        QCOMPARE(runGenerator(QStringList{path, "TEST DE QT7X", "--seed", "9"} + options), 0);
        const std::vector<float> written = testing::readSound(path);
        const std::vector<float> made = cwgen::keyTransmissions({"TEST DE QT7X"}, EveryImpairment);
        QCOMPARE(written.size(), made.size());
        const float peak =
            std::abs(std::ranges::max(made, {}, [](float x) { return std::abs(x); }));
        const float scale = peak > 1.0f ? cwgen::WavPeak / peak : 1.0f;
        const auto differ = std::ranges::mismatch(
            written, made, [scale](float w, float m) { return std::abs(w - scale * m) <= 2e-4f; });
        QVERIFY2(differ.in1 == written.end(),
                 qPrintable(QString::number(differ.in1 - written.begin())));
    }
};

QTEST_GUILESS_MAIN(CwSignalTest)
#include "tst_cwsignal.moc"
