// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cwdemodulator.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <span>
#include <vector>

QT_BEGIN_NAMESPACE
class QAudioSource;
class QIODevice;
class QThread;
QT_END_NAMESPACE

namespace tovrin3 {

class DemodulationWorker;

// Mono samples from captured bytes of any layout Qt Multimedia delivers: the channels of a frame
// are averaged. Bytes after the last whole frame are left out.
void appendMono(QByteArrayView bytes, const QAudioFormat &format, std::vector<float> &samples);

// Captured bytes as they arrive, in pieces cut anywhere, inside a sample too: each piece gives
// the mono samples of the frames it completes, and the bytes of a frame it only begins wait for
// the next piece. The samples are the same wherever the stream is cut.
class MonoConverter
{
public:
    MonoConverter() = default;
    explicit MonoConverter(const QAudioFormat &format);

    // Replaces `samples` with those of the frames that `bytes` completes.
    void convert(QByteArrayView bytes, std::vector<float> &samples);

private:
    QAudioFormat m_format;
    QByteArray m_partialFrame;
};

// What the demodulator last reported to the window.
struct LiveStatus
{
    QString pendingText;         // the transmission under way, as copied so far
    double pitchHz = 0.0;        // 0 while it has found nothing
    double wordsPerMinute = 0.0; // 0 while it has found nothing
    bool pitchHeld = false;      // on a pitch the user chose
    // The number of the last pitch command the demodulator had taken when it reported.
    quint64 command = 0;
};

// Copies CW from an audio input as it is heard. The capture is read on the window's thread a
// tenth of a second at a time, converted to mono and announced for the level and the waterfall;
// the demodulation runs on a thread of its own, so that no transmission it decodes holds up the
// window. Lines, pending text, pitch and speed come back through the window's event loop. Stopping
// waits for that thread and announces every line it finished before stop() returns.
class LiveCopy : public QObject
{
    Q_OBJECT

public:
    explicit LiveCopy(QObject *parent = nullptr);
    ~LiveCopy() override;

    // Starts capturing from the device; false, with errorString() saying why, when it cannot.
    bool start(const QAudioDevice &device);
    // Copies what another device delivers in that format, as a capture would: read every tenth of
    // a second, and failed once it has delivered nothing for three seconds. The device stays the
    // caller's and must outlive the copy. False, with errorString() saying why, when the format is
    // none this class reads.
    bool startFrom(QIODevice *input, const QAudioFormat &format);
    // Ends the capture; the transmission under way, if any, is finished as a line. Should the
    // demodulator fail on it, failed() says why.
    void stop();
    bool isRunning() const { return m_worker != nullptr; }
    QString errorString() const { return m_error; }
    const QAudioDevice &device() const { return m_device; }
    double sampleRate() const;
    // When the capture began, in UTC milliseconds: a line's startSeconds count from here.
    qint64 startedAtMs() const { return m_startedMs; }

    // Empty while stopped.
    const LiveStatus &status() const { return m_status; }
    // Holds the demodulator on a pitch the user chose (200 to 2000 Hz), or lets it search again;
    // status() says so at once.
    void lockPitch(double hz);
    void releasePitch();

signals:
    // Each chunk, on the window's thread, as the demodulator is handed it.
    void captured(std::span<const float> samples);
    void lineCopied(const QString &text);
    // The same line as the demodulator copied it, with its time and confidence.
    void copied(const tovrin3::morse::CopiedLine &line);
    void statusChanged();
    // The device or the demodulator failed while capturing; the capture has ended.
    void failed(const QString &reason);

private:
    bool begin(QIODevice *input, const QAudioFormat &format);
    void readChunk();
    // Hands what has arrived to the demodulator; false when nothing had.
    bool takeCaptured();
    void checkState();
    // stop() without telling: returns the demodulator's failure met while stopping, if any.
    QString halt();
    void takeFailure(const QString &reason);
    void fail(const QString &reason);
    void takeStatus(const tovrin3::LiveStatus &status);

    QAudioDevice m_device;
    QAudioFormat m_format;
    // This object's, without being its child; deleted later when the capture ends, as the end may
    // be noticed in one of its own signals.
    QAudioSource *m_source = nullptr;
    // The source's own device, which it deletes when the stream fails, or the caller's.
    QPointer<QIODevice> m_input;
    MonoConverter m_converter;
    int m_emptyChunks = 0;
    std::vector<float> m_samples;
    QTimer m_chunkTimer;
    QString m_error;

    // The demodulation and its thread, both present exactly while running.
    QThread *m_thread = nullptr;
    DemodulationWorker *m_worker = nullptr;
    LiveStatus m_status;
    quint64 m_commands = 0;
    qint64 m_startedMs = 0;
    bool m_stopping = false;
    QString m_stoppingFailure;
};

} // namespace tovrin3
