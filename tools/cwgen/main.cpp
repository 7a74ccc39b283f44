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

// "A,B[,C]": numbers separated by commas, at least `least` and at most `most` of them.
std::optional<std::vector<double>> numberList(const QString &text, qsizetype least, qsizetype most)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() < least || parts.size() > most)
        return std::nullopt;
    std::vector<double> values;
    for (const QString &part : parts) {
        bool ok = false;
        values.push_back(part.trimmed().toDouble(&ok));
        if (!ok)
            return std::nullopt;
    }
    return values;
}

// Written so that NaN fails every range.
bool within(double value, double low, double high)
{
    return value >= low && value <= high;
}

struct ListOption
{
    QCommandLineOption option;
    qsizetype least;
    qsizetype most;
};

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
        {number("fading-period",
                "Period of slow sine fading of the beacon in seconds (default: none); the "
                "SNR holds at its peak."),
         &settings.fadingPeriodSeconds},
        {number("fading-depth", "Depth of the fading in dB."), &settings.fadingDepthDb},
        {number("rayleigh", "Rayleigh fading of the beacon with this Doppler spread in Hz "
                            "(0.2 is typical); the SNR is then the mean."),
         &settings.rayleighSpreadHz},
        {number("clicks", "Impulse clicks per second, at random times (default: none)."),
         &settings.clicksPerSecond},
        {number("click-level", "Peak of a click over the beacon's key-down peak, dB (default 6)."),
         &settings.clickLevelDb},
        {number("phase-wander", "Standard deviation of the beacon's carrier phase step between "
                                "elements, radians (default 0)."),
         &settings.phaseWanderRadians},
        {number("gap", "Silence between transmissions in seconds (default 3)."),
         &settings.gapSeconds},
        {number("seed", "Seed of the noise and the random frames (default 1)."), &seed},
        {number("frames", "Add this many random beacon frames after the lines."), &frames},
    };
    for (const NumberOption &entry : numbers)
        parser.addOption(entry.option);
    const auto list = [](const char *name, const char *values, const char *help) {
        return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help),
                                  QString::fromLatin1(values));
    };
    const ListOption hump{list("hump", "DB,HZ[,WIDTH]",
                               "Noise of a receiver's passband with a hump DB above its floor at "
                               "HZ, WIDTH Hz wide at half its height (default 200); the SNR is "
                               "measured at the pitch."),
                          2, 3};
    const ListOption passband{list("passband", "LOW,HIGH",
                                   "Noise of a receiver's passband from LOW to HIGH Hz (default "
                                   "300,2700 with --hump)."),
                              2, 2};
    const ListOption carrier{list("carrier", "OFFSET,LEVEL",
                                  "A steady carrier OFFSET Hz from the pitch, LEVEL dB over the "
                                  "beacon's key-down power; may be repeated."),
                             2, 2};
    const ListOption station{list("station", "OFFSET,WPM,LEVEL",
                                  "Another CW station sending without pause OFFSET Hz from the "
                                  "pitch at WPM, LEVEL dB over the beacon; may be repeated."),
                             3, 3};
    const ListOption doppler{list("doppler", "SHIFT,SLOPE[,MID]",
                                  "An uncorrected Doppler pass: the pitch falls from SHIFT Hz "
                                  "above to SHIFT Hz below, SLOPE Hz/s at mid-pass, MID seconds "
                                  "into the signal (default: its middle)."),
                             2, 3};
    for (const ListOption *entry : {&hump, &passband, &carrier, &station, &doppler})
        parser.addOption(entry->option);
    parser.process(app);

    // Each value of a list option, checked for its count of numbers.
    std::vector<std::vector<double>> humpValues, passbandValues, carrierValues, stationValues,
        dopplerValues;
    const std::vector<std::pair<const ListOption *, std::vector<std::vector<double>> *>> lists{
        {&hump, &humpValues},
        {&passband, &passbandValues},
        {&carrier, &carrierValues},
        {&station, &stationValues},
        {&doppler, &dopplerValues}};
    for (const auto &[entry, values] : lists) {
        for (const QString &text : parser.values(entry->option)) {
            const auto parsed = numberList(text, entry->least, entry->most);
            if (!parsed)
                return usageError(QStringLiteral("--%1 needs %2")
                                      .arg(entry->option.names()[0], entry->option.valueName()));
            values->push_back(*parsed);
        }
    }

    for (const NumberOption &entry : numbers) {
        if (!parser.isSet(entry.option))
            continue;
        bool ok = false;
        *entry.target = parser.value(entry.option).toDouble(&ok);
        if (!ok)
            return usageError(QStringLiteral("--%1 needs a number").arg(entry.option.names()[0]));
    }
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
    if (!within(settings.rayleighSpreadHz, 0, 100) || !within(settings.clicksPerSecond, 0, 1000) ||
        !within(settings.clickLevelDb, -100, 60) || !within(settings.phaseWanderRadians, 0, 100))
        return usageError(
            QStringLiteral("--rayleigh, --clicks, --click-level or --phase-wander out of range"));
    const double nyquist = settings.sampleRate / 2;
    if (!humpValues.empty() || !passbandValues.empty()) {
        cwgen::NoiseShape &shape = settings.noiseShape;
        shape.shaped = true;
        if (!passbandValues.empty()) {
            shape.passbandLowHz = passbandValues.back()[0];
            shape.passbandHighHz = passbandValues.back()[1];
        }
        if (!humpValues.empty()) {
            shape.humpDb = humpValues.back()[0];
            shape.humpHz = humpValues.back()[1];
            if (humpValues.back().size() > 2)
                shape.humpWidthHz = humpValues.back()[2];
        }
        if (!within(shape.passbandLowHz, 0, nyquist) ||
            !within(shape.passbandHighHz, shape.passbandLowHz + 1, nyquist) ||
            !within(settings.pitchHz, shape.passbandLowHz, shape.passbandHighHz))
            return usageError(QStringLiteral("--passband must hold the pitch, below half the "
                                             "sample rate"));
        if (!within(shape.humpDb, -60, 60) || !within(shape.humpHz, 0, nyquist) ||
            !within(shape.humpWidthHz, 1, nyquist))
            return usageError(QStringLiteral("--hump needs -60 to 60 dB, below half the sample "
                                             "rate"));
    }
    for (const std::vector<double> &values : carrierValues) {
        if (!within(settings.pitchHz + values[0], 1, nyquist - 1) || !within(values[1], -100, 60))
            return usageError(QStringLiteral("--carrier must lie below half the sample rate, "
                                             "its level within -100 to 60 dB"));
        settings.carriers.push_back({values[0], values[1]});
    }
    for (const std::vector<double> &values : stationValues) {
        if (!within(settings.pitchHz + values[0], 1, nyquist - 1) || !within(values[1], 1, 100) ||
            !within(values[2], -100, 60))
            return usageError(QStringLiteral("--station must lie below half the sample rate, at "
                                             "1 to 100 WPM, its level within -100 to 60 dB"));
        settings.stations.push_back({values[0], values[1], values[2]});
    }
    if (!dopplerValues.empty()) {
        const std::vector<double> &values = dopplerValues.back();
        settings.doppler.shiftHz = values[0];
        settings.doppler.slopeHzPerSecond = values[1];
        if (values.size() > 2)
            settings.doppler.midSeconds = values[2];
        if (!within(std::abs(values[0]), 0, settings.pitchHz - 1) ||
            !within(settings.pitchHz + std::abs(values[0]), 0, nyquist - 1) ||
            !within(values[1], 0.001, 1000) || (values.size() > 2 && !within(values[2], -1e6, 1e6)))
            return usageError(QStringLiteral("--doppler must keep the pitch between 0 Hz and half "
                                             "the sample rate, at 0.001 to 1000 Hz/s"));
    }
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
