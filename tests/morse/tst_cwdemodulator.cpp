// SPDX-License-Identifier: GPL-3.0-or-later
// End to end: the stages together, one row per impairment of the band. What each stage does on
// its own is that stage's test.
#include "cwtesting.h"
#include "morsecode.h"
#include "morsetesting.h"

#include <QLocale>
#include <QTest>

#include <algorithm>

using namespace tovrin3;
using morse::CopiedLine;
using morse::CwDemodulator;
using testing::copyLines;
using testing::impaired;
using testing::lineTexts;

namespace {

// The rows' short names for the shared helpers: keying(rate, wpm, pitch), beaconLines(count, seed).
constexpr auto keying = &testing::cwTestKeying;
constexpr auto beaconLines = &testing::beaconFrames;

void append(std::vector<float> &samples, const std::vector<float> &more)
{
    samples.insert(samples.end(), more.begin(), more.end());
}

} // namespace

class CwDemodulatorTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    // One row per impairment, each well above the weakest signal the benchmark measures for it:
    // every line is copied exact, and every frame sure but `mayMiss`; beside another station,
    // whose text comes out on lines of its own, no frame passed as sure was not sent.
    void impairments_data()
    {
        QTest::addColumn<std::vector<float>>("samples");
        QTest::addColumn<double>("rate");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<int>("mayMiss");
        QTest::addColumn<bool>("alone");
        const auto row = [](const char *name, const cwgen::KeyingSettings &settings,
                            const QStringList &sent, int mayMiss = 0, bool alone = true) {
            QTest::newRow(name) << cwgen::keyTransmissions(sent, settings) << settings.sampleRate
                                << sent << mayMiss << alone;
        };
        row("white noise, -3 dB, drifting",
            impaired(-3, 21, [](auto &s) { s.driftHzPerSecond = 0.5; }), beaconLines(2, 21));
        // The pitch bends tens of hertz off any straight line within a frame: only a track that
        // follows it holds the carrier.
        row("-3 dB, a pass's middle, 60 Hz/s",
            impaired(-3, 27, [](auto &s) { s.doppler.shiftHz = 500; }), beaconLines(1, 27));
        // Each element in a phase of its own: the body is chosen by its characters' scores, but
        // must still be read as a frame, not as text.
        row("0 dB, the phase turning from element to element",
            impaired(0, 29, [](auto &s) { s.phaseWanderRadians = 1; }), beaconLines(1, 29));
        cwgen::KeyingSettings fading = keying(8000, 20, 900);
        fading.snrDb = 6;
        fading.fadingPeriodSeconds = 7;
        fading.fadingDepthDb = 12;
        row("6 dB, slow fading of 12 dB", fading, beaconLines(1, 11));
        // Fades that hold the keying under the presence's level for longer than the break in the
        // middle of the first frame: the frame is one line all the same, if doubtful.
        fading = impaired(6);
        fading.fadingPeriodSeconds = 5;
        fading.fadingDepthDb = 20;
        row("6 dB, fading of 20 dB, longer than the break", fading, beaconLines(2, 1), 1);
        // A carrier that never keys, there from the first sample, is background: it neither
        // starts nor holds a transmission, and does not draw the pitch. At 55 Hz it is inside the
        // baseband's passband: only cancelling it keeps it off the keying. (Far carriers are the
        // canceller's and the noise floor's rows.)
        row("0 dB, a carrier 55 Hz off, 30 dB stronger",
            impaired(0, 51,
                     [](auto &s) {
                         s.carriers.push_back({55, 30});
                     }),
            beaconLines(2, 51));
        // Another station keying without pause close to the beacon draws the trace away in the
        // middle of frames: such a frame is read again on its own trace or passed as doubtful.
        // It also holds the transmission open until it is cut for length, 150 s in: the frame
        // under way at the cut is copied whole all the same, and so is every frame after it.
        // Equally strong 300 Hz away, it can hold the path for half the transmission: the
        // beacon's trace must still be found beside it, or the frames read on the other are lost.
        for (const auto &[offset, level, seed, frames, mayMiss] :
             {std::tuple{150.0, -6.0, 31u, 6, 2},
              {150.0, 0.0, 7u, 12, 0},
              {300.0, 0.0, 106u, 10, 0}}) {
            const cwgen::KeyingSettings station = impaired(0, seed, [&](auto &s) {
                s.stations.push_back({offset, 25.0, level});
            });
            row(qPrintable(QStringLiteral("0 dB, a station %1 Hz off at %2 dB, %3 frames")
                               .arg(offset)
                               .arg(level)
                               .arg(frames)),
                station, beaconLines(frames, seed), mayMiss, false);
        }
        row("0 dB, 3 clicks a second", impaired(0, 61, [](auto &s) { s.clicksPerSecond = 3; }),
            beaconLines(2, 61));
        // A sample far out of the signal's range (1e20 in a float recording) costs only its
        // moment, inside a transmission and in the pause after it.
        std::vector<float> impulses = testing::cwTestSignal(8000, testing::CwShortTransmissions);
        impulses[8000 + 2000] = impulses[impulses.size() / 2] = 1e20f;
        QTest::newRow("samples of 1e20")
            << impulses << 8000.0 << testing::CwShortTransmissions << 0 << true;
        // Speed changes between transmissions.
        std::vector<float> speeds;
        append(speeds, cwgen::keyTransmissions({"QRS PSE"}, keying(16000, 12, 700)));
        append(speeds, cwgen::keyTransmissions(beaconLines(1, 9), keying(16000, 35, 700)));
        append(speeds, cwgen::keyTransmissions({"QRQ 35"}, keying(16000, 18, 700)));
        QTest::newRow("12, 35 and 18 WPM")
            << speeds << 16000.0 << (QStringList{"QRS PSE"} << beaconLines(1, 9) << "QRQ 35") << 0
            << true;
        // Digital silence (a capture that starts before the receiver plays, a recorder's gap)
        // sets no noise floor, and the end of the noise is no keying.
        const QStringList lines = beaconLines(2, 53);
        cwgen::KeyingSettings loud = impaired(20, 53);
        loud.sampleRate = 16000;
        loud.wordsPerMinute = 40;
        const std::vector<float> pass = cwgen::keyTransmissions(lines, loud);
        for (const double seconds : {0.1, 4.0}) {
            const std::vector<float> silence(std::size_t(seconds * 16000), 0.0f);
            std::vector<float> samples = silence;
            for (const auto &part : {pass, silence, pass, silence})
                append(samples, part);
            QTest::addRow("digital silence of %g s around", seconds)
                << samples << 16000.0 << lines + lines << 0 << true;
        }
    }

    void impairments()
    {
        QFETCH(std::vector<float>, samples);
        QFETCH(double, rate);
        QFETCH(QStringList, sent);
        QFETCH(int, mayMiss);
        QFETCH(bool, alone);
        const std::vector<CopiedLine> copied = copyLines(samples, rate);
        if (alone)
            QCOMPARE(lineTexts(copied), sent);
        QStringList sure;
        for (const CopiedLine &line : copied) {
            if (morse::isFrameShaped(line.text) && !line.doubtful)
                sure << line.text;
            // Another station's text is read on its own trace, never mixed with the beacon's.
            if (!morse::isFrameShaped(line.text))
                QVERIFY2(!line.text.contains(u"T3H"), qPrintable(line.text));
        }
        // In the order sent, none twice.
        qsizetype at = 0;
        for (const QString &frame : sure) {
            at = sent.indexOf(frame, at) + 1;
            QVERIFY2(at > 0, qPrintable(frame));
        }
        QVERIFY2(sure.size() >= std::ranges::count_if(sent, morse::isFrameShaped) - mayMiss,
                 qPrintable(QString::number(sure.size())));
    }

    void noiseAloneMakesNoFrames()
    {
        // Three minutes of noise.
        const auto noise = impaired(0, 99, [](auto &s) { s.leadSeconds = 90; });
        for (const CopiedLine &line : copyLines(cwgen::keyTransmissions({}, noise), 8000))
            QVERIFY2(!morse::isFrameShaped(line.text), qPrintable(line.text));
    }

    void streamCutAnywhere_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<QList<int>>("chunks");
        // Pieces around the resampler's and the spectra's block sizes, and single samples.
        QTest::newRow("8 kHz") << 8000.0 << QList{1, 255, 257};
        QTest::newRow("44.1 kHz") << 44100.0 << QList{7, 4095, 4096, 4097};
    }

    void streamCutAnywhere()
    {
        QFETCH(double, rate);
        QFETCH(QList<int>, chunks);
        cwgen::KeyingSettings settings = keying(rate, 35, 800);
        settings.snrDb = 3;
        settings.gapSeconds = 2;
        const QStringList lines = QStringList{"DE KAMO"} << beaconLines(1, 31);
        const std::vector<float> samples = cwgen::keyTransmissions(lines, settings);
        const std::vector<CopiedLine> whole = copyLines(samples, rate);
        QCOMPARE(lineTexts(whole), lines);
        for (const int chunk : chunks) {
            const std::vector<CopiedLine> cut = copyLines(samples, rate, std::size_t(chunk));
            QVERIFY2(lineTexts(cut) == lines, qPrintable(QString::number(chunk)));
            for (std::size_t i = 0; i < whole.size(); ++i)
                QCOMPARE(cut[i].startSeconds, whole[i].startSeconds);
        }
    }

    void pendingTextAndFinish()
    {
        const QStringList lines = beaconLines(1, 41);
        cwgen::KeyingSettings settings = keying(8000, 25, 750);
        settings.leadSeconds = 0.5;
        const std::vector<float> samples = cwgen::keyTransmissions(lines, settings);
        // Cut right after the last element: no break follows, finish() must end the line.
        const auto keyed = std::span(samples).first(samples.size() - 3800);
        CwDemodulator demodulator(8000);
        const auto pitchAndSpeed = [&demodulator] {
            return std::abs(demodulator.pitchHz() - 750) < 5 &&
                   std::abs(demodulator.wordsPerMinute() - 25) < 0.5;
        };
        demodulator.process(keyed.first(keyed.size() / 2));
        QVERIFY(demodulator.takeLines().empty());
        QVERIFY2(demodulator.pendingText().startsWith("QT7XMRKT3HKD"),
                 qPrintable(demodulator.pendingText()));
        QVERIFY(pitchAndSpeed());
        demodulator.process(keyed.subspan(keyed.size() / 2));
        demodulator.finish();
        QCOMPARE(lineTexts(demodulator.takeLines()), lines);
        QCOMPARE(demodulator.pendingText(), QString());
        QVERIFY(pitchAndSpeed());
    }

    // A held pitch picks the weaker of two keyings and stays where the user put it, 10 Hz off
    // the keying it holds; the pitch is followed all the while, so releasing shows it.
    void heldPitch()
    {
        cwgen::KeyingSettings strong = keying(8000, 20, 600);
        strong.snrDb = 20;
        cwgen::KeyingSettings weak = keying(8000, 20, 1300);
        weak.amplitude = 0.1;
        CwDemodulator demodulator(8000);
        demodulator.lockPitch(1290);
        demodulator.process(testing::mixed(cwgen::keyTransmissions({"STRONG"}, strong),
                                           cwgen::keyTransmissions({"WEAK"}, weak)));
        demodulator.finish();
        QCOMPARE(lineTexts(demodulator.takeLines()), QStringList{"WEAK"});
        QCOMPARE(demodulator.pitchHz(), 1290.0);
        demodulator.releasePitch();
        QVERIFY_NEAR(demodulator.pitchHz(), 1300, 5);
    }
};

QTEST_GUILESS_MAIN(CwDemodulatorTest)
#include "tst_cwdemodulator.moc"
