// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Signals from a Morse writer that is not ours: Debian's ebook2cw keys the text (its own timing,
// edges and Ogg Vorbis coding), sox adds white noise and a receiver's filter. So the demodulator
// is measured on keying our generator did not make.
#include <QString>
#include <QStringList>

#include <limits>
#include <vector>

namespace tovrin3::cwgen {

struct ForeignSettings
{
    double sampleRate = 8000.0;
    double wordsPerMinute = 20.0;
    double pitchHz = 700.0;
    // Key-down carrier power over the noise power in 3 kHz at the pitch, sox's white noise;
    // infinity: no noise.
    double snrDb = std::numeric_limits<double>::infinity();
    // Instead: ebook2cw's own noise at its own SNR (-10 to 10 dB). Its own band-pass filter (-B)
    // is left out: the ebook2cw Debian ships writes digital silence with it.
    bool writersNoise = false;
    // A receiver's filter after the noise: sox's "sinc" passband, and a peaking equalizer's hump
    // humpDb high at humpHz (0: none).
    bool receiverFilter = true;
    double passbandLowHz = 300.0;
    double passbandHighHz = 2700.0;
    double humpDb = 0.0;
    double humpHz = 1250.0;
    double gapSeconds = 3.0; // silence between the lines and around them
};

struct ForeignSignal
{
    std::vector<float> samples;
    QString error; // empty when the programs made the signal
};

// Whether ebook2cw and sox are on the path.
bool foreignWriterAvailable();

// The lines keyed by ebook2cw one after the other with gapSeconds between them, through sox, made
// in `directory` (which must exist; the files stay there). The sample rate is settings.sampleRate.
// Every program runs from an argument list.
ForeignSignal foreignSignal(const QStringList &lines, const ForeignSettings &settings,
                            const QString &directory);

} // namespace tovrin3::cwgen
