// SPDX-License-Identifier: GPL-3.0-or-later
#include "audiofile.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QtEndian>

#include <sndfile.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>

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
// A header's declared length may exceed what the file holds by the padding a chunk may lack at
// the very end (one byte in RIFF, up to seven in Wave64) without a sample missing.
constexpr qint64 MissingPaddingBytes = 8;
// The length field value a recorder that streams leaves unwritten.
constexpr qint64 UnwrittenLength = 0xFFFFFFFF;

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

// A length a header declares beyond the file's end, as libsndfile notes it while it reads the
// header ("data : 32000 (should be 19956)", "Data Size : ...", "riff : ...", and a frame count
// that "does not match value from 'ds64' chunk"): it reads such a file up to its end without
// complaint, but the recording was cut short.
QString declaredBeyondEnd(const QString &log)
{
    static const QRegularExpression shouldBe(
        QStringLiteral(R"(^\s*([A-Za-z][A-Za-z ]*?)\s*:\s*(\d+)\s*\(should be (\d+)\))"),
        QRegularExpression::MultilineOption);
    for (auto matches = shouldBe.globalMatch(log); matches.hasNext();) {
        const QRegularExpressionMatch match = matches.next();
        const qint64 declared = match.captured(2).toLongLong();
        const qint64 present = match.captured(3).toLongLong();
        if (declared != UnwrittenLength && declared > present + MissingPaddingBytes)
            return QStringLiteral("cut short: the header declares %1 bytes (%2), the file holds "
                                  "%3")
                .arg(declared)
                .arg(match.captured(1).trimmed().toLower())
                .arg(present);
    }
    static const QRegularExpression frameCount(
        QStringLiteral(R"(frame count (\d+) does not match value from '\w+' chunk of (\d+))"));
    const QRegularExpressionMatch match = frameCount.match(log);
    if (match.hasMatch() && match.captured(2).toLongLong() > match.captured(1).toLongLong())
        return QStringLiteral("cut short: the header declares %1 samples, the file holds %2")
            .arg(match.captured(2), match.captured(1));
    return {};
}

// A NIST SPHERE header declares its samples per channel in a text line "sample_count -i N".
QString nistDamage(QIODevice &device, qint64 frames)
{
    constexpr qint64 NistHeaderSize = 1024;
    device.seek(0);
    const QByteArray header = device.peek(NistHeaderSize);
    if (!header.startsWith("NIST_1A"))
        return {};
    static const QRegularExpression sampleCount(QStringLiteral(R"(\bsample_count\s+-i\s+(\d+))"));
    const QRegularExpressionMatch match = sampleCount.match(QString::fromLatin1(header));
    if (match.hasMatch() && match.captured(1).toLongLong() > frames)
        return QStringLiteral("cut short: the header declares %1 samples, the file holds %2")
            .arg(match.captured(1))
            .arg(frames);
    return {};
}

// libsndfile hands content that begins like MPEG audio to libmpg123, which writes notes about
// data it cannot read to standard error, the user's terminal. So such content reaches libsndfile
// only when it is MPEG audio indeed: an optional ID3v2 tag, then two frames with valid headers in
// a row.
qint64 mpegFrameLength(QByteArrayView header)
{
    if (header.size() < 4)
        return 0;
    const auto byte = [&](qsizetype index) { return static_cast<uchar>(header[index]); };
    if (byte(0) != 0xFF || (byte(1) & 0xE0) != 0xE0)
        return 0;
    const int version = (byte(1) >> 3) & 3; // 3: MPEG 1, 2: MPEG 2, 0: MPEG 2.5, 1: reserved
    const int layer = (byte(1) >> 1) & 3;   // 3: layer I, 2: layer II, 1: layer III, 0: reserved
    const int bitrateIndex = byte(2) >> 4;
    const int rateIndex = (byte(2) >> 2) & 3;
    const int padding = (byte(2) >> 1) & 1;
    if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return 0;
    // kbit/s by bitrate index: MPEG 1 layers I, II, III, then MPEG 2 and 2.5 layer I, II and III.
    static constexpr std::array<std::array<int, 15>, 5> Kbps{{
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
    }};
    static constexpr std::array<int, 3> Rates{44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int row = mpeg1 ? 3 - layer : (layer == 3 ? 3 : 4);
    const qint64 bitsPerSecond = qint64(Kbps[size_t(row)][size_t(bitrateIndex)]) * 1000;
    const qint64 rate = Rates[size_t(rateIndex)] / (mpeg1 ? 1 : version == 2 ? 2 : 4);
    if (layer == 3)
        return (12 * bitsPerSecond / rate + padding) * 4;
    const qint64 factor = (layer == 1 && !mpeg1) ? 72 : 144;
    return factor * bitsPerSecond / rate + padding;
}

// False for content that libsndfile would take for MPEG audio but is none.
bool passesMpegCheck(QIODevice &device)
{
    constexpr qsizetype Id3HeaderSize = 10;
    constexpr uchar Id3FooterFlag = 0x10;
    device.seek(0);
    qint64 frameAt = 0;
    const QByteArray start = device.peek(Id3HeaderSize);
    if (start.startsWith("ID3") && start.size() == Id3HeaderSize) {
        qint64 tagSize = 0;
        for (qsizetype index = 6; index < Id3HeaderSize; ++index)
            tagSize = (tagSize << 7) | (static_cast<uchar>(start[index]) & 0x7F);
        frameAt = Id3HeaderSize + tagSize +
                  ((static_cast<uchar>(start[5]) & Id3FooterFlag) ? Id3HeaderSize : 0);
    } else if (mpegFrameLength(start) == 0) {
        return true; // not taken for MPEG audio at all
    }
    bool valid = true;
    for (int frame = 0; frame < 2 && valid; ++frame) {
        valid = device.seek(frameAt);
        const qint64 length = valid ? mpegFrameLength(device.read(4)) : 0;
        valid = length > 0;
        frameAt += length;
    }
    device.seek(0);
    return valid;
}

// Ogg pages (RFC 3533): the page checksum.
quint32 oggChecksum(QByteArrayView bytes)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> entries{};
        for (quint32 index = 0; index < 256; ++index) {
            quint32 value = index << 24;
            for (int bit = 0; bit < 8; ++bit)
                value = (value & 0x80000000U) ? (value << 1) ^ 0x04C11DB7U : value << 1;
            entries[index] = value;
        }
        return entries;
    }();
    quint32 checksum = 0;
    for (const char byte : bytes)
        checksum = (checksum << 8) ^ table[((checksum >> 24) ^ static_cast<uchar>(byte)) & 0xFF];
    return checksum;
}

constexpr qsizetype OggHeaderSize = 27;
constexpr qsizetype OggFlagsOffset = 5;
constexpr qsizetype OggSerialOffset = 14;
constexpr qsizetype OggSequenceOffset = 18;
constexpr qsizetype OggChecksumOffset = 22;
constexpr qsizetype OggSegmentCountOffset = 26;
constexpr uchar OggEndOfStream = 0x04;

// What a walk over an Ogg file's pages finds.
struct OggWalk
{
    QString damage;         // empty when every page is whole and every stream ends
    qint64 wholeEnd = 0;    // the end of the last whole page before any damage
    qint64 lastPageAt = -1; // where that page starts
    bool endsOpen = false;  // a stream lacks its end-of-stream page
};

OggWalk walkOggPages(QIODevice &device)
{
    OggWalk walk;
    QHash<quint32, quint32> nextSequence;
    QSet<quint32> open;
    device.seek(0);
    for (;;) {
        const qint64 pageAt = device.pos();
        QByteArray page = device.read(OggHeaderSize);
        if (page.isEmpty())
            break;
        // What follows streams that all ended (a tag some tools append) is no damage.
        if (!page.startsWith("OggS") && open.isEmpty() && walk.lastPageAt >= 0)
            break;
        if (!page.startsWith("OggS")) {
            walk.damage = QStringLiteral("damaged Ogg stream: no page where one should begin, "
                                         "at byte %1")
                              .arg(pageAt);
            break;
        }
        const auto segmentCount =
            page.size() == OggHeaderSize ? static_cast<uchar>(page[OggSegmentCountOffset]) : 0;
        const QByteArray segments = device.read(segmentCount);
        qint64 bodySize = 0;
        for (const char segment : segments)
            bodySize += static_cast<uchar>(segment);
        const QByteArray body = device.read(bodySize);
        if (page.size() < OggHeaderSize || segments.size() < segmentCount ||
            body.size() < bodySize) {
            walk.damage = QStringLiteral("cut short inside the Ogg page at byte %1").arg(pageAt);
            walk.endsOpen = true;
            break;
        }
        const quint32 stated = qFromLittleEndian<quint32>(page.constData() + OggChecksumOffset);
        std::memset(page.data() + OggChecksumOffset, 0, 4);
        if (oggChecksum(page + segments + body) != stated) {
            walk.damage =
                QStringLiteral("damaged Ogg page at byte %1 (its checksum does not match)")
                    .arg(pageAt);
            break;
        }
        const quint32 serial = qFromLittleEndian<quint32>(page.constData() + OggSerialOffset);
        const quint32 sequence = qFromLittleEndian<quint32>(page.constData() + OggSequenceOffset);
        if (nextSequence.contains(serial) && nextSequence.value(serial) != sequence) {
            walk.damage =
                QStringLiteral("damaged Ogg stream: a page is missing before byte %1").arg(pageAt);
            break;
        }
        nextSequence.insert(serial, sequence + 1);
        if (static_cast<uchar>(page[OggFlagsOffset]) & OggEndOfStream)
            open.remove(serial);
        else
            open.insert(serial);
        walk.lastPageAt = pageAt;
        walk.wholeEnd = device.pos();
    }
    if (walk.damage.isEmpty() && !open.isEmpty()) {
        walk.damage = QStringLiteral("cut short: the Ogg stream ends without its end-of-stream "
                                     "page");
        walk.endsOpen = true;
    }
    device.seek(0);
    return walk;
}

// The whole pages of an Ogg file cut short, the last of them marked as the stream's end, so that
// the library gives the samples the file still holds (it gives none of a stream without an end).
std::unique_ptr<QIODevice> closedOggPages(QIODevice &device, const OggWalk &walk)
{
    if (!walk.endsOpen || walk.lastPageAt < 0)
        return nullptr;
    device.seek(0);
    QByteArray bytes = device.read(walk.wholeEnd);
    device.seek(0);
    if (bytes.size() != walk.wholeEnd)
        return nullptr;
    char *const page = bytes.data() + walk.lastPageAt;
    page[OggFlagsOffset] = static_cast<char>(page[OggFlagsOffset] | OggEndOfStream);
    std::memset(page + OggChecksumOffset, 0, 4);
    qToLittleEndian(oggChecksum(QByteArrayView(page, walk.wholeEnd - walk.lastPageAt)),
                    page + OggChecksumOffset);
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(bytes);
    buffer->open(QIODevice::ReadOnly);
    return buffer;
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

AudioFileCopy copyAudio(AudioFileReader &reader, const CopyProgress &progress,
                        const LockReport &lockChanged)
{
    AudioFileCopy copy;
    if (!reader.errorString().isEmpty()) {
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
            return copy;
        }
    }
    demodulator.finish();
    std::ranges::move(demodulator.takeLines(), std::back_inserter(copy.lines));
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
