// SPDX-License-Identifier: GPL-3.0-or-later
#include "audiofile.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sndfile.h>

#include <cmath>

namespace tovrin3::morse {

namespace {

constexpr double LowestRate = 8000.0;
constexpr double HighestRate = 192000.0;
// Interleaved values per read from the file, whatever the number of channels.
constexpr qsizetype ReadBufferValues = 64 * 1024;
// Mono samples handed to the demodulator at a time.
constexpr qsizetype CopyBlockSamples = 16 * 1024;
constexpr double PitchStepHz = 20.0;
constexpr double SpeedStepWpm = 2.0;

// libsndfile reads through these, so that it sees the content and never the file's name (with a
// name it would take some unrecognised files as headerless audio by their extension).
sf_count_t fileLength(void *file)
{
    return static_cast<QFile *>(file)->size();
}

sf_count_t seekFile(sf_count_t offset, int whence, void *userData)
{
    auto *file = static_cast<QFile *>(userData);
    qint64 position = offset;
    if (whence == SEEK_CUR)
        position += file->pos();
    else if (whence == SEEK_END)
        position += file->size();
    if (position < 0 || !file->seek(position))
        return -1;
    return file->pos();
}

sf_count_t readFile(void *data, sf_count_t count, void *file)
{
    const qint64 read = static_cast<QFile *>(file)->read(static_cast<char *>(data), count);
    return read < 0 ? 0 : read;
}

sf_count_t writeNothing(const void *, sf_count_t, void *)
{
    return 0;
}

sf_count_t filePosition(void *file)
{
    return static_cast<QFile *>(file)->pos();
}

SF_VIRTUAL_IO virtualFile()
{
    return SF_VIRTUAL_IO{fileLength, seekFile, readFile, writeNothing, filePosition};
}

QString libraryText(const char *text)
{
    QString reason = QString::fromUtf8(text).trimmed();
    if (reason.endsWith(u'.'))
        reason.chop(1);
    for (const QLatin1StringView prefix :
         {QLatin1StringView("Error : "), QLatin1StringView("Internal error : ")})
        if (reason.startsWith(prefix))
            reason.remove(0, prefix.size());
    return reason;
}

// The byte counts of the sample data a header declares beyond the file's end, as libsndfile
// notes them while it reads the header ("data : 32000 (should be 19956)"): it reads such a file
// up to its end without complaint, but the recording was cut short. The count FFFFFFFF hex means
// "not written": a recorder that streams leaves it so, and then the file's end is the recording's
// end.
std::optional<std::pair<qint64, qint64>> declaredBeyondEnd(const QString &log)
{
    static const QRegularExpression dataChunk(
        QStringLiteral(R"(^\s*(?:data|SSND)\s*:\s*(\d+)\s*\(should be (\d+)\))"),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = dataChunk.match(log);
    if (!match.hasMatch())
        return std::nullopt;
    const qint64 declared = match.captured(1).toLongLong();
    const qint64 present = match.captured(2).toLongLong();
    if (declared == 0xFFFFFFFF || declared <= present)
        return std::nullopt;
    return std::pair{declared, present};
}

} // namespace

struct AudioFileReader::State
{
    ~State() { closeSound(); }

    void closeSound()
    {
        if (sound)
            sf_close(sound);
        sound = nullptr;
    }

    bool fail(const QString &reason)
    {
        closeSound();
        error = reason;
        return false;
    }

    qsizetype failRead(const QString &reason)
    {
        fail(reason);
        return -1;
    }

    bool checkHeader();

    QFile file;
    SF_VIRTUAL_IO io = virtualFile();
    SNDFILE *sound = nullptr;
    SF_INFO info{};
    QString error;
    std::vector<float> values;
    qint64 samplesRead = 0;
};

bool AudioFileReader::State::checkHeader()
{
    if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RAW)
        return fail(QStringLiteral("not an audio file"));
    if (info.samplerate < LowestRate || info.samplerate > HighestRate)
        return fail(QStringLiteral("sample rate %1 Hz: this program reads 8 kHz to 192 kHz")
                        .arg(info.samplerate));
    char log[4096] = {};
    sf_command(sound, SFC_GET_LOG_INFO, log, sizeof log);
    if (const auto cut = declaredBeyondEnd(QString::fromLatin1(log)))
        return fail(QStringLiteral("cut short: the header declares %1 bytes of samples, the file "
                                   "holds %2")
                        .arg(cut->first)
                        .arg(cut->second));
    // Also what a recorder that stopped before it wrote its header's length leaves.
    if (info.frames == 0)
        return fail(QStringLiteral("no samples in the file"));
    return true;
}

AudioFileReader::AudioFileReader() : m_state(std::make_unique<State>()) {}

AudioFileReader::~AudioFileReader() = default;

bool AudioFileReader::open(const QString &path)
{
    m_state = std::make_unique<State>();
    State &state = *m_state;
    if (!QFileInfo(path).isFile() && QFileInfo::exists(path))
        return state.fail(QStringLiteral("not a regular file"));
    state.file.setFileName(path);
    if (!state.file.open(QIODevice::ReadOnly))
        return state.fail(state.file.errorString());
    if (state.file.size() == 0)
        return state.fail(QStringLiteral("empty file, no audio"));
    state.sound = sf_open_virtual(&state.io, SFM_READ, &state.info, &state.file);
    if (!state.sound) {
        if (sf_error(nullptr) == SF_ERR_UNRECOGNISED_FORMAT)
            return state.fail(QStringLiteral("not an audio file"));
        return state.fail(QStringLiteral("damaged audio file (libsndfile: %1)")
                              .arg(libraryText(sf_strerror(nullptr))));
    }
    return state.checkHeader();
}

QString AudioFileReader::errorString() const
{
    return m_state->error;
}

double AudioFileReader::sampleRate() const
{
    return m_state->info.samplerate;
}

qint64 AudioFileReader::length() const
{
    if (!m_state->sound || m_state->info.frames == SF_COUNT_MAX)
        return -1;
    return m_state->info.frames;
}

qsizetype AudioFileReader::read(std::span<float> samples)
{
    State &state = *m_state;
    if (!state.sound)
        return -1;
    const int channels = state.info.channels;
    const qsizetype wanted = std::min<qsizetype>(
        std::ssize(samples), std::max<qsizetype>(1, ReadBufferValues / channels));
    state.values.resize(static_cast<size_t>(wanted * channels));
    const sf_count_t count = sf_readf_float(state.sound, state.values.data(), wanted);
    if (sf_error(state.sound) != SF_ERR_NO_ERROR)
        return state.failRead(QStringLiteral("damaged audio (libsndfile: %1)")
                                  .arg(libraryText(sf_strerror(state.sound))));
    if (count == 0 && length() >= 0 && state.samplesRead < length())
        return state.failRead(QStringLiteral("cut short after %1 of %2 samples")
                                  .arg(state.samplesRead)
                                  .arg(length()));
    for (sf_count_t frame = 0; frame < count; ++frame) {
        float sum = 0.0F;
        for (int channel = 0; channel < channels; ++channel) {
            const float value = state.values[static_cast<size_t>(frame * channels + channel)];
            sum += std::isfinite(value) ? value : 0.0F;
        }
        samples[static_cast<size_t>(frame)] = sum / static_cast<float>(channels);
    }
    state.samplesRead += count;
    return count;
}

double AudioFileReader::fractionRead() const
{
    const qint64 size = m_state->file.size();
    return size > 0 ? static_cast<double>(m_state->file.pos()) / static_cast<double>(size) : 1.0;
}

bool isAudioFile(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    SF_VIRTUAL_IO io = virtualFile();
    SF_INFO info{};
    SNDFILE *sound = sf_open_virtual(&io, SFM_READ, &info, &file);
    if (!sound) {
        const int error = sf_error(nullptr);
        return error != SF_ERR_UNRECOGNISED_FORMAT && error != SF_ERR_SYSTEM;
    }
    const bool headerless = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RAW;
    sf_close(sound);
    return !headerless;
}

std::optional<CwLock> CwLockWatch::update(const CwDemodulator &demodulator)
{
    const CwLock now{demodulator.pitchHz(), demodulator.wordsPerMinute()};
    const bool locked = now.pitchHz > 0.0 && now.wordsPerMinute > 0.0;
    const bool wasLocked = m_told.pitchHz > 0.0 && m_told.wordsPerMinute > 0.0;
    const bool moved = std::abs(now.pitchHz - m_told.pitchHz) >= PitchStepHz ||
                       std::abs(now.wordsPerMinute - m_told.wordsPerMinute) >= SpeedStepWpm;
    if (locked != wasLocked || (locked && moved)) {
        m_told = locked ? now : CwLock{};
        return m_told;
    }
    return std::nullopt;
}

AudioFileCopy
copyAudioFile(const QString &path, const std::function<bool(double fraction)> &progress,
              const std::function<void(const CwLock &lock, double seconds)> &lockChanged)
{
    AudioFileCopy copy;
    AudioFileReader reader;
    if (!reader.open(path)) {
        copy.error = reader.errorString();
        return copy;
    }
    CwDemodulator demodulator(reader.sampleRate());
    CwLockWatch lockWatch;
    std::vector<float> samples(CopyBlockSamples);
    qint64 samplesDone = 0;
    for (;;) {
        const qsizetype count = reader.read(samples);
        if (count < 0) {
            copy.error = reader.errorString();
            copy.lines.clear();
            return copy;
        }
        if (count == 0)
            break;
        demodulator.process(std::span<const float>(samples.data(), static_cast<size_t>(count)));
        samplesDone += count;
        std::ranges::move(demodulator.takeLines(), std::back_inserter(copy.lines));
        if (lockChanged)
            if (const auto lock = lockWatch.update(demodulator))
                lockChanged(*lock, static_cast<double>(samplesDone) / reader.sampleRate());
        if (progress && !progress(reader.fractionRead())) {
            copy.cancelled = true;
            copy.lines.clear();
            return copy;
        }
    }
    demodulator.finish();
    std::ranges::move(demodulator.takeLines(), std::back_inserter(copy.lines));
    return copy;
}

} // namespace tovrin3::morse
