// SPDX-License-Identifier: GPL-3.0-or-later
#include "containerchecks.h"

#include <QBuffer>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QtEndian>

#include <array>
#include <cstring>

namespace tovrin3::morse {

namespace {

// A header's declared length may exceed what the file holds by the padding a chunk may lack at
// the very end (one byte in RIFF, up to seven in Wave64) without a sample missing.
constexpr qint64 MissingPaddingBytes = 8;
// The length field value a recorder that streams leaves unwritten.
constexpr qint64 UnwrittenLength = 0xFFFFFFFF;

// The length in bytes of the MPEG audio frame whose header the bytes begin with; 0 when they
// begin no valid frame header.
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

} // namespace

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

// MPEG audio indeed: an optional ID3v2 tag, then two frames with valid headers in a row.
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

} // namespace tovrin3::morse
