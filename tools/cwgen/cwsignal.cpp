// SPDX-License-Identifier: GPL-3.0-or-later
#include "cwsignal.h"

#include "morsecode.h"

#include <fftw3.h>
#include <sndfile.h>

#include <QFile>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <numbers>
#include <stdexcept>

namespace tovrin3::cwgen {

namespace {

constexpr double EdgeSeconds = 0.005;
constexpr double NoiseBandwidthHz = 3000.0;
// Beyond the passband the density falls over this width to this depth, as an SSB filter's
// skirts do; a raised cosine in dB.
constexpr double SkirtWidthHz = 200.0;
constexpr double SkirtDepthDb = 40.0;
// The shaping filter resolves about 4 Hz at any rate: fine enough for a 200 Hz hump and the
// passband's skirts.
constexpr double ShapingResolutionHz = 4.0;
// Rayleigh fading: enough paths for a Rayleigh amplitude, its gain sampled every 5 ms (a
// 0.2 Hz spread changes the gain over seconds) and interpolated between.
constexpr int RayleighPaths = 32;
constexpr double RayleighStepSeconds = 0.005;
// A click decays by e in a third of a millisecond: gone within a millisecond.
constexpr double ClickDecaySeconds = 1.0 / 3000;
constexpr double ClickLengthSeconds = 0.001;
// The other station starts up to this long before the signal, so the signal opens mid-text.
constexpr double StationHeadStartSeconds = 5.0;

// Separate random streams per impairment, so that adding one leaves the others' draws as they
// were: the noise of a seed is the same with and without clicks.
enum class Stream : std::uint32_t
{
    Carriers = 1,
    Stations,
    Clicks,
    Rayleigh,
    PhaseWander
};

std::mt19937 randomStream(std::uint32_t seed, Stream stream)
{
    std::seed_seq sequence{seed, std::uint32_t(stream)};
    return std::mt19937(sequence);
}

// Uniform in [0, 1) from the Mersenne Twister's raw output, the same with every standard library.
double uniform(std::mt19937 &random)
{
    return double(random()) / 4294967296.0;
}

// Gaussian samples by Box-Muller on the Mersenne Twister's raw output, so a seed gives the same
// noise with every standard library.
class GaussianNoise
{
public:
    explicit GaussianNoise(std::uint32_t seed) : m_random(seed) {}
    explicit GaussianNoise(std::mt19937 random) : m_random(random) {}
    double next()
    {
        if (m_haveSpare) {
            m_haveSpare = false;
            return m_spare;
        }
        const double u1 = (double(m_random()) + 1.0) / 4294967297.0;
        const double u2 = double(m_random()) / 4294967296.0;
        const double radius = std::sqrt(-2.0 * std::log(u1));
        m_spare = radius * std::sin(2 * std::numbers::pi * u2);
        m_haveSpare = true;
        return radius * std::cos(2 * std::numbers::pi * u2);
    }

private:
    std::mt19937 m_random;
    double m_spare = 0.0;
    bool m_haveSpare = false;
};

struct KeyDown
{
    double start;
    double end;
};

// Key-down intervals in seconds for the lines, PARIS timing: dot 1, dash 3, element gap 1,
// letter gap 3, word gap 7 units. Characters Morse code lacks are left out. The lines start at
// leadSeconds with gapSeconds between them; returns the time after the last element.
double keyDowns(const QStringList &transmissions, double wordsPerMinute, double leadSeconds,
                double gapSeconds, std::vector<KeyDown> &intervals)
{
    const double unit = 1.2 / wordsPerMinute;
    double time = leadSeconds;
    for (qsizetype line = 0; line < transmissions.size(); ++line) {
        if (line > 0)
            time += gapSeconds;
        bool letterBefore = false;
        bool wordGap = false;
        for (const QChar character : transmissions[line]) {
            const std::string_view elements = morse::morseElements(character);
            if (elements.empty()) {
                wordGap = letterBefore;
                continue;
            }
            if (letterBefore)
                time += (wordGap ? 7 : 3) * unit;
            wordGap = false;
            for (std::size_t i = 0; i < elements.size(); ++i) {
                if (i > 0)
                    time += unit;
                const double length = elements[i] == '-' ? 3 * unit : unit;
                intervals.push_back({time, time + length});
                time += length;
            }
            letterBefore = true;
        }
    }
    return time;
}

// First and last sample an interval's raised-cosine edges touch, within the signal.
std::pair<qint64, qint64> sampleSpan(const KeyDown &key, double sampleRate, std::size_t size)
{
    const double half = EdgeSeconds / 2;
    const auto first = std::max<qint64>(0, qint64(std::ceil((key.start - half) * sampleRate)));
    const auto last =
        std::min<qint64>(qint64(size) - 1, qint64(std::floor((key.end + half) * sampleRate)));
    return {first, last};
}

// Raised-cosine edges centred on the nominal key times, so an element keeps its length at half
// amplitude.
void drawEnvelope(std::vector<float> &envelope, const std::vector<KeyDown> &intervals,
                  double sampleRate)
{
    const double half = EdgeSeconds / 2;
    for (const KeyDown &key : intervals) {
        const auto [first, last] = sampleSpan(key, sampleRate, envelope.size());
        for (qint64 n = first; n <= last; ++n) {
            const double t = double(n) / sampleRate;
            double level = 1.0;
            if (t < key.start + half)
                level =
                    0.5 - 0.5 * std::cos(std::numbers::pi * (t - key.start + half) / EdgeSeconds);
            else if (t > key.end - half)
                level = 0.5 - 0.5 * std::cos(std::numbers::pi * (key.end + half - t) / EdgeSeconds);
            envelope[std::size_t(n)] = std::max(envelope[std::size_t(n)], float(level));
        }
    }
}

double sineAt(double cycles)
{
    return std::sin(2 * std::numbers::pi * (cycles - std::floor(cycles)));
}

double decibels(double db)
{
    return std::pow(10.0, db / 20);
}

// The noise density's shape in dB at a frequency, 0 dB in the flat passband.
double shapeDb(const NoiseShape &shape, double hz)
{
    double db = 0.0;
    const double below = shape.passbandLowHz - hz;
    const double above = hz - shape.passbandHighHz;
    const double outside = std::max(below, above);
    if (outside > 0) {
        const double fraction = std::min(outside / SkirtWidthHz, 1.0);
        db -= SkirtDepthDb * (0.5 - 0.5 * std::cos(std::numbers::pi * fraction));
    }
    if (shape.humpDb != 0.0 && shape.humpWidthHz > 0) {
        const double x = (hz - shape.humpHz) / shape.humpWidthHz;
        db += shape.humpDb * std::exp(-4 * std::numbers::ln2 * x * x);
    }
    return db;
}

struct FftwPlanDeleter
{
    void operator()(fftw_plan_s *plan) const;
};

// The planner is not thread-safe; signals may be made on several threads at once.
std::mutex &planning()
{
    static std::mutex mutex;
    return mutex;
}

void FftwPlanDeleter::operator()(fftw_plan_s *plan) const
{
    const std::lock_guard lock(planning());
    fftw_destroy_plan(plan);
}

using FftwPlan = std::unique_ptr<fftw_plan_s, FftwPlanDeleter>;

struct FftwBuffer
{
    explicit FftwBuffer(std::size_t bytes) : data(fftw_malloc(bytes))
    {
        if (!data)
            throw std::bad_alloc();
    }
    ~FftwBuffer() { fftw_free(data); }
    FftwBuffer(const FftwBuffer &) = delete;
    FftwBuffer &operator=(const FftwBuffer &) = delete;
    void *data;
};

// White Gaussian noise through a linear-phase filter whose power response is the noise shape,
// scaled to 1 at the beacon's pitch: the density there is that of the white noise it replaces.
// Fast convolution by overlap-add.
void addShapedNoise(std::vector<float> &samples, const KeyingSettings &settings, double sigma)
{
    const double rate = settings.sampleRate;
    std::size_t taps = 256;
    while (double(taps) < rate / ShapingResolutionHz)
        taps *= 2;
    const std::size_t size = 2 * taps;
    const std::size_t bins = size / 2 + 1;
    FftwBuffer timeBuffer(sizeof(double) * size);
    FftwBuffer spectrumBuffer(sizeof(fftw_complex) * bins);
    auto *time = static_cast<double *>(timeBuffer.data);
    auto *spectrum = static_cast<fftw_complex *>(spectrumBuffer.data);
    FftwPlan forward;
    FftwPlan backward;
    {
        const std::lock_guard lock(planning());
        forward.reset(fftw_plan_dft_r2c_1d(int(size), time, spectrum, FFTW_ESTIMATE));
        backward.reset(fftw_plan_dft_c2r_1d(int(size), spectrum, time, FFTW_ESTIMATE));
    }
    if (!forward || !backward)
        throw std::runtime_error("FFTW cannot plan the noise-shaping transform");

    // The filter: the zero-phase response, sampled on `size` points and transformed back, cut
    // to `taps` coefficients around its centre and windowed (Blackman).
    for (std::size_t k = 0; k < bins; ++k) {
        const double hz = double(k) * rate / double(size);
        spectrum[k][0] = std::pow(10.0, shapeDb(settings.noiseShape, hz) / 20);
        spectrum[k][1] = 0.0;
    }
    fftw_execute(backward.get());
    std::vector<double> filter(taps);
    for (std::size_t n = 0; n < taps; ++n) {
        const std::size_t source = (n + size - taps / 2) % size;
        const double phase = 2 * std::numbers::pi * double(n) / double(taps);
        const double window = 0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2 * phase);
        filter[n] = time[source] / double(size) * window;
    }
    // Scale to 1 at the pitch, from the filter's own response there.
    std::complex<double> atPitch = 0.0;
    for (std::size_t n = 0; n < taps; ++n)
        atPitch += filter[n] *
                   std::polar(1.0, -2 * std::numbers::pi * settings.pitchHz * double(n) / rate);
    const double scale = sigma / std::abs(atPitch) / double(size);

    std::vector<std::complex<double>> response(bins);
    std::fill(time, time + size, 0.0);
    std::copy(filter.begin(), filter.end(), time);
    fftw_execute(forward.get());
    for (std::size_t k = 0; k < bins; ++k)
        response[k] = std::complex<double>(spectrum[k][0], spectrum[k][1]) * scale;

    // Overlap-add: blocks of `taps` input samples, the first taps - 1 outputs discarded so the
    // noise is steady from the first sample.
    GaussianNoise noise(settings.seed);
    const std::size_t total = samples.size() + taps - 1;
    std::vector<double> tail(taps, 0.0);
    for (std::size_t at = 0; at < total; at += taps) {
        for (std::size_t n = 0; n < taps; ++n)
            time[n] = at + n < total ? noise.next() : 0.0;
        std::fill(time + taps, time + size, 0.0);
        fftw_execute(forward.get());
        for (std::size_t k = 0; k < bins; ++k) {
            const std::complex<double> value =
                std::complex<double>(spectrum[k][0], spectrum[k][1]) * response[k];
            spectrum[k][0] = value.real();
            spectrum[k][1] = value.imag();
        }
        fftw_execute(backward.get());
        for (std::size_t n = 0; n < taps; ++n) {
            const std::size_t output = at + n;
            const double value = time[n] + tail[n];
            if (output >= taps - 1 && output - (taps - 1) < samples.size())
                samples[output - (taps - 1)] += float(value);
            tail[n] = time[taps + n];
        }
    }
}

void addWhiteNoise(std::vector<float> &samples, std::uint32_t seed, double sigma)
{
    GaussianNoise noise(seed);
    for (float &sample : samples)
        sample = float(double(sample) + sigma * noise.next());
}

void addCarriers(std::vector<float> &samples, const KeyingSettings &settings)
{
    std::mt19937 random = randomStream(settings.seed, Stream::Carriers);
    for (const SteadyCarrier &carrier : settings.carriers) {
        const double amplitude = settings.amplitude * decibels(carrier.levelDb);
        const double hz = settings.pitchHz + carrier.offsetHz;
        const double phase = uniform(random);
        for (std::size_t n = 0; n < samples.size(); ++n)
            samples[n] += float(amplitude * sineAt(hz * double(n) / settings.sampleRate + phase));
    }
}

void addStations(std::vector<float> &samples, const KeyingSettings &settings)
{
    std::mt19937 random = randomStream(settings.seed, Stream::Stations);
    const double totalSeconds = double(samples.size()) / settings.sampleRate;
    for (const OtherStation &station : settings.stations) {
        const double unit = 1.2 / station.wordsPerMinute;
        const double start = -StationHeadStartSeconds * uniform(random);
        // About 10 units a character with its gaps; twice that many characters are plenty.
        const int characters = int((totalSeconds - start) / (10 * unit)) * 2 + 20;
        const QStringList text{randomChatter(random, characters)};
        std::vector<KeyDown> intervals;
        keyDowns(text, station.wordsPerMinute, start, 0.0, intervals);
        std::vector<float> envelope(samples.size(), 0.0f);
        drawEnvelope(envelope, intervals, settings.sampleRate);
        const double amplitude = settings.amplitude * decibels(station.levelDb);
        const double hz = settings.pitchHz + station.offsetHz;
        const double phase = uniform(random);
        for (std::size_t n = 0; n < samples.size(); ++n) {
            if (envelope[n] > 0)
                samples[n] += float(amplitude * envelope[n] *
                                    sineAt(hz * double(n) / settings.sampleRate + phase));
        }
    }
}

void addClicks(std::vector<float> &samples, const KeyingSettings &settings)
{
    if (!(settings.clicksPerSecond > 0))
        return;
    std::mt19937 random = randomStream(settings.seed, Stream::Clicks);
    const double rate = settings.sampleRate;
    const double peak = settings.amplitude * decibels(settings.clickLevelDb);
    const auto length = std::size_t(std::ceil(ClickLengthSeconds * rate));
    double time = 0.0;
    for (;;) {
        // Exponential waiting times: a Poisson process.
        time += -std::log(1.0 - uniform(random)) / settings.clicksPerSecond;
        const auto first = std::size_t(time * rate);
        if (first >= samples.size())
            break;
        const double sign = uniform(random) < 0.5 ? -1.0 : 1.0;
        for (std::size_t k = 0; k < length && first + k < samples.size(); ++k) {
            const double shape = k == 0 ? 1.0 : 2 * uniform(random) - 1;
            const double decay = std::exp(-double(k) / rate / ClickDecaySeconds);
            samples[first + k] += float(sign * peak * decay * shape);
        }
    }
}

} // namespace

RayleighFading::RayleighFading(double spreadHz, std::uint32_t seed)
{
    std::mt19937 random = randomStream(seed, Stream::Rayleigh);
    GaussianNoise gaussian(random);
    m_paths.reserve(RayleighPaths);
    for (int path = 0; path < RayleighPaths; ++path) {
        const double hz = gaussian.next() * spreadHz / 2;
        m_paths.push_back({hz, 2 * std::numbers::pi * uniform(random)});
    }
}

std::complex<double> RayleighFading::gain(double seconds) const
{
    std::complex<double> sum = 0.0;
    for (const Path &path : m_paths)
        sum += std::polar(1.0, 2 * std::numbers::pi * path.hz * seconds + path.phase);
    return sum / std::sqrt(double(m_paths.size()));
}

namespace {

// The phase, in cycles, the Doppler pass adds at a time: the integral of its shift.
double dopplerCycles(const DopplerPass &doppler, double seconds, double totalSeconds)
{
    if (doppler.shiftHz == 0.0 || !(doppler.slopeHzPerSecond > 0))
        return 0.0;
    const double mid = std::isnan(doppler.midSeconds) ? totalSeconds / 2 : doppler.midSeconds;
    const double scale = doppler.shiftHz / doppler.slopeHzPerSecond; // seconds
    const double u = (seconds - mid) / scale;
    return -doppler.shiftHz * scale * std::sqrt(1 + u * u);
}

double dopplerHz(const DopplerPass &doppler, double seconds, double totalSeconds)
{
    if (doppler.shiftHz == 0.0 || !(doppler.slopeHzPerSecond > 0))
        return 0.0;
    const double mid = std::isnan(doppler.midSeconds) ? totalSeconds / 2 : doppler.midSeconds;
    const double u = (seconds - mid) * doppler.slopeHzPerSecond / doppler.shiftHz;
    return -doppler.shiftHz * u / std::sqrt(1 + u * u);
}

} // namespace

double pitchAt(const KeyingSettings &settings, double seconds, double totalSeconds)
{
    return settings.pitchHz + settings.driftHzPerSecond * seconds +
           dopplerHz(settings.doppler, seconds, totalSeconds);
}

std::vector<double> transmissionStarts(const QStringList &transmissions,
                                       const KeyingSettings &settings)
{
    std::vector<double> starts;
    double time = settings.leadSeconds;
    for (const QString &line : transmissions) {
        std::vector<KeyDown> intervals;
        const double end = keyDowns({line}, settings.wordsPerMinute, time, 0.0, intervals);
        starts.push_back(intervals.empty() ? std::numeric_limits<double>::quiet_NaN()
                                           : intervals.front().start);
        time = end + settings.gapSeconds;
    }
    return starts;
}

std::vector<float> keyTransmissions(const QStringList &transmissions,
                                    const KeyingSettings &settings)
{
    const double rate = settings.sampleRate;
    std::vector<KeyDown> intervals;
    const double totalSeconds = keyDowns(transmissions, settings.wordsPerMinute,
                                         settings.leadSeconds, settings.gapSeconds, intervals) +
                                settings.leadSeconds;
    std::vector<float> samples(std::size_t(std::ceil(totalSeconds * rate)), 0.0f);
    drawEnvelope(samples, intervals, rate);

    // Each element's carrier phase, held from just before it is keyed until the next one.
    std::vector<float> elementPhase;
    if (settings.phaseWanderRadians > 0) {
        elementPhase.assign(samples.size(), 0.0f);
        GaussianNoise steps(randomStream(settings.seed, Stream::PhaseWander));
        double phase = 0.0;
        for (std::size_t i = 0; i < intervals.size(); ++i) {
            const KeyDown &key = intervals[i];
            const qint64 heldUntil = i + 1 < intervals.size()
                                         ? sampleSpan(intervals[i + 1], rate, samples.size()).first
                                         : qint64(samples.size());
            phase = std::remainder(phase + settings.phaseWanderRadians * steps.next(),
                                   2 * std::numbers::pi);
            const auto first = sampleSpan(key, rate, samples.size()).first;
            std::fill(elementPhase.begin() + first,
                      elementPhase.begin() + std::max(first, heldUntil), float(phase));
        }
    }

    const bool fading = settings.fadingPeriodSeconds > 0.0 && settings.fadingDepthDb > 0.0;
    const bool rayleigh = settings.rayleighSpreadHz > 0.0;
    const RayleighFading rayleighFading(rayleigh ? settings.rayleighSpreadHz : 0.0, settings.seed);
    std::vector<std::complex<double>> rayleighGains;
    if (rayleigh) {
        const auto steps = std::size_t(totalSeconds / RayleighStepSeconds) + 2;
        rayleighGains.reserve(steps);
        for (std::size_t step = 0; step < steps; ++step)
            rayleighGains.push_back(rayleighFading.gain(double(step) * RayleighStepSeconds));
    }
    for (std::size_t n = 0; n < samples.size(); ++n) {
        if (samples[n] == 0.0f)
            continue;
        const double t = double(n) / rate;
        double level = settings.amplitude * samples[n];
        double phase = elementPhase.empty() ? 0.0 : double(elementPhase[n]);
        if (fading) {
            const double lossDb =
                settings.fadingDepthDb / 2 *
                (1 - std::cos(2 * std::numbers::pi * t / settings.fadingPeriodSeconds));
            level *= std::pow(10.0, -lossDb / 20);
        }
        if (rayleigh) {
            const double position = t / RayleighStepSeconds;
            const auto step = std::size_t(position);
            const double fraction = position - double(step);
            const std::complex<double> gain =
                rayleighGains[step] * (1 - fraction) + rayleighGains[step + 1] * fraction;
            level *= std::abs(gain);
            phase += std::arg(gain);
        }
        const double cycles = settings.pitchHz * t + settings.driftHzPerSecond * t * t / 2 +
                              dopplerCycles(settings.doppler, t, totalSeconds) +
                              phase / (2 * std::numbers::pi);
        samples[n] = float(level * sineAt(cycles));
    }

    addCarriers(samples, settings);
    addStations(samples, settings);
    addClicks(samples, settings);
    if (std::isfinite(settings.snrDb)) {
        // Carrier power A^2/2 over noise power in 3 kHz; white noise of variance sigma^2 spreads
        // over fs/2.
        const double carrierPower = settings.amplitude * settings.amplitude / 2;
        const double sigma = std::sqrt(carrierPower / std::pow(10.0, settings.snrDb / 10) *
                                       (rate / 2) / NoiseBandwidthHz);
        if (settings.noiseShape.shaped)
            addShapedNoise(samples, settings, sigma);
        else
            addWhiteNoise(samples, settings.seed, sigma);
    }
    return samples;
}

QString randomBeaconLine(std::mt19937 &random)
{
    QString line =
        QString::fromLatin1(morse::BeaconHeader.data(), qsizetype(morse::BeaconHeader.size()));
    for (int group = 0; group < morse::BeaconGroups; ++group) {
        const auto byte = random() & 0xFFu;
        line += QStringLiteral(" %1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    }
    return line;
}

QString randomChatter(std::mt19937 &random, int characters)
{
    static constexpr std::array<const char *, 24> Words{
        "CQ",  "DE",  "K",   "UR", "RST", "599", "579", "NAME", "QTH", "RIG", "ANT", "WX",
        "TNX", "FER", "QSO", "73", "ES",  "HR",  "BK",  "TU",   "GM",  "GE",  "AGN", "PSE"};
    static constexpr std::string_view Letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    static constexpr std::string_view Digits = "0123456789";
    QString text;
    while (text.size() < characters) {
        if (!text.isEmpty())
            text += QLatin1Char(' ');
        if (random() % 4 == 0) {
            // A call sign: one or two letters, a digit, two or three letters.
            const int prefix = 1 + int(random() % 2);
            for (int i = 0; i < prefix; ++i)
                text += QLatin1Char(Letters[random() % Letters.size()]);
            text += QLatin1Char(Digits[random() % Digits.size()]);
            const int suffix = 2 + int(random() % 2);
            for (int i = 0; i < suffix; ++i)
                text += QLatin1Char(Letters[random() % Letters.size()]);
        } else {
            text += QLatin1StringView(Words[random() % Words.size()]);
        }
    }
    return text;
}

bool writeWav(const QString &path, std::span<const float> samples, int sampleRate)
{
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    float peak = 0.0f;
    for (const float sample : samples)
        peak = std::max(peak, std::abs(sample));
    std::vector<float> scaled;
    if (peak > 1.0f) {
        scaled.reserve(samples.size());
        for (const float sample : samples)
            scaled.push_back(sample * float(WavPeak / peak));
        samples = scaled;
    }
    const auto written = sf_write_float(file, samples.data(), sf_count_t(samples.size()));
    const bool closed = sf_close(file) == 0;
    return closed && written == sf_count_t(samples.size());
}

} // namespace tovrin3::cwgen
