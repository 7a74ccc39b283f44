// SPDX-License-Identifier: GPL-3.0-or-later
// Stage 2: the trace through the spectra of keyed tones, with drift, jumps, noise and a locked
// pitch.
#include "bandanalysis.h"
#include "cwsignal.h"
#include "morsetesting.h"
#include "pitchtrack.h"

#include <QTest>

#include <cmath>

using namespace tovrin3;
using namespace tovrin3::morse;

namespace {

struct Trace
{
    std::vector<int> path;
    std::vector<double> track;
};

Trace traceOf(std::span<const float> samples, double lockedHz,
              TrackShape shape = TrackShape::Following)
{
    FrameSpectrum spectrum;
    std::vector<float> spectra;
    std::vector<float> floors;
    int frames = 0;
    for (std::size_t at = 0; at + FftSize <= samples.size(); at += FrameHop, ++frames) {
        spectra.resize(spectra.size() + SearchBins);
        spectrum.process(samples.subspan(at, FftSize), std::span(spectra).last(SearchBins));
        floors.insert(floors.end(), spectrum.floors().begin(), spectrum.floors().end());
    }
    Trace trace;
    trace.path = pitchPath(spectra, frames, lockedHz);
    trace.track = pitchTracks(spectra, trace.path, floors).of(shape);
    return trace;
}

// The frame whose window is centred on a time.
std::size_t frameAt(double seconds)
{
    return std::size_t(std::max(0.0, (seconds * InternalRate - FftSize / 2.0) / FrameHop));
}

} // namespace

class PitchTrackTest : public QObject
{
    Q_OBJECT

private slots:
    void followsTheKeying_data()
    {
        QTest::addColumn<double>("pitch");
        QTest::addColumn<double>("drift");
        QTest::addColumn<double>("snr");
        QTest::addColumn<double>("tolerance");
        QTest::addColumn<TrackShape>("shape");
        QTest::addColumn<QString>("text");
        const auto row = [](const char *name, double pitch, double drift, double snr,
                            double tolerance, TrackShape shape = TrackShape::Following,
                            const QString &text = QStringLiteral("TEST DE TOVRIN3 TEST")) {
            QTest::newRow(name) << pitch << drift << snr << tolerance << shape << text;
        };
        const double clean = std::numeric_limits<double>::infinity();
        // Keyed down most of the time and strong, its leakage lifts the floors of the bins
        // beside it, each by its own amount.
        row("dense keying, 20 dB", 700, 0, 20, 2, TrackShape::Following,
            QStringLiteral("QT7XMRKT3HKD 900140010C6A00A503"));
        row("lowest pitch, 220 Hz", 220, 0, clean, 3);
        row("highest pitch, 1950 Hz", 1950, 0, clean, 3);
        row("between bins, 1007 Hz, -6 dB", 1007, 0, -6, 4);
        row("drift down 15 Hz/s, 0 dB", 1800, -15, 0, 6);
        row("Doppler slope, 60 Hz/s, 0 dB", 600, 60, 0, 6);
        row("steady, weak, -12 dB", 700, 0, -12, 4);
        // One line through the whole transmission holds a weak steady pitch closer, and without
        // the following track's wander.
        row("steady shape, weak, -12 dB", 700, 0, -12, 1.5, TrackShape::Steady);
        row("steady shape, drift up 20 Hz/s", 500, 20, 6, 2, TrackShape::Steady);
    }

    // At every keyed moment, the track is within a few Hz of the sent pitch.
    void followsTheKeying()
    {
        QFETCH(double, pitch);
        QFETCH(double, drift);
        QFETCH(double, tolerance);
        QFETCH(double, snr);
        QFETCH(QString, text);
        const cwgen::KeyingSettings settings = testing::impaired(snr, 11, [&](auto &s) {
            s.pitchHz = pitch;
            s.driftHzPerSecond = drift;
        });
        const std::vector<float> samples = cwgen::keyTransmissions({text}, settings);
        QFETCH(TrackShape, shape);
        const Trace trace = traceOf(samples, 0.0, shape);
        const double end = double(samples.size()) / InternalRate - settings.leadSeconds;
        for (double t = settings.leadSeconds + 0.5; t < end - 0.5; t += 0.25) {
            const double expected = pitch + drift * t;
            const double got = trace.track[frameAt(t)];
            QVERIFY2(std::abs(got - expected) < tolerance, qPrintable(QString::number(t)));
        }
    }

    void choosesTheTrace_data()
    {
        QTest::addColumn<double>("lockedHz");
        QTest::addColumn<double>("expected");
        QTest::newRow("free: the stronger keying") << 0.0 << 600.0;
        QTest::newRow("locked near the weaker keying") << 1290.0 << 1300.0;
    }

    // Two keyed tones at once: free, the path takes the stronger; locked, it stays near the
    // locked pitch however strong the other is.
    void choosesTheTrace()
    {
        QFETCH(double, lockedHz);
        QFETCH(double, expected);
        cwgen::KeyingSettings strong;
        strong.pitchHz = 600;
        strong.snrDb = 20;
        cwgen::KeyingSettings weak;
        weak.pitchHz = 1300;
        weak.amplitude = 0.05;
        const Trace trace = traceOf(testing::mixed(cwgen::keyTransmissions({"PARIS PARIS"}, strong),
                                                   cwgen::keyTransmissions({"TEST TEST"}, weak)),
                                    lockedHz);
        QVERIFY_NEAR(trace.track[trace.track.size() / 2], expected, 5);
    }

    // A retune between transmissions: the path jumps once and the track never averages across.
    void jumpsOnceOnARetune()
    {
        cwgen::KeyingSettings low;
        low.pitchHz = 600;
        low.leadSeconds = 0.5;
        cwgen::KeyingSettings high = low;
        high.pitchHz = 1400;
        std::vector<float> samples = cwgen::keyTransmissions({"PARIS PARIS"}, low);
        const std::vector<float> second = cwgen::keyTransmissions({"PARIS PARIS"}, high);
        samples.insert(samples.end(), second.begin(), second.end());
        const Trace trace = traceOf(samples, 0.0);
        QVERIFY(std::abs(trace.track[frameAt(1.0)] - 600) < 3);
        QVERIFY(std::abs(trace.track[trace.track.size() - frameAt(1.5)] - 1400) < 3);
        int jumps = 0;
        for (std::size_t f = 1; f < trace.path.size(); ++f)
            jumps += std::abs(trace.path[f] - trace.path[f - 1]) > 1 ? 1 : 0;
        QCOMPARE(jumps, 1);
    }

    // A steady trace whose path ends on a few loud frames of noise 125 Hz away: the steady line
    // stays on the trace instead of tilting toward them.
    void steadyLineLeavesFramesOffTheTrace()
    {
        constexpr int Frames = 600;
        constexpr int TraceBin = 40;
        constexpr int NoiseBin = TraceBin + 8;
        std::vector<float> spectra(std::size_t(Frames) * SearchBins, 1.0f);
        std::vector<int> path(Frames, TraceBin);
        for (int f = 0; f < Frames; ++f) {
            const bool offTrace = f >= Frames - 6;
            path[std::size_t(f)] = offTrace ? NoiseBin : TraceBin;
            if (offTrace || f % 4 < 2)
                spectra[std::size_t(f) * SearchBins + std::size_t(path[std::size_t(f)])] = 30.0f;
        }
        const std::vector<double> track = pitchTracks(spectra, path, {}).steady;
        const double pitch = (LowestBin + TraceBin) * BinHz;
        QVERIFY_NEAR(track.front(), pitch, 0.5);
        QVERIFY_NEAR(track[Frames - 7], pitch, 0.5);
    }
};

QTEST_GUILESS_MAIN(PitchTrackTest)
#include "tst_pitchtrack.moc"
