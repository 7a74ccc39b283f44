// SPDX-License-Identifier: GPL-3.0-or-later
#include "beaconreader.h"

#include "doubtfulmark.h"

#include <algorithm>

namespace tovrin3 {

BeaconReader::BeaconReader(BeaconLineReceiver &receiver, Options options)
    : m_receiver(receiver), m_options(options), m_splitter(options.lineBreaks),
      m_lineStage(firstLineStage())
{
}

BeaconReader::LineStage BeaconReader::firstLineStage() const
{
    return m_options.timestamps ? LineStage::Head : LineStage::Plain;
}

void BeaconReader::read(QStringView text)
{
    if (m_stopped)
        return;
    m_splitter.split(
        text, false, [this](QStringView line) { return takeLine(line); },
        [this](QStringView piece) { appendPiece(piece); });
}

void BeaconReader::finish()
{
    if (m_lineStarted && !m_stopped)
        takeLine({});
}

void BeaconReader::readText(QStringView text)
{
    if (m_stopped)
        return;
    m_splitter.split(
        text, true, [this](QStringView line) { return takeLine(line); },
        [this](QStringView piece) { appendPiece(piece); });
    finish();
}

bool BeaconReader::takeLine(QStringView line)
{
    if (m_lineStarted) {
        appendPiece(line);
        finishPiecedLine();
    } else {
        takeWholeLine(line);
    }
    startNextLine();
    return !m_stopped;
}

void BeaconReader::takeWholeLine(QStringView line)
{
    if (m_options.pieces)
        m_receiver.receivePiece(line);
    QStringView frameLine = line;
    if (m_lineStage == LineStage::Head) {
        const qsizetype bar = line.indexOf(u'|');
        if (bar >= 0) {
            if (!m_timestamp.read(line.first(bar))) {
                BeaconLine badLine{.kind = BeaconLine::Kind::BadTimestamp};
                handOver(badLine);
                return;
            }
            frameLine = line.sliced(bar + 1);
        }
    }
    concludeLine(m_cleaner.finish(frameLine));
}

void BeaconReader::appendPiece(QStringView piece)
{
    m_lineStarted = true;
    if (m_options.pieces)
        m_receiver.receivePiece(piece);
    if (m_lineStage == LineStage::Head)
        piece = takeLineHead(piece);
    if (m_lineStage == LineStage::Undated && piece.contains(u'|')) {
        m_lineStage = LineStage::BadTimestamp;
        m_cleaner.clear();
    }
    if (m_lineStage == LineStage::Head || m_lineStage == LineStage::BadTimestamp)
        return;
    m_cleaner.append(piece);
}

// Holds the start of the line until a "|" shows whether a timestamp ends there, or the line has
// grown too long for one. Returns what of the piece belongs to the frame line by then.
QStringView BeaconReader::takeLineHead(QStringView piece)
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
    m_cleaner.append(m_lineHead);
    return piece;
}

void BeaconReader::finishPiecedLine()
{
    if (m_lineStage == LineStage::BadTimestamp) {
        BeaconLine badLine{.kind = BeaconLine::Kind::BadTimestamp};
        handOver(badLine);
        return;
    }
    // A line shorter than a timestamp, without a "|", is all frame line.
    if (m_lineStage == LineStage::Head)
        m_cleaner.append(m_lineHead);
    concludeLine(m_cleaner.finish({}));
}

void BeaconReader::concludeLine(qint64 cleanedLength)
{
    BeaconLine line{.kind = BeaconLine::Kind::NotFrame, .cleanedLength = cleanedLength};
    QStringView frameText = m_cleaner.cleaned();
    if (cleanedLength != FrameLength) {
        // The mark cleans to itself, so the cleaned line ends in it as the line did.
        const std::optional<DoubtfulMark> mark = readDoubtfulMark(frameText);
        if (mark)
            line.doubtfulConfidence = mark->confidence;
        if (!mark || !m_options.keepDoubtful || mark->text.size() != FrameLength) {
            handOver(line);
            return;
        }
        frameText = mark->text;
    }
    const FrameValues values = decodeFields(frameText);
    line.kind = BeaconLine::Kind::Frame;
    line.frameNumber = ++m_frameCount;
    line.frameText = frameText;
    line.values = &values;
    handOver(line);
}

void BeaconReader::handOver(BeaconLine &line)
{
    line.lineNumber = m_lineNumber;
    line.timestamp = m_timestamp.text();
    m_stopped = !m_receiver.receiveLine(line);
}

void BeaconReader::startNextLine()
{
    ++m_lineNumber;
    m_lineStarted = false;
    m_lineStage = firstLineStage();
    m_lineHead.resize(0);
    m_timestamp.clear();
}

} // namespace tovrin3
