// SPDX-License-Identifier: GPL-3.0-or-later
#include "cwsignal.h"
#include "morsecode.h"

#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sndfile.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <numeric>

using namespace tovrin3;

namespace {

// Key-down time from the signal's energy: the carrier's power is amplitude^2 / 2.
double keyedSeconds(const std::vector<float> &samples, const cwgen::KeyingSettings &settings)
{
    const double energy = std::inner_product(samples.begin(), samples.end(), samples.begin(), 0.0);
    return energy / (settings.amplitude * settings.amplitude / 2) / settings.sampleRate;
}

double carrierPower(const cwgen::KeyingSettings &settings)
{
    return settings.amplitude * settings.amplitude / 2;
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

// One-sided power density per Hz around a frequency: Hann-windowed periodograms of 0.5 s, averaged
// over the signal and over the bins within halfWidth of the frequency.
double density(std::span<const float> samples, double rate, double hz, double halfWidth)
{
    const auto length = std::size_t(rate / 2);
    std::vector<double> window(length);
    for (std::size_t n = 0; n < length; ++n)
        window[n] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(n) / double(length));
    const double windowPower =
        std::inner_product(window.begin(), window.end(), window.begin(), 0.0);
    const double binHz = rate / double(length);
    const int reach = int(halfWidth / binHz);
    double sum = 0.0;
    int count = 0;
    for (std::size_t at = 0; at + length <= samples.size(); at += length / 2) {
        for (int bin = -reach; bin <= reach; ++bin) {
            const std::complex<double> step =
                std::polar(1.0, -2 * std::numbers::pi * (hz + bin * binHz) / rate);
            std::complex<double> phasor = 1.0;
            std::complex<double> x = 0.0;
            for (std::size_t n = 0; n < length; ++n) {
                x += window[n] * double(samples[at + n]) * phasor;
                phasor *= step;
            }
            sum += 2 * std::norm(x) / (rate * windowPower);
            ++count;
        }
    }
    return sum / count;
}

// A line of `count` letters T: one dash every six units, for measuring the beacon's carrier
// dash by dash. The dashes' middles in seconds go to `middles`.
QString dashes(int count, const cwgen::KeyingSettings &settings, std::vector<double> &middles)
{
    const double unit = 1.2 / settings.wordsPerMinute;
    for (int i = 0; i < count; ++i)
        middles.push_back(settings.leadSeconds + i * 6 * unit + 1.5 * unit);
    return QString(count, QLatin1Char('T'));
}

// The middle 80 % of the dash around a time.
std::span<const float> dashAt(const std::vector<float> &samples,
                              const cwgen::KeyingSettings &settings, double middle)
{
    const double half = 0.8 * 1.5 * 1.2 / settings.wordsPerMinute;
    const auto first = std::size_t((middle - half) * settings.sampleRate);
    const auto last = std::size_t((middle + half) * settings.sampleRate);
    return std::span<const float>(samples).subspan(first, last - first);
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
        const double at = double(n - 1) + a / (a - b);
        if (first < 0)
            first = at;
        last = at;
        ++crossings;
    }
    return (crossings - 1) / (2 * (last - first) / rate);
}

// A 16-bit mono WAV file's samples; empty when it cannot be read.
std::vector<float> readWav(const QString &path)
{
    SF_INFO info{};
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file)
        return {};
    std::vector<float> samples(std::size_t(info.frames));
    const sf_count_t read = sf_read_float(file, samples.data(), info.frames);
    sf_close(file);
    return read == info.frames && info.channels == 1 ? samples : std::vector<float>{};
}

int runGenerator(const QStringList &arguments)
{
    QProcess generator;
    generator.start(QStringLiteral(BIN_DIR "/tovrin3-cwgen"), arguments);
    if (!generator.waitForFinished(60000) || generator.exitStatus() != QProcess::NormalExit)
        return -1;
    return generator.exitCode();
}

} // namespace

Q_DECLARE_METATYPE(cwgen::KeyingSettings)

class CwSignalTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    // PARIS timing: "PARIS" is 43 units from its first element to its last (50 with the word gap),
    // 22 of them keyed.
    void parisTiming_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("wpm");
        QTest::newRow("8 kHz, 20 WPM") << 8000.0 << 20.0;
        QTest::newRow("48 kHz, 12 WPM") << 48000.0 << 12.0;
        QTest::newRow("44.1 kHz, 40 WPM") << 44100.0 << 40.0;
    }

    void parisTiming()
    {
        QFETCH(double, rate);
        QFETCH(double, wpm);
        cwgen::KeyingSettings settings;
        settings.sampleRate = rate;
        settings.wordsPerMinute = wpm;
        settings.pitchHz = 1000;
        const double unit = 1.2 / wpm;
        const std::vector<float> samples = cwgen::keyTransmissions({"PARIS"}, settings);
        const double expectedLength = (2 * settings.leadSeconds + 43 * unit) * rate;
        QVERIFY(std::abs(double(samples.size()) - expectedLength) <= 1);
        // Each of the 28 raised-cosine edges of 5 ms carries 3/8 of its length's energy, where
        // a hard edge would carry half.
        const double keyed = keyedSeconds(samples, settings) + 28 * 0.005 / 8;
        QVERIFY2(std::abs(keyed - 22 * unit) < 0.001, qPrintable(QString::number(keyed)));
    }

    void lineGapsAndUnknownCharacters()
    {
        cwgen::KeyingSettings settings;
        settings.gapSeconds = 2;
        const double unit = 1.2 / settings.wordsPerMinute;
        // "E E" is dot, word gap, dot; the unknown "#" counts as a word gap.
        const std::size_t twoLines = cwgen::keyTransmissions({"E", "E"}, settings).size();
        const std::size_t oneLine = cwgen::keyTransmissions({"E#E"}, settings).size();
        QVERIFY(std::abs(double(twoLines) - (2 + 2 * unit + 2) * 8000) <= 1);
        QVERIFY(std::abs(double(oneLine) - (2 + 9 * unit) * 8000) <= 1);
    }

    // Noise power in 3 kHz = key-down carrier power / SNR, whatever the rate.
    void noisePowerInThreeKilohertz_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("snr");
        QTest::newRow("8 kHz, 0 dB") << 8000.0 << 0.0;
        QTest::newRow("48 kHz, -10 dB") << 48000.0 << -10.0;
        QTest::newRow("22.05 kHz, +6 dB") << 22050.0 << 6.0;
    }

    void noisePowerInThreeKilohertz()
    {
        QFETCH(double, rate);
        QFETCH(double, snr);
        cwgen::KeyingSettings settings;
        settings.sampleRate = rate;
        settings.snrDb = snr;
        settings.leadSeconds = 2;
        const std::vector<float> noise = cwgen::keyTransmissions({}, settings);
        const double power = std::inner_product(noise.begin(), noise.end(), noise.begin(), 0.0) /
                             double(noise.size());
        const double inThreeKilohertz = power * 3000 / (rate / 2);
        const double carrier = settings.amplitude * settings.amplitude / 2;
        const double measuredSnr = 10 * std::log10(carrier / inThreeKilohertz);
        QVERIFY2(std::abs(measuredSnr - snr) < 0.1, qPrintable(QString::number(measuredSnr)));
    }

    // A steady carrier holds its level over the beacon's key-down power and its frequency, and
    // nothing else is on the air.
    void steadyCarrier_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("offset");
        QTest::addColumn<double>("level");
        QTest::newRow("400 Hz above, 10 dB stronger") << 8000.0 << 400.0 << 10.0;
        QTest::newRow("500 Hz below, equally strong") << 8000.0 << -500.0 << 0.0;
        QTest::newRow("900 Hz above, 20 dB stronger, 48 kHz") << 48000.0 << 900.0 << 20.0;
        QTest::newRow("1300 Hz above, 20 dB weaker, 44.1 kHz") << 44100.0 << 1300.0 << -20.0;
    }

    void steadyCarrier()
    {
        QFETCH(double, rate);
        QFETCH(double, offset);
        QFETCH(double, level);
        cwgen::KeyingSettings settings;
        settings.sampleRate = rate;
        settings.carriers.push_back({offset, level});
        const std::vector<float> samples = cwgen::keyTransmissions({}, settings);
        const double hz = settings.pitchHz + offset;
        const double power = std::norm(tone(samples, rate, hz)) / 2;
        QVERIFY2(std::abs(toDb(power / carrierPower(settings)) - level) < 0.05,
                 qPrintable(QString::number(toDb(power / carrierPower(settings)))));
        const double total =
            std::inner_product(samples.begin(), samples.end(), samples.begin(), 0.0) /
            double(samples.size());
        QVERIFY(std::abs(toDb(total / power)) < 0.05);
        QVERIFY2(std::abs(zeroCrossingHz(samples, rate) - hz) < 0.1,
                 qPrintable(QString::number(zeroCrossingHz(samples, rate))));
    }

    // Shaped noise: the SNR holds at the beacon's pitch, the hump stands its height above the
    // density there, and beyond the passband the noise falls away.
    void shapedNoise_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("snr");
        QTest::addColumn<double>("humpDb");
        QTest::addColumn<double>("humpHz");
        QTest::newRow("15 dB hump 550 Hz above, 0 dB") << 8000.0 << 0.0 << 15.0 << 1250.0;
        QTest::newRow("25 dB hump 550 Hz above, -6 dB") << 8000.0 << -6.0 << 25.0 << 1250.0;
        QTest::newRow("10 dB hump 350 Hz below, 48 kHz") << 48000.0 << 3.0 << 10.0 << 350.0;
        QTest::newRow("passband alone, 44.1 kHz") << 44100.0 << 10.0 << 0.0 << 1250.0;
    }

    void shapedNoise()
    {
        QFETCH(double, rate);
        QFETCH(double, snr);
        QFETCH(double, humpDb);
        QFETCH(double, humpHz);
        cwgen::KeyingSettings settings;
        settings.sampleRate = rate;
        settings.snrDb = snr;
        settings.leadSeconds = rate > 8000 ? 6 : 15;
        settings.noiseShape.shaped = true;
        settings.noiseShape.humpDb = humpDb;
        settings.noiseShape.humpHz = humpHz;
        const std::vector<float> noise = cwgen::keyTransmissions({}, settings);
        const double atPitch = density(noise, rate, settings.pitchHz, 40);
        const double measuredSnr = toDb(carrierPower(settings) / (atPitch * 3000));
        QVERIFY2(std::abs(measuredSnr - snr) < 0.5, qPrintable(QString::number(measuredSnr)));
        const double hump = toDb(density(noise, rate, humpHz, 6) / atPitch);
        QVERIFY2(std::abs(hump - humpDb) < 0.7, qPrintable(QString::number(hump)));
        const double outside = toDb(density(noise, rate, 3200, 40) / atPitch);
        QVERIFY2(outside < -30, qPrintable(QString::number(outside)));
    }

    // Sine fading: the carrier's level dash by dash spans the stated depth below the unfaded
    // level.
    void sineFading_data()
    {
        QTest::addColumn<double>("depth");
        QTest::addColumn<double>("period");
        QTest::newRow("12 dB, 5 s") << 12.0 << 5.0;
        QTest::newRow("8 dB, 3 s") << 8.0 << 3.0;
        QTest::newRow("30 dB, 10 s") << 30.0 << 10.0;
    }

    void sineFading()
    {
        QFETCH(double, depth);
        QFETCH(double, period);
        cwgen::KeyingSettings settings;
        settings.fadingDepthDb = depth;
        settings.fadingPeriodSeconds = period;
        std::vector<double> middles;
        const QString text = dashes(int(2 * period / 0.36) + 1, settings, middles);
        const std::vector<float> samples = cwgen::keyTransmissions({text}, settings);
        double strongest = 0;
        double weakest = 1e9;
        for (const double middle : middles) {
            const double amplitude =
                std::abs(tone(dashAt(samples, settings, middle), 8000, settings.pitchHz));
            strongest = std::max(strongest, amplitude);
            weakest = std::min(weakest, amplitude);
        }
        QVERIFY(std::abs(20 * std::log10(strongest / settings.amplitude)) < 0.2);
        const double measured = 20 * std::log10(strongest / weakest);
        QVERIFY2(std::abs(measured - depth) < 0.5, qPrintable(QString::number(measured)));
    }

    // Rayleigh fading: the carrier's mean power is the unfaded one (the SNR is the mean), and it
    // spends about 1 - exp(-0.1) = 9.5 % of the time 10 dB or more below it.
    void rayleighFading_data()
    {
        QTest::addColumn<double>("spread");
        QTest::addColumn<std::uint32_t>("seed");
        QTest::newRow("0.2 Hz") << 0.2 << 7u;
        QTest::newRow("1 Hz") << 1.0 << 8u;
    }

    void rayleighFading()
    {
        QFETCH(double, spread);
        QFETCH(std::uint32_t, seed);
        cwgen::KeyingSettings settings;
        settings.wordsPerMinute = 30;
        settings.rayleighSpreadHz = spread;
        settings.seed = seed;
        std::vector<double> middles;
        const QString text = dashes(3000, settings, middles);
        const std::vector<float> samples = cwgen::keyTransmissions({text}, settings);
        double power = 0;
        int deep = 0;
        for (const double middle : middles) {
            const double relative =
                std::norm(tone(dashAt(samples, settings, middle), 8000, settings.pitchHz)) /
                (settings.amplitude * settings.amplitude);
            power += relative;
            deep += relative < 0.1 ? 1 : 0;
        }
        const double meanDb = toDb(power / double(middles.size()));
        QVERIFY2(std::abs(meanDb) < 1.0, qPrintable(QString::number(meanDb)));
        const double deepShare = double(deep) / double(middles.size());
        QVERIFY2(deepShare > 0.06 && deepShare < 0.14, qPrintable(QString::number(deepShare)));
    }

    // A Doppler pass: the pitch crosses its nominal value at mid-pass, falling there at the
    // stated slope, and starts near the shift above it.
    void dopplerPass_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("shift");
        QTest::addColumn<double>("slope");
        QTest::newRow("500 Hz, 60 Hz/s") << 8000.0 << 500.0 << 60.0;
        QTest::newRow("300 Hz, 20 Hz/s, 48 kHz") << 48000.0 << 300.0 << 20.0;
    }

    void dopplerPass()
    {
        QFETCH(double, rate);
        QFETCH(double, shift);
        QFETCH(double, slope);
        cwgen::KeyingSettings settings;
        settings.sampleRate = rate;
        settings.wordsPerMinute = 5;
        settings.pitchHz = 1000;
        settings.doppler.shiftHz = shift;
        settings.doppler.slopeHzPerSecond = slope;
        std::vector<double> middles;
        // An even number of dashes: two lie either side of mid-pass at the same distance.
        const QString text = dashes(40, settings, middles);
        const std::vector<float> samples = cwgen::keyTransmissions({text}, settings);
        const auto hzAt = [&](std::size_t dash) {
            return zeroCrossingHz(dashAt(samples, settings, middles[dash]), rate);
        };
        // The signal's middle is the middle of the gap after dash 19; dashes 19 and 20 lie
        // symmetrically around it.
        const double before = hzAt(19);
        const double after = hzAt(20);
        QVERIFY2(std::abs((before + after) / 2 - settings.pitchHz) < 0.5,
                 qPrintable(QString::number((before + after) / 2)));
        const double measuredSlope = (after - before) / (middles[20] - middles[19]);
        QVERIFY2(std::abs(measuredSlope + slope) < 0.05 * slope,
                 qPrintable(QString::number(measuredSlope)));
        const double start = hzAt(0) - settings.pitchHz;
        QVERIFY2(start > 0.8 * shift && start < shift, qPrintable(QString::number(start)));
    }

    // The other station keys without pause (no key-up longer than a word gap) at its level and
    // its frequency.
    void otherStation_data()
    {
        QTest::addColumn<double>("offset");
        QTest::addColumn<double>("wpm");
        QTest::addColumn<double>("level");
        QTest::newRow("150 Hz above, 25 WPM, equally strong") << 150.0 << 25.0 << 0.0;
        QTest::newRow("300 Hz below, 15 WPM, 6 dB weaker") << -300.0 << 15.0 << -6.0;
    }

    void otherStation()
    {
        QFETCH(double, offset);
        QFETCH(double, wpm);
        QFETCH(double, level);
        cwgen::KeyingSettings settings;
        settings.leadSeconds = 15;
        settings.stations.push_back({offset, wpm, level});
        const std::vector<float> samples = cwgen::keyTransmissions({}, settings);
        const double peak = settings.amplitude * std::pow(10.0, level / 20);
        const float loudest =
            std::abs(*std::max_element(samples.begin(), samples.end(),
                                       [](float a, float b) { return std::abs(a) < std::abs(b); }));
        QVERIFY(std::abs(20 * std::log10(loudest / peak)) < 0.01);
        // Keyed 5 ms blocks: the longest key-up and the longest key-down.
        constexpr std::size_t Block = 40;
        std::size_t silent = 0;
        std::size_t longestSilence = 0;
        std::size_t keyed = 0;
        std::size_t longestKeyed = 0;
        std::size_t longestKeyedEnd = 0;
        for (std::size_t at = 0; at + Block <= samples.size(); at += Block) {
            float block = 0;
            for (std::size_t n = at; n < at + Block; ++n)
                block = std::max(block, std::abs(samples[n]));
            const bool on = block > peak / 2;
            silent = on ? 0 : silent + 1;
            keyed = on ? keyed + 1 : 0;
            longestSilence = std::max(longestSilence, silent);
            if (keyed > longestKeyed) {
                longestKeyed = keyed;
                longestKeyedEnd = at;
            }
        }
        const double unit = 1.2 / wpm;
        QVERIFY2(double(longestSilence * Block) / 8000 < 7 * unit + 0.01,
                 qPrintable(QString::number(double(longestSilence * Block) / 8000)));
        const auto dash = std::span<const float>(samples).subspan(
            longestKeyedEnd - (longestKeyed - 2) * Block, (longestKeyed - 3) * Block);
        QVERIFY(std::abs(zeroCrossingHz(dash, 8000) - (settings.pitchHz + offset)) < 2);
    }

    // Clicks: about the stated number a second, each with its stated peak.
    void clicks_data()
    {
        QTest::addColumn<double>("perSecond");
        QTest::addColumn<double>("levelDb");
        QTest::newRow("3 a second, 6 dB over the carrier") << 3.0 << 6.0;
        QTest::newRow("0.5 a second, 20 dB over the carrier") << 0.5 << 20.0;
    }

    void clicks()
    {
        QFETCH(double, perSecond);
        QFETCH(double, levelDb);
        cwgen::KeyingSettings settings;
        settings.leadSeconds = 100;
        settings.clicksPerSecond = perSecond;
        settings.clickLevelDb = levelDb;
        const std::vector<float> samples = cwgen::keyTransmissions({}, settings);
        const double peak = settings.amplitude * std::pow(10.0, levelDb / 20);
        int count = 0;
        double loudest = 0;
        std::size_t lastLoud = 0;
        for (std::size_t n = 0; n < samples.size(); ++n) {
            loudest = std::max(loudest, double(std::abs(samples[n])));
            if (std::abs(samples[n]) > peak / 2) {
                count += (count == 0 || n - lastLoud > 16) ? 1 : 0;
                lastLoud = n;
            }
        }
        const double expected = perSecond * 200;
        QVERIFY2(std::abs(count - expected) < 4 * std::sqrt(expected),
                 qPrintable(QString::number(count)));
        QVERIFY(loudest >= 0.999 * peak);
    }

    // The carrier's phase steps between elements by about the stated spread, and not at all
    // without wander.
    void phaseWander_data()
    {
        QTest::addColumn<double>("wander");
        QTest::newRow("none") << 0.0;
        QTest::newRow("0.3 rad") << 0.3;
        QTest::newRow("1 rad") << 1.0;
    }

    void phaseWander()
    {
        QFETCH(double, wander);
        cwgen::KeyingSettings settings;
        settings.wordsPerMinute = 30;
        settings.phaseWanderRadians = wander;
        std::vector<double> middles;
        const QString text = dashes(600, settings, middles);
        const std::vector<float> samples = cwgen::keyTransmissions({text}, settings);
        std::vector<double> phases;
        for (const double middle : middles) {
            const std::span<const float> dash = dashAt(samples, settings, middle);
            const double start = double(dash.data() - samples.data()) / 8000;
            phases.push_back(std::arg(tone(dash, 8000, settings.pitchHz)) -
                             2 * std::numbers::pi * settings.pitchHz * start);
        }
        double squares = 0;
        for (std::size_t i = 1; i < phases.size(); ++i) {
            const double step = std::remainder(phases[i] - phases[i - 1], 2 * std::numbers::pi);
            squares += step * step;
        }
        const double spread = std::sqrt(squares / double(phases.size() - 1));
        QVERIFY2(std::abs(spread - wander) < 0.01 + 0.1 * wander,
                 qPrintable(QString::number(spread)));
    }

    // Every impairment at once, twice from one seed: the same samples; and adding one
    // impairment leaves the others' samples as they were.
    void impairmentsCombineDeterministically()
    {
        cwgen::KeyingSettings settings;
        settings.snrDb = 0;
        settings.seed = 17;
        settings.noiseShape.shaped = true;
        settings.noiseShape.humpDb = 10;
        settings.fadingDepthDb = 8;
        settings.fadingPeriodSeconds = 5;
        settings.rayleighSpreadHz = 0.2;
        settings.stations.push_back({150, 25, -6});
        settings.clicksPerSecond = 3;
        settings.doppler.shiftHz = 400;
        settings.phaseWanderRadians = 0.5;
        const QStringList text{QStringLiteral("QT7XMRKT3HKD 28 01")};
        const std::vector<float> first = cwgen::keyTransmissions(text, settings);
        QVERIFY(first == cwgen::keyTransmissions(text, settings));

        cwgen::KeyingSettings withCarrier = settings;
        withCarrier.carriers.push_back({600, 6});
        const std::vector<float> second = cwgen::keyTransmissions(text, withCarrier);
        QCOMPARE(second.size(), first.size());
        std::vector<float> difference(first.size());
        for (std::size_t n = 0; n < first.size(); ++n)
            difference[n] = second[n] - first[n];
        const double differencePower =
            std::inner_product(difference.begin(), difference.end(), difference.begin(), 0.0) /
            double(difference.size());
        QVERIFY(std::abs(toDb(differencePower / carrierPower(settings)) - 6) < 0.05);

        withCarrier.seed = 18;
        QVERIFY(second != cwgen::keyTransmissions(text, withCarrier));
    }

    // Each impairment option of tovrin3-cwgen reaches its setting: the file holds the samples
    // the library makes from the settings.
    void programOptions_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<cwgen::KeyingSettings>("settings");
        cwgen::KeyingSettings base;
        base.seed = 9;
        cwgen::KeyingSettings carriers = base;
        carriers.carriers = {{400, -3}, {-200, -10}};
        carriers.stations = {{150, 25, -6}};
        QTest::newRow("carriers and a station")
            << QStringList{"--carrier", "400,-3", "--carrier", "-200,-10", "--station", "150,25,-6"}
            << carriers;
        cwgen::KeyingSettings shaped = base;
        shaped.snrDb = 6;
        shaped.noiseShape = {true, 200, 2800, 15, 1250, 150};
        QTest::newRow("shaped noise")
            << QStringList{"--snr", "6", "--hump", "15,1250,150", "--passband", "200,2800"}
            << shaped;
        cwgen::KeyingSettings fading = base;
        fading.snrDb = 10;
        fading.rayleighSpreadHz = 0.2;
        fading.fadingPeriodSeconds = 5;
        fading.fadingDepthDb = 8;
        QTest::newRow("fading") << QStringList{"--snr",           "10", "--rayleigh",     "0.2",
                                               "--fading-period", "5",  "--fading-depth", "8"}
                                << fading;
        cwgen::KeyingSettings pass = base;
        pass.clicksPerSecond = 3;
        pass.clickLevelDb = -2;
        pass.doppler = {400, 60, 2};
        pass.phaseWanderRadians = 0.5;
        QTest::newRow("clicks, a Doppler pass and phase wander")
            << QStringList{"--clicks",  "3",        "--click-level",  "-2",
                           "--doppler", "400,60,2", "--phase-wander", "0.5"}
            << pass;
    }

    void programOptions()
    {
        QFETCH(QStringList, options);
        QFETCH(cwgen::KeyingSettings, settings);
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        const QString path = directory.filePath(QStringLiteral("signal.wav"));
        QCOMPARE(runGenerator(QStringList{path, "TEST DE QT7X", "--seed", "9"} + options), 0);
        const std::vector<float> written = readWav(path);
        const std::vector<float> made = cwgen::keyTransmissions({"TEST DE QT7X"}, settings);
        QCOMPARE(written.size(), made.size());
        for (std::size_t n = 0; n < made.size(); ++n) {
            const float expected = std::clamp(made[n], -1.0f, 1.0f);
            if (std::abs(written[n] - expected) > 2e-4f)
                QFAIL(qPrintable(QStringLiteral("sample %1: %2 against %3")
                                     .arg(n)
                                     .arg(written[n])
                                     .arg(expected)));
        }
    }

    void programRefusesBadOptions_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("carrier without its level") << QStringList{"--carrier", "400"};
        QTest::newRow("hump height no number") << QStringList{"--hump", "10,abc"};
        QTest::newRow("station above half the rate") << QStringList{"--station", "3500,20,0"};
        QTest::newRow("Doppler shift below 0 Hz") << QStringList{"--doppler", "800,60"};
        QTest::newRow("passband without the pitch") << QStringList{"--passband", "800,2700"};
        QTest::newRow("negative click rate") << QStringList{"--clicks", "-1"};
        QTest::newRow("Rayleigh spread no number") << QStringList{"--rayleigh", "nan"};
    }

    void programRefusesBadOptions()
    {
        QFETCH(QStringList, options);
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        const QString path = directory.filePath(QStringLiteral("signal.wav"));
        QCOMPARE(runGenerator(QStringList{path, "TEST"} + options), 2);
        QVERIFY(!QFile::exists(path));
    }

    void sameSeedSameSignal()
    {
        cwgen::KeyingSettings settings;
        settings.snrDb = 0;
        settings.seed = 5;
        const std::vector<float> first = cwgen::keyTransmissions({"TEST"}, settings);
        QVERIFY(first == cwgen::keyTransmissions({"TEST"}, settings));
        settings.seed = 6;
        QVERIFY(first != cwgen::keyTransmissions({"TEST"}, settings));
    }

    void beaconLineShape()
    {
        std::mt19937 random(1);
        const QRegularExpression frame(QStringLiteral("^QT7XMRKT3HKD( [0-9A-F]{2}){9}$"));
        for (int i = 0; i < 50; ++i) {
            const QString line = cwgen::randomBeaconLine(random);
            QVERIFY2(frame.match(line).hasMatch(), qPrintable(line));
            QVERIFY(morse::isFrameShaped(line));
        }
    }

    void frameShape_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("shaped");
        QTest::newRow("frame") << "QT7XMRKT3HKD 28 01 64 01 0C 80 00 A5 03" << true;
        QTest::newRow("frame without spaces") << "QT7XMRKT3HKD28016401 0C8000A503" << true;
        QTest::newRow("18 characters, no header") << "EEEEEE TTTTTT IIIIII" << true;
        QTest::newRow("one digit short") << "QT7XMRKT3HKD 28 01 64 01 0C 80 00 A5 0" << false;
        QTest::newRow("one digit more") << "QT7XMRKT3HKD 28 01 64 01 0C 80 00 A5 03 1" << false;
        QTest::newRow("header alone") << "QT7XMRKT3HKD" << false;
        QTest::newRow("empty") << "" << false;
    }

    void frameShape()
    {
        QFETCH(QString, line);
        QFETCH(bool, shaped);
        QCOMPARE(morse::isFrameShaped(line), shaped);
    }

    void wavFile()
    {
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        const QString path = directory.filePath(QStringLiteral("signal.wav"));
        const std::vector<float> samples{0.0f, 0.5f, -0.5f, 2.0f};
        QVERIFY(cwgen::writeWav(path, samples, 8000));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        QVERIFY(data.startsWith("RIFF"));
        QCOMPARE(data.mid(8, 4), QByteArray("WAVE"));
        QVERIFY(data.size() >= 44 + 8);
        // Out-of-range samples clip instead of wrapping round.
        const auto last =
            qint16(quint8(data.at(data.size() - 2)) | (quint8(data.at(data.size() - 1)) << 8));
        QCOMPARE(last, qint16(32767));
        QVERIFY(!cwgen::writeWav(directory.filePath(QStringLiteral("missing/signal.wav")), samples,
                                 8000));
    }
};

QTEST_GUILESS_MAIN(CwSignalTest)
#include "tst_cwsignal.moc"
