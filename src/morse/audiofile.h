// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cwdemodulator.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace tovrin3::morse {

inline constexpr double LowestSampleRate = 4000.0;
inline constexpr double HighestSampleRate = 192000.0;

// An audio recording read by its content (WAV, FLAC, Ogg Vorbis, Ogg Opus and whatever else
// libsndfile reads), mixed down to mono. No library it uses writes to the terminal.
class AudioFileReader
{
public:
    AudioFileReader();
    ~AudioFileReader();

    // False for a file that is not audio or declares absurd values; errorString() then says why
    // in one line. Only the content counts, never the file's name; the sample rate must lie
    // between 4 kHz and 192 kHz. `localPath` is the file's name as bytes, as the user gave it.
    bool open(const QByteArray &localPath);
    bool open(const QString &path);
    // The same for a recording held in an open device that can seek (a stream copied to a
    // temporary file).
    bool open(std::unique_ptr<QIODevice> device);
    QString errorString() const;

    double sampleRate() const;
    // Declared length in mono samples; -1 when the file does not declare it.
    qint64 length() const;

    // Fills `samples` from the start on; returns how many were read, 0 at the end, -1 on an error.
    // A file that is damaged (cut short before its declared length or its end-of-stream page, a
    // gap or a broken checksum in its Ogg pages) gives the samples before the damage, then the
    // error. Every sample is a finite number: a value that is none (in a damaged float file)
    // reads as silence, and channels are scaled before they are mixed, so that finite values
    // never add up to an infinite one.
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

// Whether the first bytes of a stream are those of a recording, even a damaged one. A few dozen
// bytes tell; a text file's never do.
bool startsLikeAudio(QByteArrayView firstBytes);

struct AudioFileCopy
{
    std::vector<CopiedLine> lines; // after an error, the lines copied before the damage
    QString error;                 // empty when the whole file was read
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

using CopyProgress = std::function<bool(double fraction)>;
using LockReport = std::function<void(const CwLock &lock, double seconds)>;

// Demodulates a whole recording. `progress` is told the fraction done now and then and may
// return false to cancel; a cancelled copy keeps no lines, a damaged recording keeps those
// copied before the damage. `lockChanged` is told what CwLockWatch picks out, with the time in
// the recording in seconds.
AudioFileCopy copyAudio(AudioFileReader &reader, const CopyProgress &progress = {},
                        const LockReport &lockChanged = {});
AudioFileCopy copyAudioFile(const QString &path, const CopyProgress &progress = {},
                            const LockReport &lockChanged = {});
AudioFileCopy copyAudioFile(const QByteArray &localPath, const CopyProgress &progress = {},
                            const LockReport &lockChanged = {});

} // namespace tovrin3::morse
