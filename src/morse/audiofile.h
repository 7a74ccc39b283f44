#pragma once

#include "cwdemodulator.h"

#include <QString>

#include <functional>
#include <memory>
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
    // then says why in one line.
    bool open(const QString &path);
    QString errorString() const;

    double sampleRate() const;
    // Declared length in mono samples.
    qint64 length() const;

    // Fills `samples` from the start on; returns how many were read, 0 at the end, -1 on an error.
    qsizetype read(std::span<float> samples);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Whether the file's content is audio this program reads.
bool isAudioFile(const QString &path);

struct AudioFileCopy
{
    std::vector<CopiedLine> lines;
    QString error; // empty when the whole file was read
    bool cancelled = false;
};

// Demodulates a whole recording. `progress` is told the fraction done now and then and may
// return false to cancel; a cancelled or failed copy keeps no lines.
AudioFileCopy copyAudioFile(const QString &path,
                            const std::function<bool(double fraction)> &progress = {});

} // namespace tovrin3::morse
