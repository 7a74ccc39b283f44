// SPDX-License-Identifier: GPL-3.0-or-later
#include "streamdecoding.h"

#include "doubtfulmark.h"
#include "framerecords.h"
#include "inputcontent.h"
#include "report.h"

#include <QIODevice>

#include <algorithm>

namespace tovrin3 {

namespace {

// The output is handed on in pieces of about this many characters.
constexpr qsizetype OutputFlushSize = 32 * 1024;

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

BeaconStreamDecoder::BeaconStreamDecoder(QIODevice &output, const DecodeSettings &settings)
    : m_output(output), m_format(settings.format), m_diagnostics(settings.diagnostics),
      m_source(settings.source), m_withConfidence(settings.withConfidence),
      m_reader(*this, {.lineBreaks = LineBreaks::Text,
                       .timestamps = settings.format != OutputFormat::Report,
                       .pieces = settings.diagnostics != nullptr,
                       .keepDoubtful = settings.keepDoubtful})
{
}

bool BeaconStreamDecoder::write(QByteArrayView bytes)
{
    if (m_outputFailed)
        return false;
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

bool BeaconStreamDecoder::writeLine(QStringView text, std::optional<double> confidence)
{
    if (m_outputFailed)
        return false;
    m_lineConfidence = confidence;
    m_reader.read(text);
    m_reader.read(u"\n");
    m_lineConfidence.reset();
    return !m_outputFailed;
}

bool BeaconStreamDecoder::flush()
{
    if (m_diagnostics)
        m_diagnostics->flush();
    if (m_outputFailed)
        return false;
    if (!m_report.isEmpty()) {
        const qsizetype start = m_outputBytes.size();
        m_outputBytes.resize(start + m_reportEncoder.requiredSpace(m_report.size()));
        const char *const bytesEnd =
            m_reportEncoder.appendToBuffer(m_outputBytes.data() + start, m_report);
        m_outputBytes.resize(bytesEnd - m_outputBytes.constData());
        m_report.resize(0);
    }
    if (m_outputBytes.isEmpty())
        return true;
    m_outputFailed = m_output.write(m_outputBytes) != m_outputBytes.size();
    m_outputBytes.resize(0);
    return !m_outputFailed;
}

// A sequence still unfinished at the end becomes one replacement character per byte, and the
// last line needs no line break, both as when decoding all bytes at once.
bool BeaconStreamDecoder::finish()
{
    decodeBytes(m_unfinishedSequence);
    m_unfinishedSequence.clear();
    m_reader.finish();
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
    m_reader.read(text);
}

void BeaconStreamDecoder::receivePiece(QStringView piece)
{
    m_echo.append(piece);
}

bool BeaconStreamDecoder::receiveLine(const BeaconLine &line)
{
    if (line.kind == BeaconLine::Kind::Frame)
        writeFrame(line);
    if (m_diagnostics) {
        m_diagnostics->check(line, m_echo);
        m_echo.clear();
    }
    return !m_outputFailed;
}

void BeaconStreamDecoder::writeFrame(const BeaconLine &line)
{
    if (m_format == OutputFormat::Report) {
        if (m_source && line.frameNumber == 1)
            m_report.append(u"==> ").append(*m_source).append(u" <==\n");
        appendFrameReport(m_report, line.frameNumber, line.frameText, *line.values, LfReport);
    } else {
        FrameRecordFields record{
            line.frameNumber, line.timestamp, line.frameText, *line.values, {}};
        if (m_source)
            record.source = *m_source;
        record.withConfidence = m_withConfidence;
        record.confidence = m_lineConfidence ? m_lineConfidence : line.doubtfulConfidence;
        if (m_format == OutputFormat::Csv)
            appendCsvRecord(m_outputBytes, record);
        else
            appendJsonRecord(m_outputBytes, record);
    }
    if (m_report.size() + m_outputBytes.size() >= OutputFlushSize)
        flush();
}

bool decodeCopiedLines(const std::vector<morse::CopiedLine> &lines, QIODevice &output,
                       const DecodeSettings &settings)
{
    BeaconStreamDecoder decoder(output, settings);
    for (const morse::CopiedLine &line : lines) {
        const QString text = copiedLineText(line.text, line.doubtful, line.frameConfidence);
        if (!decoder.writeLine(text, line.frameConfidence) || !decoder.flush())
            return false;
    }
    return decoder.finish();
}

StreamOutcome decodeStream(QIODevice &input, QIODevice &output, const DecodeSettings &settings,
                           qsizetype chunkSize, QByteArrayView head)
{
    BeaconStreamDecoder decoder(output, settings);
    const bool isUtf8 = settings.encoding == QStringConverter::Utf8;
    QStringDecoder wideText(settings.encoding);
    qint64 bytesRead = 0;
    // Hands a chunk to the decoder; false once the chunk shows the input is no text.
    const auto decode = [&](QByteArrayView bytes) {
        if (isUtf8 && bytesRead < TextCheckSize &&
            bytes.first(std::min<qint64>(bytes.size(), TextCheckSize - bytesRead)).contains('\0'))
            return false;
        bytesRead += bytes.size();
        if (isUtf8)
            decoder.write(bytes);
        else
            decoder.write(QString(wideText(bytes)).toUtf8());
        return true;
    };
    if (!head.isEmpty()) {
        if (!decode(head))
            return decoder.flush() ? StreamOutcome::NotText : StreamOutcome::WriteFailed;
        if (!decoder.flush())
            return StreamOutcome::WriteFailed;
    }
    QByteArray chunk(chunkSize, Qt::Uninitialized);
    for (;;) {
        const qint64 count = input.read(chunk.data(), chunkSize);
        if (count < 0)
            return decoder.flush() ? StreamOutcome::ReadFailed : StreamOutcome::WriteFailed;
        if (count == 0)
            break;
        if (!decode(QByteArrayView(chunk.constData(), count)))
            return decoder.flush() ? StreamOutcome::NotText : StreamOutcome::WriteFailed;
        if (!decoder.flush())
            return StreamOutcome::WriteFailed;
    }
    return decoder.finish() ? StreamOutcome::Decoded : StreamOutcome::WriteFailed;
}

} // namespace tovrin3
