// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "beaconreader.h"
#include "cwdemodulator.h"
#include "linediagnostics.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringConverter>
#include <QStringView>

#include <optional>
#include <vector>

class QIODevice;

namespace tovrin3 {

inline constexpr qsizetype DefaultChunkSize = 64 * 1024;

enum class OutputFormat
{
    Report, // the window's report, blocks numbered from #1
    Csv,    // one row per frame, without the header row, which the caller writes once
    Json    // JSON Lines: one object per frame
};

struct DecodeSettings
{
    OutputFormat format = OutputFormat::Report;
    // Given, the strict check: every line that is no frame (blank lines aside), every field that
    // is not hexadecimal, every temperature without value and every kill-switch byte without
    // state is reported there.
    LineDiagnostics *diagnostics = nullptr;
    // Given, CSV and JSON rows begin with it in a "source" column, and the report's first block
    // follows a heading "==> source <==".
    std::optional<QString> source{};
    // Whether a line marked doubtful is taken as a frame (see BeaconReader), and whether CSV rows
    // and JSON objects end in a "confidence" column.
    bool keepDoubtful = false;
    bool withConfidence = false;
    // How the input's bytes are text: UTF-8, or UTF-16 in the byte order its byte-order mark
    // tells.
    QStringConverter::Encoding encoding = QStringConverter::Utf8;
};

// Decodes one beacon text that arrives in byte chunks of any size, like one paste into the
// window, but with no bound on the number of frames: the bytes are UTF-8, a line ends at CR+LF,
// LF or CR alone, and every frame goes to the output as UTF-8 with LF line ends, numbered from 1.
// The output is the same as decoding all bytes at once would give, wherever the chunks are cut,
// and memory stays the same however long the input is.
//
// The report format takes each line as the window does. The CSV and JSON formats also read the
// time of reception a line may begin with, "2026-12-06T18:57:44Z|" (see BeaconReader).
class BeaconStreamDecoder : private BeaconLineReceiver
{
public:
    explicit BeaconStreamDecoder(QIODevice &output, const DecodeSettings &settings = {});

    // Each returns false once writing to the output has failed; nothing is decoded after that.
    bool write(QByteArrayView bytes);
    // One whole line, as copied from audio: its frame, if any, has the given confidence (a
    // doubtful mark in the text gives way to it). The text written before ended with a line
    // break.
    bool writeLine(QStringView text, std::optional<double> confidence);
    bool flush();
    // Ends the last line, then writes out the rest of the output.
    bool finish();

private:
    void decodeBytes(QByteArrayView bytes);
    void receivePiece(QStringView piece) override;
    bool receiveLine(const BeaconLine &line) override;
    void writeFrame(const BeaconLine &line);

    QIODevice &m_output;
    const OutputFormat m_format;
    LineDiagnostics *const m_diagnostics;
    const std::optional<QString> m_source;
    const bool m_withConfidence;
    std::optional<double> m_lineConfidence;
    BeaconReader m_reader;
    // Stateless: a sequence cut short by a chunk's end waits in m_unfinishedSequence instead, as
    // the decoder's own carrying of it drops the byte after it when the sequence proves broken.
    QStringDecoder m_textDecoder{QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                           QStringDecoder::Flag::ConvertInitialBom};
    QStringEncoder m_reportEncoder{QStringEncoder::Utf8};
    QByteArray m_unfinishedSequence;
    QString m_text;
    bool m_atTextStart = true;
    LineEcho m_echo;
    QString m_report;
    QByteArray m_outputBytes;
    bool m_outputFailed = false;
};

enum class StreamOutcome
{
    Decoded,
    ReadFailed,
    WriteFailed,
    NotText // UTF-8 input with a NUL byte in its first TextCheckSize bytes
};

// The lines copied from a recording, as one beacon text; each frame has the confidence its copy
// gave.
bool decodeCopiedLines(const std::vector<morse::CopiedLine> &lines, QIODevice &output,
                       const DecodeSettings &settings);

// Reads the input to its end, at most chunkSize bytes at a time, as one beacon text, and writes
// the output of each chunk's frames before it reads on. `head` is the input's start, read from it
// before. After a read error, or a NUL byte that shows the input is no text after all, the
// output of the frames found so far is still written.
StreamOutcome decodeStream(QIODevice &input, QIODevice &output, const DecodeSettings &settings,
                           qsizetype chunkSize = DefaultChunkSize, QByteArrayView head = {});

} // namespace tovrin3
