// SPDX-License-Identifier: GPL-3.0-or-later
// The CW demodulator on the band a receiver delivers: frames copied exactly and passed as sure,
// and wrong frames passed as sure, against the signal-to-noise ratio (key-down carrier over noise
// in 3 kHz) for white noise and for each impairment of the generator, for signals keyed by
// ebook2cw with sox's noise and filter, frame-shaped lines made up from an hour of noise, and the
// speed against real time on a bad day. Every signal comes from a fixed seed; the seeds are the
// benchmark's own, apart from those of the tests.
//
// cwQuality/quick runs a few rows; cwQuality/full, the whole table (several minutes), only when
// TOVRIN3_CW_TABLE=full is set; cwQuality/trust, the bands where wrong frames passed as sure
// occur, pooled over 2,000 and more sure frames, when TOVRIN3_CW_TABLE=trust; cwQuality/ideal, the
// bound a decoder told the pitch and timing could reach, when TOVRIN3_CW_TABLE=ideal.
// TOVRIN3_CW_BANDS=text keeps only the bands whose names hold the text. Every wrong frame passed as
// sure is described on the error output with its signal's seed.
#include "benchapplication.h"
#include "cwdemodulator.h"
#include "cwquality.h"
#include "cwsignal.h"
#include "foreignwriter.h"
#include "frameconfidence.h"
#include "morsecode.h"
#include "slotlikelihoods.h"

#include <benchmark/benchmark.h>

#include <QString>
#include <QTemporaryDir>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <numbers>
#include <random>

using namespace tovrin3;

namespace {

constexpr double Pitch = 700.0;
constexpr double WordsPerMinute = 20.0;
constexpr int FramesPerSignal = 10;
constexpr double NoiseHours = 1.0;
// Benchmark seeds start here, far from the small seeds the tests use. TOVRIN3_CW_SEED_BASE moves
// them, so that a threshold can be chosen on signals the published table never sees.
const std::uint32_t SeedBase = [] {
    bool ok = false;
    const uint base = qEnvironmentVariable("TOVRIN3_CW_SEED_BASE").toUInt(&ok);
    return ok ? std::uint32_t(base) : std::uint32_t(17'000'000);
}();

// Whether a band is in the tables of this run: TOVRIN3_CW_BANDS, when set, names part of it.
bool bandChosen(const QString &name)
{
    static const QString chosen = qEnvironmentVariable("TOVRIN3_CW_BANDS");
    return name.contains(chosen);
}

// Makes one signal of the frames at an SNR; an empty result with `error` set when it cannot.
using SignalMaker = std::function<std::vector<float>(const QStringList &frames, double snrDb,
                                                     std::uint32_t seed, QString &error)>;

struct Band
{
    QString name;
    SignalMaker make;
    int framesPerSignal = FramesPerSignal;
};

struct QualityRow
{
    const Band *band;
    double snrDb;
    int frames;
};

cwgen::KeyingSettings beaconKeying(double snrDb, std::uint32_t seed, double rate = 8000.0)
{
    cwgen::KeyingSettings settings;
    settings.sampleRate = rate;
    settings.wordsPerMinute = WordsPerMinute;
    settings.pitchHz = Pitch;
    settings.snrDb = snrDb;
    settings.leadSeconds = 1.5;
    settings.seed = seed;
    return settings;
}

Band generated(const QString &name, std::function<void(cwgen::KeyingSettings &)> impair,
               int framesPerSignal = FramesPerSignal)
{
    return {name,
            [impair](const QStringList &frames, double snrDb, std::uint32_t seed, QString &) {
                cwgen::KeyingSettings settings = beaconKeying(snrDb, seed);
                impair(settings);
                return cwgen::keyTransmissions(frames, settings);
            },
            framesPerSignal};
}

void shapedNoise(cwgen::KeyingSettings &settings, double humpDb)
{
    settings.noiseShape.shaped = true;
    settings.noiseShape.humpDb = humpDb;
    settings.noiseShape.humpHz = Pitch + 550;
}

void badDay(cwgen::KeyingSettings &settings)
{
    shapedNoise(settings, 10);
    settings.carriers.push_back({600, 6});
    settings.fadingDepthDb = 8;
    settings.fadingPeriodSeconds = 5;
    settings.clicksPerSecond = 3;
}

Band foreign(const QString &name, cwgen::ForeignSettings settings)
{
    return {name, [settings](const QStringList &frames, double snrDb, std::uint32_t,
                             QString &error) mutable {
                ensureApplication(); // QProcess needs an application object
                QTemporaryDir directory;
                settings.snrDb = snrDb;
                const cwgen::ForeignSignal made =
                    cwgen::foreignSignal(frames, settings, directory.path());
                error = made.error;
                return made.samples;
            }};
}

// The band with every frame's body keyed as one word, its 18 digits without word gaps.
Band keyedAsOneWord(Band band)
{
    band.make = [make = band.make](const QStringList &frames, double snrDb, std::uint32_t seed,
                                   QString &error) {
        QStringList words;
        for (const QString &frame : frames) {
            const qsizetype body = frame.indexOf(QLatin1Char(' ')) + 1;
            words << frame.left(body) + frame.mid(body).remove(QLatin1Char(' '));
        }
        return make(words, snrDb, seed, error);
    };
    return band;
}

// Every band of the table, in a fixed order: a band's seeds follow from its place.
const std::vector<Band> &bands()
{
    static const std::vector<Band> all = [] {
        std::vector<Band> list;
        list.push_back(generated(QStringLiteral("white noise"), [](auto &) {}));
        for (const double offset : {400.0, 900.0}) {
            for (const double level : {0.0, 10.0, 20.0})
                list.push_back(
                    generated(QStringLiteral("carrier %1 Hz away, %2 dB").arg(offset).arg(level),
                              [=](auto &settings) {
                                  settings.carriers.push_back({offset, level});
                              }));
        }
        for (const double offset : {150.0, 300.0}) {
            for (const double level : {-6.0, 0.0})
                list.push_back(generated(
                    QStringLiteral("station %1 Hz away, 25 WPM, %2 dB").arg(offset).arg(level),
                    [=](auto &settings) {
                        settings.stations.push_back({offset, 25.0, level});
                    }));
        }
        list.push_back(generated(QStringLiteral("sine fading 12 dB, 5 s"), [](auto &settings) {
            settings.fadingDepthDb = 12;
            settings.fadingPeriodSeconds = 5;
        }));
        list.push_back(generated(QStringLiteral("Rayleigh fading 0.2 Hz (mean SNR)"),
                                 [](auto &settings) { settings.rayleighSpreadHz = 0.2; }));
        for (const double hump : {15.0, 25.0})
            list.push_back(
                generated(QStringLiteral("shaped noise, %1 dB hump 550 Hz above").arg(hump),
                          [=](auto &settings) { shapedNoise(settings, hump); }));
        // One pass per frame, its steepest slope in the frame's middle.
        list.push_back(generated(
            QStringLiteral("Doppler pass, 60 Hz/s at mid-pass, 500 Hz shift"),
            [](auto &settings) {
                settings.doppler.shiftHz = 500;
                settings.doppler.slopeHzPerSecond = 60;
            },
            1));
        list.push_back(generated(QStringLiteral("clicks, 3 a second"),
                                 [](auto &settings) { settings.clicksPerSecond = 3; }));
        list.push_back(generated(QStringLiteral("phase wander, 1 rad an element"),
                                 [](auto &settings) { settings.phaseWanderRadians = 1.0; }));
        list.push_back(generated(QStringLiteral("bad day"), badDay));
        cwgen::ForeignSettings writer;
        list.push_back(foreign(QStringLiteral("ebook2cw, sox noise, 300-2700 Hz filter"), writer));
        writer.humpDb = 15;
        list.push_back(foreign(QStringLiteral("ebook2cw, sox noise, filter, 15 dB hump"), writer));
        cwgen::ForeignSettings ownNoise;
        ownNoise.writersNoise = true;
        ownNoise.pitchHz = 800;
        list.push_back(foreign(QStringLiteral("ebook2cw's own noise (its SNR)"), ownNoise));
        // Added later and so last, so the seeds of the bands before stay as they were: carriers
        // close to the beacon, where the baseband's own filter must keep them out, and frames
        // whose body is keyed as one word.
        for (const double offset : {150.0, 100.0})
            list.push_back(generated(QStringLiteral("carrier %1 Hz away, 20 dB").arg(offset),
                                     [=](auto &settings) {
                                         settings.carriers.push_back({offset, 20.0});
                                     }));
        list.push_back(keyedAsOneWord(
            generated(QStringLiteral("white noise, frames keyed as one word"), [](auto &) {})));
        list.push_back(keyedAsOneWord(
            foreign(QStringLiteral("ebook2cw, sox noise, filter, frames keyed as one word"),
                    cwgen::ForeignSettings{})));
        // Carriers just past the 50 Hz the beacon needs to itself, 30 dB stronger: the baseband's
        // filter passes them, so they must be cancelled before the spectrum.
        list.push_back(generated(QStringLiteral("carrier 55 Hz above, 30 dB"), [](auto &settings) {
            settings.carriers.push_back({55.0, 30.0});
        }));
        list.push_back(generated(QStringLiteral("carrier 60 Hz below, 30 dB"), [](auto &settings) {
            settings.carriers.push_back({-60.0, 30.0});
        }));
        return list;
    }();
    return all;
}

const Band &band(const QString &name)
{
    for (const Band &entry : bands()) {
        if (entry.name == name)
            return entry;
    }
    std::fprintf(stderr, "no band %s\n", qPrintable(name));
    std::abort();
}

std::uint32_t bandSeed(const Band &entry, double snrDb)
{
    const auto place = std::uint32_t(&entry - bands().data());
    return SeedBase + place * 100'000 + std::uint32_t(std::lround((snrDb + 50) * 1000));
}

// One row: the frames in signals of the band's size, each signal copied by a fresh demodulator.
bench::FrameTally copyRow(const QualityRow &row, QString &error)
{
    bench::FrameTally tally;
    const std::uint32_t seed = bandSeed(*row.band, row.snrDb);
    std::mt19937 random(seed);
    for (int first = 0; first < row.frames; first += row.band->framesPerSignal) {
        QStringList frames;
        for (int frame = first; frame < std::min(row.frames, first + row.band->framesPerSignal);
             ++frame)
            frames << cwgen::randomBeaconLine(random);
        const std::vector<float> samples =
            row.band->make(frames, row.snrDb, seed + std::uint32_t(first), error);
        if (!error.isEmpty())
            return tally;
        QStringList wrongSure;
        bench::judge(frames, bench::demodulate(samples, 8000.0), tally, &wrongSure);
        for (const QString &wrong : wrongSure)
            std::fprintf(stderr, "wrong and sure: %s at %g dB, seed %u\n%s\n",
                         qPrintable(row.band->name), row.snrDb, seed + std::uint32_t(first),
                         qPrintable(wrong));
    }
    return tally;
}

void runTable(benchmark::State &state, const std::vector<QualityRow> &rows)
{
    bench::FrameTally pooled;
    for (auto _ : state) {
        pooled = {};
        std::printf("\n%s\n", qPrintable(bench::qualityHeader()));
        for (const QualityRow &row : rows) {
            if (!bandChosen(row.band->name))
                continue;
            QString error;
            const bench::FrameTally tally = copyRow(row, error);
            if (!error.isEmpty()) {
                std::printf("| %s | %g | skipped: %s |\n", qPrintable(row.band->name), row.snrDb,
                            qPrintable(error));
                continue;
            }
            pooled.add(tally);
            std::printf("%s\n", qPrintable(bench::qualityRow(row.band->name, row.snrDb, tally)));
            std::fflush(stdout);
        }
        std::printf("\n%s\n\n%s\n\n", qPrintable(bench::pooledSummary(pooled)),
                    qPrintable(bench::calibrationTable(pooled)));
    }
    state.counters["frames"] = pooled.frames;
    state.counters["exact_sure"] = pooled.exactSure;
    state.counters["wrong_sure"] = pooled.wrongSure;
    state.counters["wrong_sure_upper95_percent"] =
        100.0 * bench::upperBound95(pooled.wrongSure, pooled.sure());
}

std::vector<QualityRow> quickRows()
{
    return {{&band(QStringLiteral("white noise")), 0, 40},
            {&band(QStringLiteral("white noise")), -10, 40},
            {&band(QStringLiteral("white noise")), -12, 40},
            {&band(QStringLiteral("carrier 900 Hz away, 10 dB")), 0, 40},
            {&band(QStringLiteral("station 150 Hz away, 25 WPM, -6 dB")), 0, 40},
            {&band(QStringLiteral("sine fading 12 dB, 5 s")), 0, 40},
            {&band(QStringLiteral("bad day")), 0, 40},
            {&band(QStringLiteral("ebook2cw, sox noise, 300-2700 Hz filter")), 0, 20}};
}

// White noise +6 to -14 dB, at least 200 frames a point from -8 dB down; every impairment at -6,
// -3 and 0 dB (Rayleigh fading up to +6 dB, the bad day at 0 dB), 40 frames a point; ebook2cw's
// own noise at its own SNR of 0, +6 and +10 dB.
std::vector<QualityRow> fullRows()
{
    std::vector<QualityRow> rows;
    const Band &white = band(QStringLiteral("white noise"));
    for (int snr = 6; snr >= -14; --snr)
        rows.push_back({&white, double(snr), snr <= -8 ? 200 : 40});
    for (const Band &entry : bands()) {
        if (&entry == &white)
            continue;
        std::vector<double> points{-6, -3, 0};
        if (entry.name.startsWith(QLatin1StringView("Rayleigh")))
            points = {-6, -3, 0, 3, 6};
        else if (entry.name == QLatin1StringView("bad day"))
            points = {0};
        else if (entry.name.startsWith(QLatin1StringView("ebook2cw's own")))
            points = {0, 6, 10};
        for (const double snr : points)
            rows.push_back({&entry, snr, entry.name == QLatin1StringView("bad day") ? 100 : 40});
    }
    return rows;
}

// The bands where wrong frames passed as sure have been seen (weak white noise, another station
// close by, fading), with enough frames that the pooled bound on their rate means something:
// over 2,000 frames passed as sure.
std::vector<QualityRow> trustRows()
{
    std::vector<QualityRow> rows;
    const Band &white = band(QStringLiteral("white noise"));
    for (const int snr : {-9, -10, -11, -12})
        rows.push_back({&white, double(snr), 300});
    for (const Band &entry : bands()) {
        if (entry.name.startsWith(QLatin1StringView("station")))
            rows.push_back({&entry, 0.0, 200});
    }
    rows.push_back({&band(QStringLiteral("sine fading 12 dB, 5 s")), 0.0, 200});
    rows.push_back({&band(QStringLiteral("Rayleigh fading 0.2 Hz (mean SNR)")), 6.0, 200});
    return rows;
}

void cwQualityQuick(benchmark::State &state)
{
    runTable(state, quickRows());
}

void cwQualityFull(benchmark::State &state)
{
    runTable(state, fullRows());
}

void cwQualityTrust(benchmark::State &state)
{
    runTable(state, trustRows());
}

void framesFromNoise(benchmark::State &state)
{
    cwgen::KeyingSettings settings;
    settings.snrDb = 0.0; // the noise power of a 0 dB point
    settings.leadSeconds = NoiseHours * 3600 / 2;
    settings.seed = SeedBase - 1;
    const std::vector<float> samples = cwgen::keyTransmissions({}, settings);
    int lines = 0;
    int frameShaped = 0;
    for (auto _ : state) {
        const std::vector<morse::CopiedLine> copied = bench::demodulate(samples, 8000.0);
        lines = int(copied.size());
        frameShaped = int(std::count_if(copied.begin(), copied.end(), [](const auto &line) {
            return morse::isFrameShaped(line.text) && !line.doubtful;
        }));
    }
    state.counters["noise_hours"] = NoiseHours;
    state.counters["lines"] = lines;
    state.counters["frame_shaped_sure_lines"] = frameShaped;
}

// Two beacon frames (about a minute) on a bad day at 0 dB; the rate counter is seconds of audio
// per second on one core.
void demodulatorSpeed(benchmark::State &state, double rate)
{
    std::mt19937 random(SeedBase - 2);
    const QStringList frames{cwgen::randomBeaconLine(random), cwgen::randomBeaconLine(random)};
    cwgen::KeyingSettings settings = beaconKeying(0.0, SeedBase - 2, rate);
    badDay(settings);
    const std::vector<float> samples = cwgen::keyTransmissions(frames, settings);
    const double seconds = double(samples.size()) / rate;
    for (auto _ : state)
        benchmark::DoNotOptimize(bench::demodulate(samples, rate));
    state.counters["times_real_time"] =
        benchmark::Counter(seconds * double(state.iterations()), benchmark::Counter::kIsRate);
}

// The slots of a frame body keyed in groups, then silence to past the farthest slot the
// confidence looks at.
std::vector<char> groupedBodyKeying(const morse::FrameDigits &digits)
{
    const std::span<const morse::KeyingTemplate> keyings = morse::hexDigitKeyings();
    std::vector<char> keyed(std::size_t(morse::longestBodySlots()), 0);
    int x = 0;
    for (int k = 0; k < morse::BeaconDigits; ++k) {
        const morse::KeyingTemplate &keying = keyings[std::size_t(digits[std::size_t(k)])];
        for (const auto &[offset, run] : keying.runs)
            std::fill_n(keyed.begin() + x + offset, run, 1);
        x += keying.length + morse::gapAfterDigit(morse::BodyLayout::Grouped, k);
    }
    return keyed;
}

// The beacon's complex gain at a time into a frame [s] (1 without fading).
using FadingGain = std::function<std::complex<double>(double seconds)>;

struct IdealRow
{
    QString band;
    int snrDb;
    std::function<FadingGain(std::mt19937 &random)> fading; // a fresh fading per frame
    std::function<void(cwgen::KeyingSettings &)> impair;    // the same fading in the generator
};

struct IdealCounts
{
    int phaseKnown = 0;
    int phaseUnknown = 0;
    int levelEstimated = 0;
    int likeliest = 0; // phase unknown, the true body's posterior over one half
    // The generator's own signal, pitch and timing told: sure, and the likeliest.
    int generatedSure = 0;
    int generatedLikeliest = 0;
    int demodulatorSure = 0; // the same signals copied by the demodulator
};

// The sums of slotCount slots of slotSamples each from sample `first` on, mixed down at the true
// pitch with no filter, each spread over `unit` baseband samples as the demodulator's slots are.
std::vector<std::complex<float>> toldSlotSums(std::span<const float> samples, double rate,
                                              std::ptrdiff_t first, int slotCount,
                                              std::ptrdiff_t slotSamples, int unit)
{
    std::vector<std::complex<float>> baseband;
    for (int slot = 0; slot < slotCount; ++slot) {
        std::complex<double> sum;
        const std::ptrdiff_t from = first + slot * slotSamples;
        for (std::ptrdiff_t n = std::max<std::ptrdiff_t>(from, 0);
             n < std::min(from + slotSamples, std::ptrdiff_t(samples.size())); ++n)
            sum += double(samples[std::size_t(n)]) *
                   std::polar(1.0, -2 * std::numbers::pi * Pitch * double(n) / rate);
        baseband.insert(baseband.end(), std::size_t(unit), std::complex<float>(sum / double(unit)));
    }
    return baseband;
}

// The frames of the generator's signal read by a decoder told the pitch and the timing: each
// slot's sum taken straight from the samples, mixed down at the true pitch over the true slot,
// with no filter; the noise and the keyed level estimated from the sums as the demodulator
// estimates them, and the true digits' posterior taken by its frame confidence. What the
// demodulator's own pitch, timing and filters cost is the gap to the same signals copied by the
// demodulator, also counted here; the keying's edges, which leave a dot less energy than a slot of
// steady carrier, are in both.
void generatedSure(const IdealRow &row, int frames, std::uint32_t seed, IdealCounts &counts)
{
    constexpr double Rate = 8000.0;
    // Slots of noise before the header, as a transmission's lead gives the level and the noise.
    constexpr int LeadSlots = 20;
    const auto slotSamples = std::ptrdiff_t(std::lround(1.2 / WordsPerMinute * Rate));
    const int unit = int(std::lround(1.2 / WordsPerMinute * morse::BasebandRate));
    const int bodyStart = LeadSlots + morse::headerKeying().length + morse::WordGap;
    const int slotCount = bodyStart + morse::longestBodySlots();
    std::mt19937 random(seed);
    for (int first = 0; first < frames; first += FramesPerSignal) {
        QStringList lines;
        for (int f = first; f < std::min(frames, first + FramesPerSignal); ++f)
            lines << cwgen::randomBeaconLine(random);
        cwgen::KeyingSettings settings = beaconKeying(row.snrDb, seed + std::uint32_t(first));
        row.impair(settings);
        const std::vector<float> samples = cwgen::keyTransmissions(lines, settings);
        const std::vector<double> starts = cwgen::transmissionStarts(lines, settings);
        bench::FrameTally copied;
        bench::judge(lines, bench::demodulate(samples, Rate), copied);
        counts.demodulatorSure += copied.exactSure;
        for (qsizetype f = 0; f < lines.size(); ++f) {
            const auto headerSample = std::ptrdiff_t(std::lround(starts[std::size_t(f)] * Rate));
            const std::vector<std::complex<float>> baseband =
                toldSlotSums(samples, Rate, headerSample - LeadSlots * slotSamples, slotCount,
                             slotSamples, unit);
            const morse::SlotLikelihoods likelihoods =
                morse::slotLikelihoods(morse::CumulativeSum(baseband), {double(unit), 0.0});
            const double confidence =
                morse::frameConfidence(morse::SlotScores(likelihoods.keyed, likelihoods.dashes,
                                                         likelihoods.matched, likelihoods.level),
                                       bodyStart, *morse::frameDigitValues(lines[f]));
            counts.generatedSure += confidence >= morse::SureConfidence;
            counts.generatedLikeliest += confidence > 0.5;
        }
    }
}

// Frames exact and sure out of `frames` when the slot sums are drawn from their own statistics.
// Each body follows other keying (18 digits, then a word gap) as a frame's follows its header,
// so the estimated level has keying before it to go by, and silence after it.
IdealCounts idealSure(const IdealRow &row, int frames, std::uint32_t seed)
{
    const double slotSeconds = 1.2 / WordsPerMinute;
    // A slot at 20 WPM holds 3 kHz times 60 ms of the SNR in energy over noise.
    const double slotEnergy = 3000 * slotSeconds * std::pow(10.0, row.snrDb / 10.0);
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, std::sqrt(0.5));
    std::uniform_int_distribution<int> digit(0, 15);
    // A slot's sum spread over as many baseband samples as a slot at 20 WPM holds.
    const int unit = int(std::lround(slotSeconds * morse::BasebandRate));
    IdealCounts counts;
    for (int f = 0; f < frames; ++f) {
        morse::FrameDigits before;
        morse::FrameDigits digits;
        for (int &d : before)
            d = digit(random);
        for (int &d : digits)
            d = digit(random);
        const FadingGain gain = row.fading(random);
        std::vector<char> keyed = groupedBodyKeying(before);
        keyed.erase(std::find(keyed.rbegin(), keyed.rend(), 1).base(), keyed.end());
        keyed.resize(keyed.size() + morse::WordGap, 0);
        const int bodyStart = int(keyed.size());
        const std::vector<char> body = groupedBodyKeying(digits);
        keyed.insert(keyed.end(), body.begin(), body.end());
        std::vector<std::complex<float>> baseband;
        std::vector<float> coherent;
        std::vector<float> ratios;
        std::vector<std::complex<float>> matched;
        std::vector<float> levels;
        for (std::size_t i = 0; i < keyed.size(); ++i) {
            const std::complex<double> carrier =
                std::sqrt(slotEnergy) * gain(double(i) * slotSeconds);
            const std::complex<double> sum =
                carrier * double(keyed[i]) + std::complex<double>(noise(random), noise(random));
            const double level = std::norm(carrier);
            coherent.push_back(float(2 * std::real(sum * std::conj(carrier)) - level));
            ratios.push_back(
                float(morse::logBesselI0(2 * std::abs(carrier) * std::abs(sum)) - level));
            matched.push_back(std::complex<float>(2 * std::abs(carrier) * sum));
            levels.push_back(float(level));
            baseband.insert(baseband.end(), std::size_t(unit),
                            std::complex<float>(sum / double(unit)));
        }
        const auto confidence = [&](const morse::SlotScores &scores) {
            return morse::frameConfidence(scores, bodyStart, digits);
        };
        const auto sure = [&](const morse::SlotScores &scores) {
            return confidence(scores) >= morse::SureConfidence;
        };
        counts.phaseKnown += sure(morse::SlotScores(coherent));
        const double unknownPhase = confidence(morse::SlotScores(ratios, {}, matched, levels));
        counts.phaseUnknown += unknownPhase >= morse::SureConfidence;
        counts.likeliest += unknownPhase > 0.5;
        const morse::SlotLikelihoods estimated =
            morse::slotLikelihoods(morse::CumulativeSum(baseband), {double(unit), 0.0});
        counts.levelEstimated += sure(morse::SlotScores(estimated.keyed, estimated.dashes,
                                                        estimated.matched, estimated.level));
    }
    return counts;
}

// What the confidence could pass as sure if the pitch, the timing and the keyed level (through
// any fading) were known exactly: slot sums drawn from their own statistics, the true digits'
// posterior taken by the demodulator's own frame confidence. "Phase known": every slot scored
// coherently, as a receiver locked to the carrier's phase could; "phase unknown": the slots
// scored as the demodulator scores them, each character in one phase of its own or each key-down
// apart; "level estimated": the same, but with the noise and the keyed level through any fading
// estimated from the slot sums as the demodulator estimates them (pitch and timing still known),
// which tells what the level estimate costs. A frame whose true digits reach the sure confidence
// is what a decoder choosing the likeliest body would copy exactly and pass as sure, so these
// bound the rows of cwQuality. "Likeliest": phase unknown, the true digits more likely than all
// other bodies together, so such a decoder copies them exactly, however unsure: what the sure
// confidence costs is the gap to the column before. "Generated": the same two on the generator's
// own signal, pitch and timing told (generatedSure), and the frames the demodulator copies exactly
// and passes as sure from those very signals.
void cwIdealBound(benchmark::State &state)
{
    constexpr int Frames = 400;
    const auto steady = [](std::mt19937 &) -> FadingGain {
        return [](double) { return std::complex<double>(1.0); };
    };
    // As the generator fades: the loss follows a raised cosine to 12 dB and back every 5 s, the
    // frame starting anywhere in it.
    const auto sine = [](std::mt19937 &random) -> FadingGain {
        const double start = std::uniform_real_distribution<double>(0.0, 5.0)(random);
        return [start](double seconds) {
            const double loss =
                12.0 * (1 - std::cos(2 * std::numbers::pi * (start + seconds) / 5)) / 2;
            return std::complex<double>(std::pow(10.0, -loss / 20));
        };
    };
    const auto rayleigh = [](std::mt19937 &random) -> FadingGain {
        const auto fading = std::make_shared<cwgen::RayleighFading>(0.2, std::uint32_t(random()));
        return [fading](double seconds) { return fading->gain(seconds); };
    };
    const auto white = [](cwgen::KeyingSettings &) {};
    const auto sineFading = [](cwgen::KeyingSettings &settings) {
        settings.fadingDepthDb = 12;
        settings.fadingPeriodSeconds = 5;
    };
    const auto rayleighFading = [](cwgen::KeyingSettings &settings) {
        settings.rayleighSpreadHz = 0.2;
    };
    std::vector<IdealRow> rows;
    for (int snr = -8; snr >= -13; --snr)
        rows.push_back({QStringLiteral("white noise"), snr, steady, white});
    for (const int snr : {-6, -3, 0})
        rows.push_back({QStringLiteral("sine fading 12 dB, 5 s"), snr, sine, sineFading});
    for (const int snr : {-6, -3, 0, 3, 6})
        rows.push_back(
            {QStringLiteral("Rayleigh fading 0.2 Hz (mean SNR)"), snr, rayleigh, rayleighFading});
    for (auto _ : state) {
        std::printf("\n| Band | SNR dB | Frames | Exact & sure, phase known | Exact & sure, phase "
                    "unknown | Exact & sure, level estimated | Likeliest, phase unknown "
                    "| Generated: exact & sure | Generated: likeliest | Generated: demodulator "
                    "|\n|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const IdealRow &row = rows[i];
            if (!bandChosen(row.band))
                continue;
            // Seeds of their own, below the benchmark's signals.
            const std::uint32_t seed = SeedBase - 1000 + 10 * std::uint32_t(i);
            IdealCounts counts = idealSure(row, Frames, seed);
            generatedSure(row, Frames, seed, counts);
            std::printf(
                "| %s | %d | %d | %.1f %% | %.1f %% | %.1f %% | %.1f %% | %.1f %% | %.1f %% "
                "| %.1f %% |\n",
                qPrintable(row.band), row.snrDb, Frames, 100.0 * counts.phaseKnown / Frames,
                100.0 * counts.phaseUnknown / Frames, 100.0 * counts.levelEstimated / Frames,
                100.0 * counts.likeliest / Frames, 100.0 * counts.generatedSure / Frames,
                100.0 * counts.generatedLikeliest / Frames,
                100.0 * counts.demodulatorSure / Frames);
            std::fflush(stdout);
        }
    }
}

const bool registered = [] {
    benchmark::RegisterBenchmark("cwQuality/quick", cwQualityQuick)
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
    if (qEnvironmentVariable("TOVRIN3_CW_TABLE") == QLatin1StringView("full"))
        benchmark::RegisterBenchmark("cwQuality/full", cwQualityFull)
            ->Iterations(1)
            ->Unit(benchmark::kSecond);
    if (qEnvironmentVariable("TOVRIN3_CW_TABLE") == QLatin1StringView("ideal"))
        benchmark::RegisterBenchmark("cwQuality/ideal", cwIdealBound)
            ->Iterations(1)
            ->Unit(benchmark::kSecond);
    if (qEnvironmentVariable("TOVRIN3_CW_TABLE") == QLatin1StringView("trust"))
        benchmark::RegisterBenchmark("cwQuality/trust", cwQualityTrust)
            ->Iterations(1)
            ->Unit(benchmark::kSecond);
    return true;
}();

} // namespace

BENCHMARK(framesFromNoise)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(demodulatorSpeed, badDay8kHz, 8000.0)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK_CAPTURE(demodulatorSpeed, badDay44k1Hz, 44100.0)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK_CAPTURE(demodulatorSpeed, badDay48kHz, 48000.0)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
