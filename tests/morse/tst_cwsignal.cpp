// SPDX-License-Identifier: GPL-3.0-or-later
#include "cwsignal.h"
#include "morsecode.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <numeric>

using namespace tovrin3;

namespace {

// Key-down time from the signal's energy: the carrier's power is amplitude^2 / 2.
double keyedSeconds(const std::vector<float> &samples, const cwgen::KeyingSettings &settings)
{
    const double energy = std::inner_product(samples.begin(), samples.end(), samples.begin(), 0.0);
    return energy / (settings.amplitude * settings.amplitude / 2) / settings.sampleRate;
}

} // namespace

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

    void alphabet()
    {
        QCOMPARE(morse::morseElements(QLatin1Char('q')), std::string_view("--.-"));
        QCOMPARE(morse::morseElements(QLatin1Char('0')), std::string_view("-----"));
        QCOMPARE(morse::morseElements(QLatin1Char('/')), std::string_view("-..-."));
        QVERIFY(morse::morseElements(QLatin1Char('#')).empty());
        QVERIFY(morse::morseElements(QChar(0x00e9)).empty());
        // No two characters share a code.
        const auto symbols = morse::morseAlphabet();
        for (std::size_t i = 0; i < symbols.size(); ++i) {
            for (std::size_t j = i + 1; j < symbols.size(); ++j)
                QVERIFY(symbols[i].elements != symbols[j].elements);
        }
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
