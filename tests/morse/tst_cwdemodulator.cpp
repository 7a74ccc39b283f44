// SPDX-License-Identifier: GPL-3.0-or-later
#include "cwtesting.h"
#include "morsecode.h"

#include <QHash>
#include <QLocale>
#include <QTest>

#include <algorithm>

using namespace tovrin3;
using morse::CopiedLine;
using morse::CwDemodulator;
using testing::copyLines;
using testing::lineTexts;

namespace {

// A stretch of the pass keyed with one set of settings; several make up a signal.
struct Segment
{
    cwgen::KeyingSettings settings;
    QStringList lines;
};

std::vector<float> keySegments(const QList<Segment> &segments)
{
    std::vector<float> samples;
    for (const Segment &segment : segments) {
        const std::vector<float> part = cwgen::keyTransmissions(segment.lines, segment.settings);
        samples.insert(samples.end(), part.begin(), part.end());
    }
    return samples;
}

// The rows' short names for the shared helpers: keying(rate, wpm, pitch), beaconLines(count, seed).
constexpr auto keying = &testing::cwTestKeying;
constexpr auto beaconLines = &testing::beaconFrames;

} // namespace

Q_DECLARE_METATYPE(Segment)

class CwDemodulatorTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void cleanSignal_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("wpm");
        QTest::addColumn<double>("pitch");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("frame, 8 kHz, 20 WPM, 700 Hz")
            << 8000.0 << 20.0 << 700.0 << beaconLines(1, 1);
        QTest::newRow("frame, 44.1 kHz, 25 WPM, 450 Hz")
            << 44100.0 << 25.0 << 450.0 << beaconLines(1, 2);
        QTest::newRow("frame, 48 kHz, 30 WPM, 1200 Hz")
            << 48000.0 << 30.0 << 1200.0 << beaconLines(1, 3);
        QTest::newRow("frame, 4 kHz, 20 WPM, 1500 Hz")
            << 4000.0 << 20.0 << 1500.0 << beaconLines(1, 12);
        QTest::newRow("header with other text after it")
            << 8000.0 << 20.0 << 650.0 << QStringList{"QT7XMRKT3HKD HELLO WORLD"};
        QTest::newRow("frame between other lines")
            << 8000.0 << 24.0 << 600.0
            << (QStringList{"VVV"} << beaconLines(1, 4) << QStringList{"SK"});
    }

    void cleanSignal()
    {
        QFETCH(double, rate);
        QFETCH(double, wpm);
        QFETCH(double, pitch);
        QFETCH(QStringList, lines);
        const cwgen::KeyingSettings settings = keying(rate, wpm, pitch);
        const std::vector<float> samples = cwgen::keyTransmissions(lines, settings);
        const std::vector<CopiedLine> copied = copyLines(samples, rate);
        QCOMPARE(lineTexts(copied), lines);
        QVERIFY2(std::abs(copied.front().startSeconds - settings.leadSeconds) < 0.01,
                 qPrintable(QString::number(copied.front().startSeconds)));
        // A clean frame is sure; other text carries no confidence.
        for (const CopiedLine &line : copied) {
            QCOMPARE(line.frameConfidence.has_value(), morse::isFrameShaped(line.text));
            QVERIFY(!line.doubtful);
            if (line.frameConfidence)
                QVERIFY2(*line.frameConfidence > 0.999,
                         qPrintable(QString::number(*line.frameConfidence)));
        }
    }

    void changingConditions_data()
    {
        QTest::addColumn<QList<Segment>>("segments");
        QTest::addColumn<double>("rate");
        QTest::newRow("speed change between transmissions")
            << QList<Segment>{{keying(16000, 12, 700), QStringList{"QRS PSE"}},
                              {keying(16000, 35, 700), beaconLines(1, 9)},
                              {keying(16000, 18, 700), QStringList{"QRQ 35"}}}
            << 16000.0;
        cwgen::KeyingSettings fading = keying(8000, 20, 900);
        fading.snrDb = 6;
        fading.fadingPeriodSeconds = 7;
        fading.fadingDepthDb = 12;
        QTest::newRow("slow fading of 12 dB")
            << QList<Segment>{{fading, beaconLines(1, 11)}} << 8000.0;
        // Fades that hold the keying under the segmenter's level for longer than the break in the
        // middle of the first frame: the frame is one line all the same.
        for (const auto &[depth, snr] : {std::pair{16.0, 3.0}, std::pair{20.0, 6.0}}) {
            cwgen::KeyingSettings deep = keying(8000, 20, 700);
            deep.snrDb = snr;
            deep.fadingPeriodSeconds = 5;
            deep.fadingDepthDb = depth;
            QTest::newRow(
                qPrintable(QStringLiteral("fading of %1 dB, longer than the break, at %2 dB")
                               .arg(depth)
                               .arg(snr)))
                << QList<Segment>{{deep, beaconLines(2, 1)}} << 8000.0;
        }
    }

    void changingConditions()
    {
        QFETCH(QList<Segment>, segments);
        QFETCH(double, rate);
        QStringList expected;
        for (const Segment &segment : segments)
            expected << segment.lines;
        QCOMPARE(lineTexts(copyLines(keySegments(segments), rate)), expected);
    }

    // Well above the weakest signals the benchmark measures, every frame must come out exact and
    // sure, its body keyed in groups or as one word.
    void noisyFramesExact_data()
    {
        QTest::addColumn<double>("snr");
        QTest::addColumn<double>("wpm");
        QTest::addColumn<std::uint32_t>("seed");
        QTest::addColumn<double>("drift"); // Hz per second
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<double>("dopplerHz"); // a pass's shift either side of its middle; 0: none
        QTest::addColumn<double>("phaseWander"); // radians from element to element
        QTest::newRow("-3 dB, 20 WPM")
            << -3.0 << 20.0 << 21u << 0.5 << beaconLines(2, 21) << 0.0 << 0.0;
        QTest::newRow("-6 dB, 12 WPM")
            << -6.0 << 12.0 << 23u << 0.5 << beaconLines(2, 23) << 0.0 << 0.0;
        // The pitch bends tens of hertz off any straight line within a frame: only a track that
        // follows it holds the carrier.
        QTest::newRow("-3 dB, a pass's middle, 60 Hz/s")
            << -3.0 << 20.0 << 27u << 0.0 << beaconLines(1, 27) << 500.0 << 0.0;
        // Each element in a phase of its own: the body is chosen by its characters' scores, but
        // must still be read as a frame, not as text.
        QTest::newRow("0 dB, the phase turning from element to element")
            << 0.0 << 20.0 << 29u << 0.0 << beaconLines(1, 29) << 0.0 << 1.0;
        QStringList oneWord = beaconLines(2, 25);
        for (QString &line : oneWord)
            line = line.left(13) + line.mid(13).remove(u' ');
        QTest::newRow("-3 dB, 20 WPM, one word")
            << -3.0 << 20.0 << 25u << 0.5 << oneWord << 0.0 << 0.0;
        // Keyed down most of the time at a steady pitch, a strong signal lifts the noise floors
        // beside its own bin, each by its own amount.
        QTest::newRow("20 dB, 20 WPM, the sample frame as one word")
            << 20.0 << 20.0 << 1u << 0.0 << QStringList{"QT7XMRKT3HKD 900140010C6A00A503"} << 0.0
            << 0.0;
    }

    void noisyFramesExact()
    {
        QFETCH(double, snr);
        QFETCH(double, wpm);
        QFETCH(std::uint32_t, seed);
        QFETCH(double, drift);
        QFETCH(QStringList, lines);
        QFETCH(double, dopplerHz);
        QFETCH(double, phaseWander);
        cwgen::KeyingSettings settings = keying(8000, wpm, 700);
        settings.phaseWanderRadians = phaseWander;
        settings.driftHzPerSecond = drift;
        settings.doppler.shiftHz = dopplerHz;
        settings.snrDb = snr;
        settings.seed = seed;
        const std::vector<CopiedLine> copied =
            copyLines(cwgen::keyTransmissions(lines, settings), 8000);
        QCOMPARE(lineTexts(copied), lines);
        for (const CopiedLine &line : copied)
            QVERIFY(!line.doubtful);
    }

    // Another station keying without pause close to the beacon draws the trace away in the middle
    // of frames: such a frame is read again on its own trace or passed as doubtful, never passed
    // as sure with the other station's elements in it.
    void otherStationNeverMakesSureWrongFrames_data()
    {
        QTest::addColumn<double>("offset");
        QTest::addColumn<double>("level");
        QTest::addColumn<std::uint32_t>("seed");
        QTest::addColumn<int>("leastExact"); // of 6 frames, passed as sure
        QTest::newRow("150 Hz above, 6 dB weaker") << 150.0 << -6.0 << 31u << 4;
        QTest::newRow("150 Hz below, as strong") << -150.0 << 0.0 << 33u << 4;
    }

    void otherStationNeverMakesSureWrongFrames()
    {
        QFETCH(double, offset);
        QFETCH(double, level);
        QFETCH(std::uint32_t, seed);
        QFETCH(int, leastExact);
        cwgen::KeyingSettings settings = keying(8000, 20, 700);
        settings.snrDb = 0;
        settings.seed = seed;
        settings.stations.push_back({offset, 25.0, level});
        const QStringList sent = beaconLines(6, seed);
        int exactSure = 0;
        for (const CopiedLine &line : copyLines(cwgen::keyTransmissions(sent, settings), 8000)) {
            if (!morse::isFrameShaped(line.text) || line.doubtful)
                continue;
            QVERIFY2(sent.contains(line.text), qPrintable(line.text));
            ++exactSure;
        }
        QVERIFY2(exactSure >= leastExact, qPrintable(QString::number(exactSure)));
    }

    void framesAcrossTheLengthCut_data()
    {
        QTest::addColumn<double>("offset");
        QTest::addColumn<std::uint32_t>("seed");
        QTest::newRow("150 Hz above") << 150.0 << 7u;
        // After the cut the path strays between the two traces: the beacon's trace is read again
        // all the same.
        QTest::newRow("300 Hz above") << 300.0 << 15u;
    }

    // Another station keying without pause holds the transmission open until it is cut for
    // length, 150 s in: the frame under way at the cut is copied whole all the same, and so is
    // every frame after it.
    void framesAcrossTheLengthCut()
    {
        QFETCH(double, offset);
        QFETCH(std::uint32_t, seed);
        cwgen::KeyingSettings settings = keying(8000, 20, 700);
        settings.snrDb = 0;
        settings.seed = seed;
        settings.stations.push_back({offset, 25.0, 0.0});
        const QStringList sent = beaconLines(12, settings.seed);
        QStringList exactSure;
        for (const CopiedLine &line : copyLines(cwgen::keyTransmissions(sent, settings), 8000)) {
            if (morse::isFrameShaped(line.text) && !line.doubtful)
                exactSure << line.text;
        }
        QCOMPARE(exactSure, sent);
    }

    void noiseAloneMakesNoFrames()
    {
        cwgen::KeyingSettings settings = keying(8000, 20, 700);
        settings.snrDb = 0;
        settings.leadSeconds = 90; // three minutes of noise
        settings.seed = 99;
        const std::vector<CopiedLine> lines =
            copyLines(cwgen::keyTransmissions({}, settings), 8000);
        for (const CopiedLine &line : lines)
            QVERIFY2(!morse::isFrameShaped(line.text), qPrintable(line.text));
    }

    void streamCutAnywhere_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("chunk");
        // Pieces around the resampler's and the spectra's block sizes, and single samples.
        QTest::newRow("8 kHz, single samples") << 8000.0 << 1;
        QTest::newRow("8 kHz, 255") << 8000.0 << 255;
        QTest::newRow("8 kHz, 257") << 8000.0 << 257;
        QTest::newRow("44.1 kHz, 7") << 44100.0 << 7;
        QTest::newRow("44.1 kHz, 4095") << 44100.0 << 4095;
        QTest::newRow("44.1 kHz, 4096") << 44100.0 << 4096;
        QTest::newRow("44.1 kHz, 4097") << 44100.0 << 4097;
    }

    void streamCutAnywhere()
    {
        QFETCH(double, rate);
        QFETCH(int, chunk);
        cwgen::KeyingSettings settings = keying(rate, 35, 800);
        settings.snrDb = 3;
        settings.gapSeconds = 2;
        const QStringList lines = QStringList{"DE KAMO"} << beaconLines(1, 31);
        const std::vector<float> samples = cwgen::keyTransmissions(lines, settings);
        static QHash<double, std::vector<CopiedLine>> wholeStreams;
        if (!wholeStreams.contains(rate))
            wholeStreams.insert(rate, copyLines(samples, rate));
        const std::vector<CopiedLine> &whole = wholeStreams[rate];
        const std::vector<CopiedLine> cut = copyLines(samples, rate, std::size_t(chunk));
        QCOMPARE(lineTexts(whole), lines);
        QCOMPARE(lineTexts(cut), lines);
        for (std::size_t i = 0; i < whole.size(); ++i)
            QCOMPARE(cut[i].startSeconds, whole[i].startSeconds);
    }

    void lockedPitchIgnoresStrongerCarrier_data()
    {
        QTest::addColumn<double>("lockedPitch");
        QTest::addColumn<QString>("expected");
        QTest::newRow("locked on the weaker one") << 1300.0 << "WEAK";
    }

    void lockedPitchIgnoresStrongerCarrier()
    {
        QFETCH(double, lockedPitch);
        QFETCH(QString, expected);
        cwgen::KeyingSettings strong = keying(8000, 20, 600);
        strong.snrDb = 20;
        cwgen::KeyingSettings weak = keying(8000, 20, 1300);
        weak.amplitude = 0.1;
        std::vector<float> samples = cwgen::keyTransmissions({"STRONG"}, strong);
        const std::vector<float> other = cwgen::keyTransmissions({"WEAK"}, weak);
        samples.resize(std::max(samples.size(), other.size()), 0.0f);
        for (std::size_t i = 0; i < other.size(); ++i)
            samples[i] += other[i];
        QCOMPARE(lineTexts(copyLines(samples, 8000, 0, lockedPitch)), QStringList{expected});
    }

    void steadyCarrierBesideTheBeacon_data()
    {
        QTest::addColumn<double>("offsetHz");
        QTest::addColumn<double>("levelDb");
        QTest::newRow("400 Hz above, 10 dB stronger") << 400.0 << 10.0;
        QTest::newRow("300 Hz below, 30 dB stronger") << -300.0 << 30.0;
        // Inside the baseband's passband: only cancelling the carrier keeps it off the keying (the
        // canceller's own table holds the other offsets and levels).
        QTest::newRow("55 Hz above, 30 dB stronger") << 55.0 << 30.0;
    }

    // A carrier that never keys, there from the first sample, is background: it neither starts
    // nor holds a transmission, and does not draw the pitch; both frames at 0 dB come out exact.
    void steadyCarrierBesideTheBeacon()
    {
        QFETCH(double, offsetHz);
        QFETCH(double, levelDb);
        cwgen::KeyingSettings settings = keying(8000, 20, 700);
        settings.snrDb = 0;
        settings.seed = 51;
        settings.carriers.push_back({offsetHz, levelDb});
        const QStringList lines = beaconLines(2, 51);
        QCOMPARE(lineTexts(copyLines(cwgen::keyTransmissions(lines, settings), 8000)), lines);
    }

    // Digital silence (a capture that starts before the receiver plays, a recorder's gap) sets
    // no noise floor: the noisy pass after it copies as if the silence had not been there, and
    // the end of the noise is no keying.
    void digitalSilenceAround_data()
    {
        QTest::addColumn<double>("silenceSeconds");
        QTest::newRow("a tenth of a second") << 0.1;
        QTest::newRow("four seconds") << 4.0;
    }

    void digitalSilenceAround()
    {
        QFETCH(double, silenceSeconds);
        cwgen::KeyingSettings settings = keying(16000, 40, 700);
        settings.snrDb = 20;
        settings.seed = 53;
        const QStringList lines = beaconLines(2, 53);
        const std::vector<float> pass = cwgen::keyTransmissions(lines, settings);
        const std::vector<float> silence(std::size_t(silenceSeconds * 16000), 0.0f);
        std::vector<float> samples = silence;
        for (int copy = 0; copy < 2; ++copy) {
            samples.insert(samples.end(), pass.begin(), pass.end());
            samples.insert(samples.end(), silence.begin(), silence.end());
        }
        QCOMPARE(lineTexts(copyLines(samples, 16000)), lines + lines);
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
        demodulator.process(keyed.first(keyed.size() / 2));
        QVERIFY(demodulator.takeLines().empty());
        QVERIFY2(demodulator.pendingText().startsWith("QT7XMRKT3HKD"),
                 qPrintable(demodulator.pendingText()));
        // The pitch and speed of the keying while it is copied.
        QVERIFY2(std::abs(demodulator.pitchHz() - 750) < 5,
                 qPrintable(QString::number(demodulator.pitchHz())));
        QVERIFY(std::abs(demodulator.wordsPerMinute() - 25) < 0.5);
        demodulator.process(keyed.subspan(keyed.size() / 2));
        demodulator.finish();
        QCOMPARE(lineTexts(demodulator.takeLines()), lines);
        QCOMPARE(demodulator.pendingText(), QString());
        QVERIFY(std::abs(demodulator.wordsPerMinute() - 25) < 0.5);
        QVERIFY(std::abs(demodulator.pitchHz() - 750) < 5);
    }

    // A held pitch stays where the user put it, through and after a transmission near it.
    void heldPitchStays()
    {
        CwDemodulator demodulator(8000);
        demodulator.lockPitch(735);
        const std::vector<float> samples =
            cwgen::keyTransmissions(beaconLines(1, 42), keying(8000, 20, 700));
        demodulator.process(samples);
        demodulator.finish();
        QCOMPARE(demodulator.takeLines().size(), std::size_t(1));
        QVERIFY(demodulator.isPitchLocked());
        QCOMPARE(demodulator.pitchHz(), 735.0);
        demodulator.releasePitch();
        QVERIFY2(std::abs(demodulator.pitchHz() - 700) < 5,
                 qPrintable(QString::number(demodulator.pitchHz())));
    }
};

QTEST_GUILESS_MAIN(CwDemodulatorTest)
#include "tst_cwdemodulator.moc"
