#include "streamdecoding.h"

#include "normalisation.h"
#include "report.h"
#include "telemetry.h"

#include <QIODevice>

namespace tovrin3 {

namespace {

// The report is handed to the output in pieces of about this many characters.
constexpr qsizetype ReportFlushSize = 32 * 1024;

qsizetype indexOfLineBreak(QStringView text, qsizetype from)
{
    const char16_t *const begin = text.utf16();
    const char16_t *const end = begin + text.size();
    const char16_t *at = begin + from;
    while (at != end && *at != u'\n' && *at != u'\r')
        ++at;
    return at - begin;
}

bool isContinuationByte(char byte)
{
    return (static_cast<uchar>(byte) & 0xC0) == 0x80;
}

// How many continuation bytes a byte announces as the first of a UTF-8 sequence; 0 for ASCII and
// for bytes that begin no sequence.
qsizetype announcedContinuationBytes(char byte)
{
    const auto lead = static_cast<uchar>(byte);
    if (lead >= 0xC2 && lead <= 0xDF)
        return 1;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 2;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 3;
    return 0;
}

// The end of the bytes that can be decoded now: before a multi-byte sequence that the chunk cuts
// short and the next chunk may finish, otherwise all of them.
qsizetype finishedSequencesEnd(QByteArrayView bytes)
{
    const qsizetype size = bytes.size();
    qsizetype continuationBytes = 0;
    while (continuationBytes < 3 && continuationBytes < size &&
           isContinuationByte(bytes[size - 1 - continuationBytes]))
        ++continuationBytes;
    if (continuationBytes == size)
        return size;
    const qsizetype leadAt = size - 1 - continuationBytes;
    return announcedContinuationBytes(bytes[leadAt]) > continuationBytes ? leadAt : size;
}

} // namespace

BeaconStreamDecoder::BeaconStreamDecoder(QIODevice &output) : m_output(output) {}

bool BeaconStreamDecoder::write(QByteArrayView bytes)
{
    if (m_unfinishedSequence.isEmpty()) {
        const qsizetype finishedEnd = finishedSequencesEnd(bytes);
        decodeBytes(bytes.first(finishedEnd));
        m_unfinishedSequence.append(bytes.sliced(finishedEnd));
    } else {
        m_unfinishedSequence.append(bytes);
        const qsizetype finishedEnd = finishedSequencesEnd(m_unfinishedSequence);
        decodeBytes(QByteArrayView(m_unfinishedSequence).first(finishedEnd));
        m_unfinishedSequence.remove(0, finishedEnd);
    }
    return !m_outputFailed;
}

bool BeaconStreamDecoder::flush()
{
    if (m_outputFailed || m_report.isEmpty())
        return !m_outputFailed;
    m_reportBytes.resize(m_reportEncoder.requiredSpace(m_report.size()));
    const char *const bytesEnd = m_reportEncoder.appendToBuffer(m_reportBytes.data(), m_report);
    const qint64 size = bytesEnd - m_reportBytes.constData();
    m_outputFailed = m_output.write(m_reportBytes.constData(), size) != size;
    m_report.resize(0);
    return !m_outputFailed;
}

// A sequence still unfinished at the end becomes one replacement character per byte, and the
// last line needs no line break, both as when decoding all bytes at once.
bool BeaconStreamDecoder::finish()
{
    decodeBytes(m_unfinishedSequence);
    m_unfinishedSequence.clear();
    if (!m_pendingLine.isEmpty() && !m_outputFailed)
        takeLine({});
    return flush();
}

// A byte order mark is no part of the text, like a paste holds none.
void BeaconStreamDecoder::decodeBytes(QByteArrayView bytes)
{
    m_text.resize(m_textDecoder.requiredSpace(bytes.size()));
    QChar *const textBegin = m_text.data();
    QStringView text(textBegin, m_textDecoder.appendToBuffer(textBegin, bytes));
    if (m_atTextStart && !text.isEmpty()) {
        m_atTextStart = false;
        if (text.front() == QChar::ByteOrderMark)
            text = text.sliced(1);
    }
    decodeText(text);
}

// CR and LF each end a line. The empty line this leaves between the two of a CR+LF is never a
// frame, so the report is that of CR+LF breaks, wherever a chunk boundary falls.
void BeaconStreamDecoder::decodeText(QStringView text)
{
    qsizetype lineStart = 0;
    while (lineStart < text.size() && !m_outputFailed) {
        const qsizetype lineBreak = indexOfLineBreak(text, lineStart);
        if (lineBreak == text.size()) {
            m_pendingLine.append(text.sliced(lineStart));
            return;
        }
        takeLine(text.sliced(lineStart, lineBreak - lineStart));
        lineStart = lineBreak + 1;
    }
}

void BeaconStreamDecoder::takeLine(QStringView line)
{
    if (m_pendingLine.isEmpty())
        normaliseLine(line, m_cleaned);
    else
        m_pendingLine.finish(line, m_cleaned);
    if (isFrameLine(m_cleaned))
        decodeFrame();
}

void BeaconStreamDecoder::decodeFrame()
{
    const FrameValues values = decodeFields(m_cleaned);
    appendFrameReport(m_report, ++m_frameCount, m_cleaned, values, CommandLineLineEnd);
    if (m_report.size() >= ReportFlushSize)
        flush();
}

StreamOutcome decodeStream(QIODevice &input, QIODevice &output, qsizetype chunkSize)
{
    BeaconStreamDecoder decoder(output);
    QByteArray chunk(chunkSize, Qt::Uninitialized);
    for (;;) {
        const qint64 count = input.read(chunk.data(), chunkSize);
        if (count < 0)
            return decoder.flush() ? StreamOutcome::ReadFailed : StreamOutcome::WriteFailed;
        if (count == 0)
            break;
        if (!decoder.write(QByteArrayView(chunk.constData(), count)) || !decoder.flush())
            return StreamOutcome::WriteFailed;
    }
    return decoder.finish() ? StreamOutcome::Decoded : StreamOutcome::WriteFailed;
}

} // namespace tovrin3
