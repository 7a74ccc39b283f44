// SPDX-License-Identifier: GPL-3.0-or-later
#include "cwsignal.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cmath>
#include <cstdio>
#include <optional>

using namespace tovrin3;

namespace {

enum ExitStatus : int
{
    Success = 0,
    Failure = 1,
    UsageError = 2
};

constexpr double MaxSamples = 256.0 * 1024 * 1024;

struct NumberOption
{
    QCommandLineOption option;
    double *target;
};

int usageError(const QString &message)
{
    std::fprintf(stderr, "tovrin3-cwgen: %s\n", qPrintable(message));
    return UsageError;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tovrin3-cwgen"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TOVRIN3_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Keys text lines as CW audio, one transmission per line, into a WAV file."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("OUTPUT"), QStringLiteral("WAV file to write."));
    parser.addPositionalArgument(QStringLiteral("LINE"), QStringLiteral("Text of a transmission."),
                                 QStringLiteral("[LINE...]"));

    cwgen::KeyingSettings settings;
    double seed = 1;
    double frames = 0;
    const auto number = [](const char *name, const char *help) {
        return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help),
                                  QStringLiteral("VALUE"));
    };
    const std::vector<NumberOption> numbers{
        {number("rate", "Sample rate in Hz (default 8000)."), &settings.sampleRate},
        {number("wpm", "Speed in words per minute, PARIS timing (default 20)."),
         &settings.wordsPerMinute},
        {number("pitch", "Carrier pitch in Hz (default 700)."), &settings.pitchHz},
        {number("drift", "Pitch drift in Hz per second (default 0)."), &settings.driftHzPerSecond},
        {number("snr", "Key-down carrier over noise power in 3 kHz, dB (default: no noise)."),
         &settings.snrDb},
        {number("fading-period", "Period of slow fading in seconds (default: none)."),
         &settings.fadingPeriodSeconds},
        {number("fading-depth", "Depth of the fading in dB."), &settings.fadingDepthDb},
        {number("gap", "Silence between transmissions in seconds (default 3)."),
         &settings.gapSeconds},
        {number("seed", "Seed of the noise and the random frames (default 1)."), &seed},
        {number("frames", "Add this many random beacon frames after the lines."), &frames},
    };
    for (const NumberOption &entry : numbers)
        parser.addOption(entry.option);
    parser.process(app);

    for (const NumberOption &entry : numbers) {
        if (!parser.isSet(entry.option))
            continue;
        bool ok = false;
        *entry.target = parser.value(entry.option).toDouble(&ok);
        if (!ok)
            return usageError(QStringLiteral("--%1 needs a number").arg(entry.option.names()[0]));
    }
    // Written so that NaN fails every range.
    const auto within = [](double value, double low, double high) {
        return value >= low && value <= high;
    };
    if (!within(settings.sampleRate, 8000, 192000))
        return usageError(QStringLiteral("--rate must be 8000 to 192000"));
    if (!within(settings.wordsPerMinute, 1, 100))
        return usageError(QStringLiteral("--wpm must be 1 to 100"));
    if (!within(settings.pitchHz, 1, settings.sampleRate / 2 - 1) ||
        !within(std::abs(settings.driftHzPerSecond), 0, 1000))
        return usageError(QStringLiteral("--pitch must lie below half the sample rate, --drift "
                                         "within 1000 Hz/s"));
    if (!(within(settings.snrDb, -100, 100) || settings.snrDb == qInf()))
        return usageError(QStringLiteral("--snr must be -100 to 100 dB"));
    if (!within(settings.fadingPeriodSeconds, 0, 3600) || !within(settings.fadingDepthDb, 0, 100) ||
        !within(settings.gapSeconds, 0, 3600))
        return usageError(QStringLiteral("--fading-period, --fading-depth or --gap out of range"));
    if (!within(frames, 0, 10000) || !within(seed, 0, 4294967295.0))
        return usageError(QStringLiteral("--frames or --seed out of range"));

    QStringList arguments = parser.positionalArguments();
    if (arguments.isEmpty())
        return usageError(QStringLiteral("no OUTPUT file given"));
    const QString output = arguments.takeFirst();
    settings.seed = std::uint32_t(seed);
    std::mt19937 random(settings.seed);
    for (int frame = 0; frame < int(frames); ++frame)
        arguments << cwgen::randomBeaconLine(random);

    // At most 20 units a character with its gap: refuse signals that would not fit in memory.
    double seconds = 2 * settings.leadSeconds + double(arguments.size()) * settings.gapSeconds;
    for (const QString &line : std::as_const(arguments))
        seconds += double(line.size()) * 20 * 1.2 / settings.wordsPerMinute;
    if (seconds * settings.sampleRate > MaxSamples)
        return usageError(QStringLiteral("the signal would be too long"));
    const std::vector<float> samples = cwgen::keyTransmissions(arguments, settings);
    if (!cwgen::writeWav(output, samples, int(settings.sampleRate))) {
        std::fprintf(stderr, "tovrin3-cwgen: cannot write %s\n", qPrintable(output));
        return Failure;
    }
    return Success;
}
