#pragma once

#include "pendingline.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringConverter>
#include <QStringView>

class QIODevice;

namespace tovrin3 {

inline constexpr qsizetype DefaultChunkSize = 64 * 1024;
inline constexpr QStringView CommandLineLineEnd = u"\n";

// Decodes one beacon text that arrives in byte chunks of any size, like one paste into the
// window, but with no bound on the number of frames: the bytes are UTF-8, a line ends at CR+LF,
// LF or CR alone, and the report of every frame goes to the output as UTF-8 with LF line ends,
// blocks numbered from #1. The text is the same as decoding all bytes at once would give, wherever
// the chunks are cut, and memory stays the same however long the input is.
class BeaconStreamDecoder
{
public:
    explicit BeaconStreamDecoder(QIODevice &output);

    // Each returns false once writing to the output has failed; nothing is decoded after that.
    bool write(QByteArrayView bytes);
    bool flush();
    // Ends the last line, then writes out the rest of the report.
    bool finish();

private:
    void decodeBytes(QByteArrayView bytes);
    void decodeText(QStringView text);
    void takeLine(QStringView line);
    void decodeFrame();

    QIODevice &m_output;
    // Stateless: a sequence cut short by a chunk's end waits in m_unfinishedSequence instead, as
    // the decoder's own carrying of it drops the byte after it when the sequence proves broken.
    QStringDecoder m_textDecoder{QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                           QStringDecoder::Flag::ConvertInitialBom};
    QStringEncoder m_reportEncoder{QStringEncoder::Utf8};
    QByteArray m_unfinishedSequence;
    QString m_text;
    bool m_atTextStart = true;
    PendingLine m_pendingLine;
    QString m_cleaned;
    QString m_report;
    QByteArray m_reportBytes;
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
// the report of each chunk's frames before it reads on. After a read error the report of the
// frames found so far is still written.
StreamOutcome decodeStream(QIODevice &input, QIODevice &output,
                           qsizetype chunkSize = DefaultChunkSize);

} // namespace tovrin3
