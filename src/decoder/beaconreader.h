// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "linesplitter.h"
#include "linetimestamp.h"
#include "normalisation.h"
#include "telemetry.h"

#include <QLatin1StringView>
#include <QString>
#include <QStringView>

#include <optional>

namespace tovrin3 {

// One line of a beacon text, as the reader found it.
struct BeaconLine
{
    enum class Kind
    {
        Frame,
        NotFrame,    // its cleaned length is not FrameLength
        BadTimestamp // a "|" follows something else than a timestamp
    };
    Kind kind = Kind::NotFrame;
    qint64 lineNumber = 0;         // from 1; CR+LF is one line break, as an editor counts
    qint64 frameNumber = 0;        // a frame's number in its text, from 1
    qint64 cleanedLength = 0;      // characters after cleaning, however long the line grew
    QLatin1StringView timestamp{}; // empty when the line had none
    QStringView frameText{};       // a frame's cleaned line
    const FrameValues *values{};   // a frame's decoded fields
    // The confidence a line marked doubtful carries (see DoubtfulMark), frame or not.
    std::optional<double> doubtfulConfidence{};
};

// What the caller does with the lines: the window fills its history and report, the command line
// writes tables and diagnostics.
class BeaconLineReceiver
{
public:
    virtual ~BeaconLineReceiver() = default;
    // The next piece of the current line as received, before any cleaning; only when the reader's
    // options ask for pieces.
    virtual void receivePiece(QStringView) {}
    // The end of a line; returning false stops the reading.
    virtual bool receiveLine(const BeaconLine &line) = 0;
};

// The one line pipeline of the program: splits a beacon text into lines, cleans each line,
// recognises the frames and decodes their fields, for every source of text: a paste, files and
// pipes, copied transmissions. The text may come in pieces cut anywhere; the lines and frames are
// the same as when it comes whole, and a long line without break costs no more memory than a
// short one.
//
// With timestamps, a line may begin with the UTC time of its reception and a "|"
// ("2026-12-06T18:57:44Z|", see Timestamp); a line with a "|" that does not follow such a time is
// no frame then. Without, every character belongs to the frame line, as in the window.
//
// A line marked doubtful (see DoubtfulMark) is no frame, as its length says; kept, such a line is
// a frame when the text before its mark cleans to a frame line.
class BeaconReader
{
public:
    struct Options
    {
        LineBreaks lineBreaks = LineBreaks::Text;
        bool timestamps = false;
        bool pieces = false; // whether the receiver wants the pieces of each line as received
        bool keepDoubtful = false;
    };

    BeaconReader(BeaconLineReceiver &receiver, Options options);

    // Reads the next piece of the text; its last line may go on in the next piece.
    void read(QStringView text);
    // Ends the text: a last line without a line break counts too.
    void finish();
    // Reads a whole text at once, or one whole line: read(text), then finish().
    void readText(QStringView text);

private:
    // How far the reading of a line has come; a line that arrives in pieces needs it.
    enum class LineStage
    {
        Plain,       // every character belongs to the frame line
        Head,        // the line may still turn out to begin with a timestamp
        Undated,     // no timestamp; a "|" to come makes the line unusable
        Dated,       // the timestamp is read; the rest of the line is the frame line
        BadTimestamp // a "|" follows something else than a timestamp
    };

    LineStage firstLineStage() const;
    bool takeLine(QStringView line);
    void takeWholeLine(QStringView line);
    void appendPiece(QStringView piece);
    QStringView takeLineHead(QStringView piece);
    void finishPiecedLine();
    void concludeLine(qint64 cleanedLength);
    void handOver(BeaconLine &line);
    void startNextLine();

    BeaconLineReceiver &m_receiver;
    const Options m_options;
    LineSplitter m_splitter;
    bool m_stopped = false;
    qint64 m_lineNumber = 1;
    qint64 m_frameCount = 0;

    // The current line: whether a piece's end cut it off, how far its reading has come and what
    // of it is held until it ends.
    bool m_lineStarted = false;
    LineStage m_lineStage;
    QString m_lineHead;
    LineCleaner m_cleaner;
    Timestamp m_timestamp;
};

} // namespace tovrin3
