// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAudioDevice>
#include <QAudioFormat>
#include <QByteArrayView>
#include <QIODevice>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>
#include <span>
#include <vector>

QT_BEGIN_NAMESPACE
class QAudioSource;
QT_END_NAMESPACE

namespace tovrin3 {

namespace morse {
class CwDemodulator;
}

// Mono samples from captured bytes of any layout Qt Multimedia delivers: the channels of a frame
// are averaged. Bytes after the last whole frame are left out.
void appendMono(QByteArrayView bytes, const QAudioFormat &format, std::vector<float> &samples);

// Copies CW from an audio input as it is heard. The capture is read a tenth of a second at a time
// and handed to the demodulator in that chunk, so that the cost stays small; every line the
// demodulator finishes is announced at once.
class LiveCopy : public QObject
{
    Q_OBJECT

public:
    explicit LiveCopy(QObject *parent = nullptr);
    ~LiveCopy() override;

    // Starts capturing from the device; false, with errorString() saying why, when it cannot.
    bool start(const QAudioDevice &device);
    // Ends the capture; the transmission under way, if any, is finished as a line.
    void stop();
    bool isRunning() const { return m_source != nullptr; }
    QString errorString() const { return m_error; }
    const QAudioDevice &device() const { return m_device; }

    // The demodulator of the running capture; null while stopped.
    morse::CwDemodulator *demodulator() const { return m_demodulator.get(); }
    double sampleRate() const;

signals:
    // Each chunk, after the demodulator has taken it.
    void captured(std::span<const float> samples);
    void lineCopied(const QString &text);
    // The device failed while capturing; the capture has ended.
    void failed(const QString &reason);

private:
    void readChunk();
    // Hands what has arrived to the demodulator; false when nothing had.
    bool takeCaptured();
    void checkState();
    void fail(const QString &reason);
    void announceLines();

    QAudioDevice m_device;
    QAudioFormat m_format;
    // A child of this object; deleted later when the capture ends, as the end may be noticed in
    // one of its own signals.
    QAudioSource *m_source = nullptr;
    // The source's own device, which it deletes when the stream fails.
    QPointer<QIODevice> m_input;
    std::unique_ptr<morse::CwDemodulator> m_demodulator;
    QByteArray m_partialFrame;
    int m_emptyChunks = 0;
    std::vector<float> m_samples;
    QTimer m_chunkTimer;
    QString m_error;
};

} // namespace tovrin3
