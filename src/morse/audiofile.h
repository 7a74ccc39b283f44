// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cwdemodulator.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace tovrin3::morse {

// An audio recording read by its content (WAV, FLAC, Ogg Vorbis, Ogg Opus), mixed down to mono.
class AudioFileReader
{
public:
    AudioFileReader();
    ~AudioFileReader();

    // False for a file that is not audio, is cut short or declares absurd values; errorString()
    // then says why in one line. Only the content counts, never the file's name; the sample rate
    // must lie between 8 kHz and 192 kHz.
    bool open(const QString &path);
    QString errorString() const;

    double sampleRate() const;
    // Declared length in mono samples; -1 when the file does not declare it.
    qint64 length() const;

    // Fills `samples` from the start on; returns how many were read, 0 at the end, -1 on an error.
    // Running out of samples before the declared length is an error: the file was cut short.
    // Samples that are no number (in a damaged float file) read as silence.
    qsizetype read(std::span<float> samples);

    // The part of the file read so far, from 0 to 1.
    double fractionRead() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Whether the file's content is audio, even damaged audio: such a file is read with
// AudioFileReader, never as text. False for what is not a regular file (a pipe), since looking
// would take bytes out of it.
bool isAudioFile(const QString &path);

struct AudioFileCopy
{
    std::vector<CopiedLine> lines;
    QString error; // empty when the whole file was read
    bool cancelled = false;
};

// What the demodulator is locked on, for a user to see; 0 where it has found nothing.
struct CwLock
{
    double pitchHz = 0.0;
    double wordsPerMinute = 0.0;
};

// Picks out the lock changes worth telling a user: the first lock, a loss of lock, a pitch
// 20 Hz or a speed 2 WPM away from what was last told. A slow Doppler drift is told now and then,
// not at every step.
class CwLockWatch
{
public:
    std::optional<CwLock> update(const CwDemodulator &demodulator);

private:
    CwLock m_told;
};

// Demodulates a whole recording. `progress` is told the fraction done now and then and may
// return false to cancel; a cancelled or failed copy keeps no lines. `lockChanged` is told what
// CwLockWatch picks out, with the time in the recording in seconds.
AudioFileCopy
copyAudioFile(const QString &path, const std::function<bool(double fraction)> &progress = {},
              const std::function<void(const CwLock &lock, double seconds)> &lockChanged = {});

} // namespace tovrin3::morse
