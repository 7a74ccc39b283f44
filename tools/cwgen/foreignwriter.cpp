// SPDX-License-Identifier: GPL-3.0-or-later
#include "foreignwriter.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace tovrin3::cwgen {

namespace {

constexpr double NoiseBandwidthHz = 3000.0;
// The key-down peak of the clean signal after scaling: room for noise at -10 dB in the float
// file without a sample near full scale that a later 16-bit copy would clip.
constexpr double CleanPeak = 0.1;
// Keyed 10 ms blocks are those within 3 dB of the loudest block's power.
constexpr double BlockSeconds = 0.01;
constexpr double KeyedShare = 0.5;
// The width of the equalizer's hump, as a receiver's resonant audio filter.
constexpr double HumpWidthHz = 150.0;
constexpr int ProgramTimeoutMs = 120000;

QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted())
        return QStringLiteral("%1 did not start: %2").arg(program, process.errorString());
    if (!process.waitForFinished(ProgramTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return QStringLiteral("%1 did not finish").arg(program);
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QStringLiteral("%1 failed: %2")
            .arg(program, QString::fromLocal8Bit(process.readAll()).trimmed());
    return {};
}

// A mono float WAV file as written by sox.
bool readWav(const QString &path, std::vector<float> &samples, double &rate)
{
    SF_INFO info{};
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file)
        return false;
    samples.assign(std::size_t(info.frames) * std::size_t(std::max(info.channels, 1)), 0.0f);
    const sf_count_t read = sf_read_float(file, samples.data(), sf_count_t(samples.size()));
    sf_close(file);
    rate = info.samplerate;
    return info.channels == 1 && read == sf_count_t(samples.size());
}

double meanSquare(const std::vector<float> &samples)
{
    return std::inner_product(samples.begin(), samples.end(), samples.begin(), 0.0) /
           double(std::max<std::size_t>(samples.size(), 1));
}

// Key-down carrier power: the mean power of the keyed 10 ms blocks.
double keyDownPower(const std::vector<float> &samples, double rate)
{
    const auto block = std::max<std::size_t>(1, std::size_t(BlockSeconds * rate));
    std::vector<double> powers;
    for (std::size_t at = 0; at + block <= samples.size(); at += block)
        powers.push_back(std::inner_product(samples.begin() + qsizetype(at),
                                            samples.begin() + qsizetype(at + block),
                                            samples.begin() + qsizetype(at), 0.0) /
                         double(block));
    const double loudest = powers.empty() ? 0.0 : *std::max_element(powers.begin(), powers.end());
    double sum = 0.0;
    int count = 0;
    for (const double power : powers) {
        if (power >= KeyedShare * loudest) {
            sum += power;
            ++count;
        }
    }
    return count > 0 ? sum / count : 0.0;
}

QString number(double value)
{
    return QString::number(value, 'g', 10);
}

} // namespace

bool foreignWriterAvailable()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ebook2cw")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("sox")).isEmpty();
}

ForeignSignal foreignSignal(const QStringList &lines, const ForeignSettings &settings,
                            const QString &directory)
{
    ForeignSignal result;
    const QDir dir(directory);
    // ebook2cw's "|S" inserts up to 10 s of silence; an empty chapter separator ("-") keeps
    // everything in one file, and -p leaves out its paragraph sign.
    const int gapMs = std::clamp(int(settings.gapSeconds * 1000), 1, 9999);
    const QString silence = QStringLiteral(" |S%1 ").arg(gapMs);
    QFile text(dir.filePath(QStringLiteral("text.txt")));
    if (!text.open(QIODevice::WriteOnly) ||
        text.write((silence + lines.join(silence) + silence + QLatin1Char('\n')).toLatin1()) < 0) {
        result.error = QStringLiteral("cannot write %1").arg(text.fileName());
        return result;
    }
    text.close();

    QStringList writer{QStringLiteral("-w"), number(settings.wordsPerMinute),
                       QStringLiteral("-f"), number(settings.pitchHz),
                       QStringLiteral("-s"), number(settings.sampleRate),
                       QStringLiteral("-O"), QStringLiteral("-p"),
                       QStringLiteral("-c"), QStringLiteral("-"),
                       QStringLiteral("-o"), dir.filePath(QStringLiteral("keyed"))};
    if (settings.writersNoise)
        writer << QStringLiteral("-N") << number(settings.snrDb);
    writer << text.fileName();
    result.error = run(QStringLiteral("ebook2cw"), writer);
    if (!result.error.isEmpty())
        return result;

    const QString keyed = dir.filePath(QStringLiteral("keyed.wav"));
    const QStringList floatWav{QStringLiteral("-e"), QStringLiteral("floating-point"),
                               QStringLiteral("-b"), QStringLiteral("32")};
    result.error =
        run(QStringLiteral("sox"),
            QStringList{dir.filePath(QStringLiteral("keyed.ogg"))} + floatWav + QStringList{keyed});
    if (!result.error.isEmpty())
        return result;
    std::vector<float> clean;
    double rate = 0.0;
    if (!readWav(keyed, clean, rate) || rate != settings.sampleRate) {
        result.error = QStringLiteral("cannot read %1").arg(keyed);
        return result;
    }
    // A writer that fails quietly gives digital silence, which would read as frames lost.
    if (std::all_of(clean.begin(), clean.end(), [](float sample) { return sample == 0.0f; })) {
        result.error = QStringLiteral("ebook2cw wrote only silence");
        return result;
    }
    const double seconds = double(clean.size()) / rate;
    if (settings.writersNoise || !std::isfinite(settings.snrDb)) {
        result.samples = std::move(clean);
        return result;
    }

    // sox's noise, repeatable (-R); its density per Hz is its mean square over half the rate.
    const QString noise = dir.filePath(QStringLiteral("noise.wav"));
    result.error = run(QStringLiteral("sox"),
                       QStringList{QStringLiteral("-R"), QStringLiteral("-n"), QStringLiteral("-r"),
                                   number(rate), QStringLiteral("-c"), QStringLiteral("1")} +
                           floatWav +
                           QStringList{noise, QStringLiteral("synth"), number(seconds),
                                       QStringLiteral("whitenoise")});
    std::vector<float> noiseSamples;
    double noiseRate = 0.0;
    if (result.error.isEmpty() && !readWav(noise, noiseSamples, noiseRate))
        result.error = QStringLiteral("cannot read %1").arg(noise);
    if (!result.error.isEmpty())
        return result;
    const double carrier = keyDownPower(clean, rate);
    const double cleanScale = CleanPeak / std::sqrt(2 * carrier);
    const double wantedInThreeKilohertz =
        CleanPeak * CleanPeak / 2 / std::pow(10.0, settings.snrDb / 10);
    const double noiseScale = std::sqrt(wantedInThreeKilohertz * (rate / 2) / NoiseBandwidthHz /
                                        meanSquare(noiseSamples));

    const QString mixed = dir.filePath(QStringLiteral("mixed.wav"));
    QStringList mixer{QStringLiteral("-m"),
                      QStringLiteral("-v"),
                      number(cleanScale),
                      keyed,
                      QStringLiteral("-v"),
                      number(noiseScale),
                      noise};
    mixer << floatWav << mixed;
    if (settings.receiverFilter) {
        mixer << QStringLiteral("sinc")
              << QStringLiteral("%1-%2").arg(number(settings.passbandLowHz),
                                             number(settings.passbandHighHz));
        if (settings.humpDb != 0.0)
            mixer << QStringLiteral("equalizer") << number(settings.humpHz)
                  << QStringLiteral("%1h").arg(number(HumpWidthHz)) << number(settings.humpDb);
    }
    result.error = run(QStringLiteral("sox"), mixer);
    if (result.error.isEmpty() && !readWav(mixed, result.samples, rate))
        result.error = QStringLiteral("cannot read %1").arg(mixed);
    return result;
}

} // namespace tovrin3::cwgen
