// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Recordings of every kind libsndfile writes, and the samples of one read back, for the tests
// that prepare or inspect audio files.
#include "filetesting.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <sndfile.h>

#include <span>
#include <vector>

namespace tovrin3::testing {

// Writes the mono samples into the first channel of a file of the given kind (SF_FORMAT_...);
// the other channels stay silent. A date, when given, is the file's date tag.
inline bool writeSound(const QString &path, std::span<const float> samples, int sampleRate,
                       int format, int channels = 1, const char *date = nullptr)
{
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = format;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    if (date && sf_set_string(file, SF_STR_DATE, date) != 0) {
        sf_close(file);
        return false;
    }
    std::vector<float> frames(samples.size() * static_cast<size_t>(channels), 0.0F);
    for (size_t index = 0; index < samples.size(); ++index)
        frames[index * static_cast<size_t>(channels)] = samples[index];
    const auto count = static_cast<sf_count_t>(samples.size());
    const bool written = sf_writef_float(file, frames.data(), count) == count;
    return sf_close(file) == 0 && written;
}

// The bytes of such a file; empty when it cannot be written.
inline QByteArray soundBytes(std::span<const float> samples, int sampleRate, int format,
                             int channels = 1)
{
    const QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("sound"));
    return writeSound(path, samples, sampleRate, format, channels) ? fileContent(path)
                                                                   : QByteArray();
}

// A mono file's samples; empty when it cannot be read whole.
inline std::vector<float> readSound(const QString &path)
{
    SF_INFO info{};
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file)
        return {};
    std::vector<float> samples(static_cast<size_t>(info.frames));
    const sf_count_t read = sf_read_float(file, samples.data(), info.frames);
    sf_close(file);
    return read == info.frames && info.channels == 1 ? samples : std::vector<float>{};
}

} // namespace tovrin3::testing
