// SPDX-License-Identifier: GPL-3.0-or-later
#include "livecopy.h"

#include "cwdemodulator.h"
#include "doubtfulmark.h"

#include <QAudioSource>

namespace tovrin3 {

namespace {

constexpr int ChunkMilliseconds = 100;
// An input delivers sound all the time, silence too; one that has delivered nothing for this
// long has failed (unplugged, its sound server gone), whether or not the device says so.
constexpr int StalledChunks = 3000 / ChunkMilliseconds;
// Room for several chunks, so that a busy moment of the window loses no sound.
constexpr qint64 CaptureBufferMicroseconds = 1'000'000;
// The band of the waterfall and the demodulator ends at 2 kHz; 16 kHz leaves ample room and
// keeps the work small. Devices that cannot deliver it give their own rate.
constexpr int PreferredSampleRate = 16000;

QAudioFormat captureFormat(const QAudioDevice &device)
{
    QAudioFormat format;
    format.setSampleRate(PreferredSampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Float);
    if (device.isFormatSupported(format))
        return format;
    return device.preferredFormat();
}

QString describe(QAudio::Error error)
{
    switch (error) {
    case QAudio::OpenError:
        return QStringLiteral("it could not be opened");
    case QAudio::IOError:
        return QStringLiteral("reading from it failed");
    case QAudio::UnderrunError:
        return QStringLiteral("it delivered no sound");
    case QAudio::FatalError:
        return QStringLiteral("it stopped working");
    case QAudio::NoError:
        break;
    }
    return QStringLiteral("it stopped");
}

} // namespace

void appendMono(QByteArrayView bytes, const QAudioFormat &format, std::vector<float> &samples)
{
    const int frameBytes = format.bytesPerFrame();
    const int channels = format.channelCount();
    if (frameBytes <= 0 || channels <= 0)
        return;
    const qsizetype frames = bytes.size() / frameBytes;
    const int sampleBytes = format.bytesPerSample();
    samples.reserve(samples.size() + static_cast<std::size_t>(frames));
    for (qsizetype frame = 0; frame < frames; ++frame) {
        const char *data = bytes.data() + frame * frameBytes;
        float sum = 0.0F;
        for (int channel = 0; channel < channels; ++channel)
            sum += format.normalizedSampleValue(data + channel * sampleBytes);
        samples.push_back(sum / static_cast<float>(channels));
    }
}

LiveCopy::LiveCopy(QObject *parent) : QObject(parent)
{
    m_chunkTimer.setInterval(ChunkMilliseconds);
    connect(&m_chunkTimer, &QTimer::timeout, this, &LiveCopy::readChunk);
}

LiveCopy::~LiveCopy() = default;

bool LiveCopy::start(const QAudioDevice &device)
{
    stop();
    m_error.clear();
    if (device.isNull()) {
        m_error = QStringLiteral("there is no such audio input");
        return false;
    }
    m_device = device;
    m_format = captureFormat(device);
    if (m_format.sampleRate() < 8000 || m_format.sampleRate() > 192000) {
        m_error = QStringLiteral("it offers no usable sample rate");
        return false;
    }
    auto *source = new QAudioSource(device, m_format, this);
    source->setBufferSize(
        static_cast<qsizetype>(m_format.bytesForDuration(CaptureBufferMicroseconds)));
    QIODevice *input = source->start();
    if (!input || source->error() != QAudio::NoError) {
        m_error = describe(source->error());
        delete source;
        return false;
    }
    m_source = source;
    m_input = input;
    m_emptyChunks = 0;
    m_demodulator = std::make_unique<morse::CwDemodulator>(m_format.sampleRate());
    connect(m_source, &QAudioSource::stateChanged, this, &LiveCopy::checkState);
    m_chunkTimer.start();
    return true;
}

void LiveCopy::stop()
{
    if (!m_source)
        return;
    m_chunkTimer.stop();
    takeCaptured();
    m_source->disconnect(this);
    m_source->stop();
    m_source->deleteLater();
    m_source = nullptr;
    m_input = nullptr;
    m_partialFrame.clear();
    m_demodulator->finish();
    announceLines();
    m_demodulator.reset();
}

double LiveCopy::sampleRate() const
{
    return m_format.sampleRate();
}

void LiveCopy::readChunk()
{
    if (takeCaptured()) {
        m_emptyChunks = 0;
        return;
    }
    if (++m_emptyChunks >= StalledChunks)
        fail(QStringLiteral("it has stopped delivering sound"));
}

bool LiveCopy::takeCaptured()
{
    if (!m_input)
        return false;
    m_partialFrame.append(m_input->readAll());
    const qsizetype frameBytes = m_format.bytesPerFrame();
    const qsizetype wholeBytes = m_partialFrame.size() - m_partialFrame.size() % frameBytes;
    if (wholeBytes == 0)
        return false;
    m_samples.clear();
    appendMono(QByteArrayView(m_partialFrame).first(wholeBytes), m_format, m_samples);
    m_partialFrame.remove(0, wholeBytes);

    m_demodulator->process(m_samples);
    emit captured(m_samples);
    announceLines();
    return true;
}

void LiveCopy::announceLines()
{
    for (const morse::CopiedLine &line : m_demodulator->takeLines())
        emit lineCopied(copiedLineText(line.text, line.doubtful, line.frameConfidence));
}

// A device that fails (unplugged, the sound server gone) ends the capture with the reason.
void LiveCopy::checkState()
{
    if (!m_source || m_source->error() == QAudio::NoError)
        return;
    if (m_source->error() == QAudio::UnderrunError)
        return;
    fail(describe(m_source->error()));
}

void LiveCopy::fail(const QString &reason)
{
    stop();
    m_error = reason;
    emit failed(reason);
}

} // namespace tovrin3
