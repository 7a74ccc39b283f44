#pragma once

#include "linediagnostics.h"
#include "linetimestamp.h"
#include "pendingline.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringConverter>
#include <QStringView>

class QIODevice;

namespace tovrin3 {

struct FrameValues;

inline constexpr qsizetype DefaultChunkSize = 64 * 1024;
inline constexpr QStringView CommandLineLineEnd = u"\n";

enum class OutputFormat
{
    Report, // the window's report, blocks numbered from #1
    Csv,    // one row per frame, without the header row, which the caller writes once
    Json    // JSON Lines: one object per frame
};

struct DecodeSettings
{
    OutputFormat format = OutputFormat::Report;
    // Given, the strict check: every line that is no frame (blank lines aside), every
    // temperature without value and every kill-switch byte without state is reported there.
    LineDiagnostics *diagnostics = nullptr;
};

// Decodes one beacon text that arrives in byte chunks of any size, like one paste into the
// window, but with no bound on the number of frames: the bytes are UTF-8, a line ends at CR+LF,
// LF or CR alone, and every frame goes to the output as UTF-8 with LF line ends, numbered from 1.
// The output is the same as decoding all bytes at once would give, wherever the chunks are cut,
// and memory stays the same however long the input is.
//
// The report format takes each line as the window does. The CSV and JSON formats also read the
// time of reception a line may begin with, "2026-12-06T18:57:44Z|" (see Timestamp); a line with
// a "|" that does not follow such a time is no frame there.
class BeaconStreamDecoder
{
public:
    explicit BeaconStreamDecoder(QIODevice &output, const DecodeSettings &settings = {});

    // Each returns false once writing to the output has failed; nothing is decoded after that.
    bool write(QByteArrayView bytes);
    bool flush();
    // Ends the last line, then writes out the rest of the output.
    bool finish();

private:
    // How far the reading of a line has come; a line that arrives in pieces needs it.
    enum class LineStage
    {
        Plain,       // report format: every character belongs to the frame line
        Head,        // the line may still turn out to begin with a timestamp
        Undated,     // no timestamp; a "|" to come makes the line unusable
        Dated,       // the timestamp is read; the rest of the line is the frame line
        BadTimestamp // a "|" follows something else than a timestamp
    };

    static LineStage firstLineStage(OutputFormat format);

    void decodeBytes(QByteArrayView bytes);
    void decodeText(QStringView text);
    void takeLine(QStringView line);
    void takeWholeLine(QStringView line);
    void appendPiece(QStringView piece);
    QStringView takeLineHead(QStringView piece);
    void finishPiecedLine();
    void concludeLine(qint64 cleanedLength);
    void startNextLine();
    void decodeFrame();
    void checkValues(const FrameValues &values);
    void reportLine(QStringView reason);

    QIODevice &m_output;
    const OutputFormat m_format;
    LineDiagnostics *const m_diagnostics;
    // Stateless: a sequence cut short by a chunk's end waits in m_unfinishedSequence instead, as
    // the decoder's own carrying of it drops the byte after it when the sequence proves broken.
    QStringDecoder m_textDecoder{QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                           QStringDecoder::Flag::ConvertInitialBom};
    QStringEncoder m_reportEncoder{QStringEncoder::Utf8};
    QByteArray m_unfinishedSequence;
    QString m_text;
    bool m_atTextStart = true;
    bool m_afterCarriageReturn = false;
    qint64 m_lineNumber = 1;

    // The current line: whether a chunk's end cut it off, how far its reading has come and what
    // of it is held until it ends.
    bool m_lineStarted = false;
    LineStage m_lineStage;
    QString m_lineHead;
    PendingLine m_pendingLine;
    LineEcho m_echo;

    Timestamp m_timestamp;
    QString m_cleaned;
    QString m_report;
    QByteArray m_outputBytes;
    qint64 m_frameCount = 0;
    bool m_outputFailed = false;
};

enum class StreamOutcome
{
    Decoded,
    ReadFailed,
    WriteFailed
};

// Reads the input to its end, at most chunkSize bytes at a time, as one beacon text, and writes
// the output of each chunk's frames before it reads on. After a read error the output of the
// frames found so far is still written.
StreamOutcome decodeStream(QIODevice &input, QIODevice &output, const DecodeSettings &settings,
                           qsizetype chunkSize = DefaultChunkSize);
StreamOutcome decodeStream(QIODevice &input, QIODevice &output,
                           qsizetype chunkSize = DefaultChunkSize);

} // namespace tovrin3
