#include "streamdecoding.h"

#include "framerecords.h"
#include "normalisation.h"
#include "report.h"
#include "telemetry.h"

#include <QIODevice>

#include <algorithm>

namespace tovrin3 {

namespace {

// The output is handed on in pieces of about this many characters.
constexpr qsizetype OutputFlushSize = 32 * 1024;

// Where a frame line holds the fields that may lack a reading.
constexpr qsizetype BatteryTemperatureAt = 0;
constexpr qsizetype ComTemperatureAt = 4;
constexpr qsizetype TemperatureLength = 4;
constexpr qsizetype KillSwitchAt = 16;
constexpr qsizetype KillSwitchLength = 2;

constexpr QStringView BadTimestampReason =
    u"not a frame (text before \"|\" is not a UTC timestamp)";

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

BeaconStreamDecoder::LineStage BeaconStreamDecoder::firstLineStage(OutputFormat format)
{
    return format == OutputFormat::Report ? LineStage::Plain : LineStage::Head;
}

BeaconStreamDecoder::BeaconStreamDecoder(QIODevice &output, const DecodeSettings &settings)
    : m_output(output), m_format(settings.format), m_diagnostics(settings.diagnostics),
      m_lineStage(firstLineStage(settings.format))
{
}

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
    if (m_lineStarted && !m_outputFailed)
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

// CR and LF each end a line, and the LF of a CR+LF ends none: line numbers are those an editor
// shows, wherever a chunk boundary falls.
void BeaconStreamDecoder::decodeText(QStringView text)
{
    qsizetype lineStart = 0;
    while (lineStart < text.size() && !m_outputFailed) {
        if (m_afterCarriageReturn) {
            m_afterCarriageReturn = false;
            if (text[lineStart] == u'\n') {
                ++lineStart;
                continue;
            }
        }
        const qsizetype lineBreak = indexOfLineBreak(text, lineStart);
        if (lineBreak == text.size()) {
            appendPiece(text.sliced(lineStart));
            return;
        }
        takeLine(text.sliced(lineStart, lineBreak - lineStart));
        m_afterCarriageReturn = text[lineBreak] == u'\r';
        lineStart = lineBreak + 1;
    }
}

void BeaconStreamDecoder::takeLine(QStringView line)
{
    if (m_lineStarted) {
        appendPiece(line);
        finishPiecedLine();
    } else {
        takeWholeLine(line);
    }
    startNextLine();
}

void BeaconStreamDecoder::takeWholeLine(QStringView line)
{
    if (m_diagnostics)
        m_echo.append(line);
    QStringView frameLine = line;
    if (m_lineStage == LineStage::Head) {
        const qsizetype bar = line.indexOf(u'|');
        if (bar >= 0) {
            if (!m_timestamp.read(line.first(bar))) {
                reportLine(BadTimestampReason);
                return;
            }
            frameLine = line.sliced(bar + 1);
        }
    }
    normaliseLine(frameLine, m_cleaned);
    concludeLine(m_cleaned.size());
}

void BeaconStreamDecoder::appendPiece(QStringView piece)
{
    m_lineStarted = true;
    if (m_diagnostics)
        m_echo.append(piece);
    if (m_lineStage == LineStage::Head)
        piece = takeLineHead(piece);
    if (m_lineStage == LineStage::Undated && piece.contains(u'|')) {
        m_lineStage = LineStage::BadTimestamp;
        m_pendingLine.clear();
    }
    if (m_lineStage == LineStage::Head || m_lineStage == LineStage::BadTimestamp)
        return;
    m_pendingLine.append(piece);
}

// Holds the start of the line until a "|" shows whether a timestamp ends there, or the line has
// grown too long for one. Returns what of the piece belongs to the frame line by then.
QStringView BeaconStreamDecoder::takeLineHead(QStringView piece)
{
    const qsizetype room = MaxTimestampLength + 1 - m_lineHead.size();
    const qsizetype bar = piece.first(std::min(room, piece.size())).indexOf(u'|');
    if (bar >= 0) {
        m_lineHead.append(piece.first(bar));
        m_lineStage = m_timestamp.read(m_lineHead) ? LineStage::Dated : LineStage::BadTimestamp;
        return piece.sliced(bar + 1);
    }
    if (piece.size() < room) {
        m_lineHead.append(piece);
        return {};
    }
    m_lineStage = LineStage::Undated;
    m_pendingLine.append(m_lineHead);
    return piece;
}

void BeaconStreamDecoder::finishPiecedLine()
{
    if (m_lineStage == LineStage::BadTimestamp) {
        reportLine(BadTimestampReason);
        return;
    }
    // A line shorter than a timestamp, without a "|", is all frame line.
    if (m_lineStage == LineStage::Head)
        m_pendingLine.append(m_lineHead);
    concludeLine(m_pendingLine.finish({}, m_cleaned));
}

void BeaconStreamDecoder::concludeLine(qint64 cleanedLength)
{
    if (cleanedLength == FrameLength) {
        decodeFrame();
        return;
    }
    if (!m_diagnostics || m_echo.isBlank())
        return;
    reportLine(QStringLiteral("not a frame (%1 %2 after cleaning)")
                   .arg(QString::number(cleanedLength),
                        cleanedLength == 1 ? u"character" : u"characters"));
}

void BeaconStreamDecoder::startNextLine()
{
    ++m_lineNumber;
    m_lineStarted = false;
    m_lineStage = firstLineStage(m_format);
    m_lineHead.resize(0);
    m_timestamp.clear();
    if (m_diagnostics)
        m_echo.clear();
}

void BeaconStreamDecoder::decodeFrame()
{
    const FrameValues values = decodeFields(m_cleaned);
    ++m_frameCount;
    switch (m_format) {
    case OutputFormat::Report:
        appendFrameReport(m_report, m_frameCount, m_cleaned, values, CommandLineLineEnd);
        break;
    case OutputFormat::Csv:
        appendCsvRecord(m_outputBytes, {m_frameCount, m_timestamp.text(), m_cleaned, values});
        break;
    case OutputFormat::Json:
        appendJsonRecord(m_outputBytes, {m_frameCount, m_timestamp.text(), m_cleaned, values});
        break;
    }
    if (m_diagnostics)
        checkValues(values);
    if (m_report.size() + m_outputBytes.size() >= OutputFlushSize)
        flush();
}

void BeaconStreamDecoder::checkValues(const FrameValues &values)
{
    const QString frame = QString::number(m_frameCount);
    const QStringView line(m_cleaned);
    if (!values.batteryTemperature)
        reportLine(QStringLiteral("frame %1: battery temperature %2 has mixed sign bits")
                       .arg(frame, line.sliced(BatteryTemperatureAt, TemperatureLength)));
    if (!values.comTemperature)
        reportLine(QStringLiteral("frame %1: COM temperature %2 has mixed sign bits")
                       .arg(frame, line.sliced(ComTemperatureAt, TemperatureLength)));
    if (!killSwitchStateText(values.killSwitch))
        reportLine(QStringLiteral("frame %1: kill-switch byte %2 is above 3")
                       .arg(frame, line.sliced(KillSwitchAt, KillSwitchLength)));
}

void BeaconStreamDecoder::reportLine(QStringView reason)
{
    if (m_diagnostics)
        m_diagnostics->report(m_lineNumber, reason, m_echo);
}

StreamOutcome decodeStream(QIODevice &input, QIODevice &output, const DecodeSettings &settings,
                           qsizetype chunkSize)
{
    BeaconStreamDecoder decoder(output, settings);
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

StreamOutcome decodeStream(QIODevice &input, QIODevice &output, qsizetype chunkSize)
{
    return decodeStream(input, output, DecodeSettings{}, chunkSize);
}

} // namespace tovrin3
