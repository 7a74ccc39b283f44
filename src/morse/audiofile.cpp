// SPDX-License-Identifier: GPL-3.0-or-later
#include "audiofile.h"

#include "containerchecks.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sndfile.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tovrin3::morse {

namespace {

// Interleaved values per read from the file, whatever the number of channels.
constexpr qsizetype ReadBufferValues = 64 * 1024;
// Mono samples handed to the demodulator at a time.
constexpr qsizetype CopyBlockSamples = 16 * 1024;
constexpr double PitchStepHz = 20.0;
constexpr double SpeedStepWpm = 2.0;

// libsndfile reads through these, so that it sees the content and never the file's name (with a
// name it would take some unrecognised files as headerless audio by their extension).
sf_count_t deviceLength(void *device)
{
    return static_cast<QIODevice *>(device)->size();
}

sf_count_t seekDevice(sf_count_t offset, int whence, void *userData)
{
    auto *device = static_cast<QIODevice *>(userData);
    qint64 position = offset;
    if (whence == SEEK_CUR)
        position += device->pos();
    else if (whence == SEEK_END)
        position += device->size();
    if (position < 0 || !device->seek(position))
        return -1;
    return device->pos();
}

sf_count_t readDevice(void *data, sf_count_t count, void *device)
{
    const qint64 read = static_cast<QIODevice *>(device)->read(static_cast<char *>(data), count);
    return read < 0 ? 0 : read;
}

sf_count_t writeNothing(const void *, sf_count_t, void *)
{
    return 0;
}

sf_count_t devicePosition(void *device)
{
    return static_cast<QIODevice *>(device)->pos();
}

SF_VIRTUAL_IO virtualDevice()
{
    return SF_VIRTUAL_IO{deviceLength, seekDevice, readDevice, writeNothing, devicePosition};
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

QString parseLog(SNDFILE *sound)
{
    std::array<char, 8192> log{};
    sf_command(sound, SFC_GET_LOG_INFO, log.data(), int(log.size()));
    return QString::fromLatin1(log.data());
}

QString rateError(qint64 rate)
{
    return QStringLiteral("sample rate %1 Hz: this program reads 4 kHz to 192 kHz").arg(rate);
}

// The sample rate a header declares, as libsndfile notes it while it reads the header, also when
// it then refuses the file ("Sample Rate : 0").
std::optional<qint64> loggedSampleRate(const QString &log)
{
    static const QRegularExpression rate(QStringLiteral(R"(^\s*Sample Rate\s*:\s*(\d+)\s*$)"),
                                         QRegularExpression::MultilineOption |
                                             QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = rate.match(log);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toLongLong();
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

    bool open();
    bool openFailed();
    bool checkHeader();

    std::unique_ptr<QIODevice> file;
    // What libsndfile reads: the file, or the whole pages of an Ogg file cut short.
    std::unique_ptr<QIODevice> pages;
    SF_VIRTUAL_IO io = virtualDevice();
    SNDFILE *sound = nullptr;
    SF_INFO info{};
    QString error;
    // The damage found on opening, told once the samples before it are read.
    QString damage;
    std::vector<float> values;
    qint64 samplesRead = 0;
};

bool AudioFileReader::State::open()
{
    if (file->size() == 0)
        return fail(QStringLiteral("empty file, no audio"));
    if (!passesMpegCheck(*file))
        return fail(QStringLiteral("not an audio file"));
    QIODevice *source = file.get();
    if (file->peek(4) == "OggS") {
        const OggWalk walk = walkOggPages(*file);
        damage = walk.damage;
        pages = closedOggPages(*file, walk);
        if (pages)
            source = pages.get();
    }
    sound = sf_open_virtual(&io, SFM_READ, &info, source);
    if (!sound)
        return openFailed();
    return checkHeader();
}

bool AudioFileReader::State::openFailed()
{
    const int code = sf_error(nullptr);
    const QString reason = libraryText(sf_strerror(nullptr));
    if (code == SF_ERR_UNRECOGNISED_FORMAT)
        return fail(QStringLiteral("not an audio file"));
    const std::optional<qint64> rate = loggedSampleRate(parseLog(nullptr));
    if (rate && (double(*rate) < LowestSampleRate || double(*rate) > HighestSampleRate))
        return fail(rateError(*rate));
    if (!damage.isEmpty())
        return fail(damage);
    return fail(QStringLiteral("damaged audio file (libsndfile: %1)").arg(reason));
}

bool AudioFileReader::State::checkHeader()
{
    if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RAW)
        return fail(QStringLiteral("not an audio file"));
    if (info.samplerate < LowestSampleRate || info.samplerate > HighestSampleRate)
        return fail(rateError(info.samplerate));
    if (damage.isEmpty())
        damage = declaredBeyondEnd(parseLog(sound));
    if (damage.isEmpty() && (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_NIST)
        damage = nistDamage(*file, info.frames);
    // Also what a recorder that stopped before it wrote its header's length leaves.
    if (info.frames == 0)
        return fail(damage.isEmpty() ? QStringLiteral("no samples in the file") : damage);
    return true;
}

AudioFileReader::AudioFileReader() : m_state(std::make_unique<State>()) {}

AudioFileReader::~AudioFileReader() = default;

bool AudioFileReader::open(const QByteArray &localPath)
{
    m_state = std::make_unique<State>();
    State &state = *m_state;
    struct stat status
    {
    };
    if (::stat(localPath.constData(), &status) == 0 && !S_ISREG(status.st_mode))
        return state.fail(QStringLiteral("not a regular file"));
    const int descriptor = ::open(localPath.constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return state.fail(QString::fromLocal8Bit(std::strerror(errno)));
    auto file = std::make_unique<QFile>();
    if (!file->open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return state.fail(file->errorString());
    }
    state.file = std::move(file);
    return state.open();
}

bool AudioFileReader::open(const QString &path)
{
    return open(QFile::encodeName(path));
}

bool AudioFileReader::open(std::unique_ptr<QIODevice> device)
{
    m_state = std::make_unique<State>();
    if (!device || !device->isOpen() || device->isSequential())
        return m_state->fail(QStringLiteral("not a regular file"));
    m_state->file = std::move(device);
    return m_state->open();
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
        return state.failRead(state.damage.isEmpty()
                                  ? QStringLiteral("damaged audio (libsndfile: %1)")
                                        .arg(libraryText(sf_strerror(state.sound)))
                                  : state.damage);
    if (count == 0 && !state.damage.isEmpty())
        return state.failRead(state.damage);
    if (count == 0 && length() >= 0 && state.samplesRead < length())
        return state.failRead(QStringLiteral("cut short after %1 of %2 samples")
                                  .arg(state.samplesRead)
                                  .arg(length()));
    // Each channel is scaled before the sum: values near the largest float add up to infinity.
    const float scale = 1.0F / static_cast<float>(channels);
    for (sf_count_t frame = 0; frame < count; ++frame) {
        float sum = 0.0F;
        for (int channel = 0; channel < channels; ++channel) {
            const float value = state.values[static_cast<size_t>(frame * channels + channel)];
            sum += std::isfinite(value) ? value * scale : 0.0F;
        }
        samples[static_cast<size_t>(frame)] = std::isfinite(sum) ? sum : 0.0F;
    }
    state.samplesRead += count;
    return count;
}

double AudioFileReader::fractionRead() const
{
    const QIODevice *device = m_state->pages ? m_state->pages.get() : m_state->file.get();
    if (!device)
        return 1.0;
    const qint64 size = device->size();
    return size > 0 ? static_cast<double>(device->pos()) / static_cast<double>(size) : 1.0;
}

namespace {

// Whether libsndfile takes the content for audio: a format it knows, even when the header
// proves damaged.
bool recognisedAsAudio(QIODevice &device)
{
    if (!passesMpegCheck(device))
        return false;
    SF_VIRTUAL_IO io = virtualDevice();
    SF_INFO info{};
    SNDFILE *sound = sf_open_virtual(&io, SFM_READ, &info, &device);
    if (!sound) {
        const int error = sf_error(nullptr);
        return error != SF_ERR_UNRECOGNISED_FORMAT && error != SF_ERR_SYSTEM;
    }
    const bool headerless = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RAW;
    sf_close(sound);
    return !headerless;
}

} // namespace

bool isAudioFile(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return recognisedAsAudio(file);
}

bool startsLikeAudio(QByteArrayView firstBytes)
{
    QByteArray bytes = firstBytes.toByteArray();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return recognisedAsAudio(buffer);
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

namespace {

void demodulate(AudioFileReader &reader, const CopyProgress &progress,
                const LockReport &lockChanged, AudioFileCopy &copy)
{
    CwDemodulator demodulator(reader.sampleRate());
    CwLockWatch lockWatch;
    std::vector<float> samples(CopyBlockSamples);
    qint64 samplesDone = 0;
    for (;;) {
        const qsizetype count = reader.read(samples);
        if (count < 0) {
            copy.error = reader.errorString();
            break;
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
            return;
        }
    }
    demodulator.finish();
    std::ranges::move(demodulator.takeLines(), std::back_inserter(copy.lines));
    // A transmission that lasts to the end of the file is decoded only now.
    if (lockChanged)
        if (const auto lock = lockWatch.update(demodulator))
            lockChanged(*lock, static_cast<double>(samplesDone) / reader.sampleRate());
}

} // namespace

// A demodulator whose library fails (out of memory) ends the copy like damage in the file: the
// lines copied so far stay, with the reason.
AudioFileCopy copyAudio(AudioFileReader &reader, const CopyProgress &progress,
                        const LockReport &lockChanged)
{
    AudioFileCopy copy;
    if (!reader.errorString().isEmpty()) {
        copy.error = reader.errorString();
        return copy;
    }
    try {
        demodulate(reader, progress, lockChanged, copy);
    } catch (const std::exception &failure) {
        copy.error = QString::fromLocal8Bit(failure.what());
    }
    return copy;
}

AudioFileCopy copyAudioFile(const QByteArray &localPath, const CopyProgress &progress,
                            const LockReport &lockChanged)
{
    AudioFileReader reader;
    reader.open(localPath);
    return copyAudio(reader, progress, lockChanged);
}

AudioFileCopy copyAudioFile(const QString &path, const CopyProgress &progress,
                            const LockReport &lockChanged)
{
    return copyAudioFile(QFile::encodeName(path), progress, lockChanged);
}

} // namespace tovrin3::morse
