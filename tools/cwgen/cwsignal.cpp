// SPDX-License-Identifier: GPL-3.0-or-later
#include "cwsignal.h"

#include "morsecode.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tovrin3::cwgen {

namespace {

constexpr double EdgeSeconds = 0.005;
constexpr double NoiseBandwidthHz = 3000.0;

struct KeyDown
{
    double start;
    double end;
};

// Key-down intervals in seconds for the lines, PARIS timing: dot 1, dash 3, element gap 1,
// letter gap 3, word gap 7 units. Characters Morse code lacks are left out.
std::vector<KeyDown> keyDowns(const QStringList &transmissions, const KeyingSettings &settings,
                              double &totalSeconds)
{
    const double unit = 1.2 / settings.wordsPerMinute;
    std::vector<KeyDown> intervals;
    double time = settings.leadSeconds;
    for (qsizetype line = 0; line < transmissions.size(); ++line) {
        if (line > 0)
            time += settings.gapSeconds;
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
    totalSeconds = time + settings.leadSeconds;
    return intervals;
}

// Raised-cosine edges centred on the nominal key times, so an element keeps its length at half
// amplitude.
void drawEnvelope(std::vector<float> &envelope, const std::vector<KeyDown> &intervals,
                  double sampleRate)
{
    const double half = EdgeSeconds / 2;
    for (const KeyDown &key : intervals) {
        const auto first = std::max<qint64>(0, qint64(std::ceil((key.start - half) * sampleRate)));
        const auto last = std::min<qint64>(qint64(envelope.size()) - 1,
                                           qint64(std::floor((key.end + half) * sampleRate)));
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

// Gaussian samples by Box-Muller on the Mersenne Twister's raw output, so a seed gives the same
// noise with every standard library.
class GaussianNoise
{
public:
    explicit GaussianNoise(std::uint32_t seed) : m_random(seed) {}
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

} // namespace

std::vector<float> keyTransmissions(const QStringList &transmissions,
                                    const KeyingSettings &settings)
{
    const double rate = settings.sampleRate;
    double totalSeconds = 0.0;
    const std::vector<KeyDown> intervals = keyDowns(transmissions, settings, totalSeconds);
    std::vector<float> samples(std::size_t(std::ceil(totalSeconds * rate)), 0.0f);
    drawEnvelope(samples, intervals, rate);

    const bool fading = settings.fadingPeriodSeconds > 0.0 && settings.fadingDepthDb > 0.0;
    const bool noisy = std::isfinite(settings.snrDb);
    // Carrier power A^2/2 over noise power in 3 kHz; white noise of variance sigma^2 spreads
    // over fs/2.
    const double carrierPower = settings.amplitude * settings.amplitude / 2;
    const double sigma = noisy ? std::sqrt(carrierPower / std::pow(10.0, settings.snrDb / 10) *
                                           (rate / 2) / NoiseBandwidthHz)
                               : 0.0;
    GaussianNoise noise(settings.seed);
    for (std::size_t n = 0; n < samples.size(); ++n) {
        const double t = double(n) / rate;
        double level = settings.amplitude * samples[n];
        if (fading) {
            const double lossDb =
                settings.fadingDepthDb / 2 *
                (1 - std::cos(2 * std::numbers::pi * t / settings.fadingPeriodSeconds));
            level *= std::pow(10.0, -lossDb / 20);
        }
        const double cycles = settings.pitchHz * t + settings.driftHzPerSecond * t * t / 2;
        double value = level * std::sin(2 * std::numbers::pi * (cycles - std::floor(cycles)));
        if (noisy)
            value += sigma * noise.next();
        samples[n] = float(value);
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

bool writeWav(const QString &path, std::span<const float> samples, int sampleRate)
{
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const auto written = sf_write_float(file, samples.data(), sf_count_t(samples.size()));
    const bool closed = sf_close(file) == 0;
    return closed && written == sf_count_t(samples.size());
}

} // namespace tovrin3::cwgen
