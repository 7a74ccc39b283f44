// SPDX-License-Identifier: GPL-3.0-or-later
#include "livecopy.h"

#include "cwdemodulator.h"
#include "doubtfulmark.h"

#include <QAudioSource>
#include <QCoreApplication>
#include <QDateTime>
#include <QThread>

#include <exception>
#include <utility>

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
// The rates the demodulator takes.
constexpr int LowestSampleRate = 8000;
constexpr int HighestSampleRate = 192000;

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

// Why a capture format cannot be copied from; empty when it can.
QString unusable(const QAudioFormat &format)
{
    if (format.sampleFormat() == QAudioFormat::Unknown || format.bytesPerFrame() <= 0)
        return QStringLiteral("it offers no sample format this program reads");
    if (format.sampleRate() < LowestSampleRate || format.sampleRate() > HighestSampleRate)
        return QStringLiteral("it offers no usable sample rate");
    return {};
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

// The demodulator on its own thread: it takes chunks, pitch commands and the end of the stream
// in the order the window sent them, and reports lines and status after each. A demodulator whose
// library fails (out of memory) reports the reason once and takes nothing more: no exception
// leaves the thread's event loop.
class DemodulationWorker : public QObject
{
    Q_OBJECT

public:
    // Throws std::runtime_error when the demodulator cannot be made.
    explicit DemodulationWorker(double sampleRate) : m_demodulator(sampleRate) {}

    void process(const std::vector<float> &samples)
    {
        run([&] { m_demodulator.process(samples); });
    }
    void finish()
    {
        run([&] { m_demodulator.finish(); });
    }
    void lockPitch(double hz, quint64 command)
    {
        m_command = command;
        run([&] { m_demodulator.lockPitch(hz); });
    }
    void releasePitch(quint64 command)
    {
        m_command = command;
        run([&] { m_demodulator.releasePitch(); });
    }

signals:
    void lineCopied(const QString &text);
    void copied(const tovrin3::morse::CopiedLine &line);
    void statusChanged(const tovrin3::LiveStatus &status);
    void failed(const QString &reason);

private:
    template<typename Step> void run(Step step)
    {
        if (m_failed)
            return;
        try {
            step();
            report();
        } catch (const std::exception &failure) {
            m_failed = true;
            emit failed(QString::fromLocal8Bit(failure.what()));
        }
    }

    void report()
    {
        for (const morse::CopiedLine &line : m_demodulator.takeLines()) {
            emit lineCopied(copiedLineText(line.text, line.doubtful, line.frameConfidence));
            emit copied(line);
        }
        emit statusChanged({m_demodulator.pendingText(), m_demodulator.pitchHz(),
                            m_demodulator.wordsPerMinute(), m_demodulator.isPitchLocked(),
                            m_command});
    }

    morse::CwDemodulator m_demodulator;
    quint64 m_command = 0;
    bool m_failed = false;
};

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

MonoConverter::MonoConverter(const QAudioFormat &format) : m_format(format) {}

void MonoConverter::convert(QByteArrayView bytes, std::vector<float> &samples)
{
    samples.clear();
    const qsizetype frameBytes = m_format.bytesPerFrame();
    if (frameBytes <= 0)
        return;
    m_partialFrame.append(bytes);
    const qsizetype wholeBytes = m_partialFrame.size() - m_partialFrame.size() % frameBytes;
    appendMono(QByteArrayView(m_partialFrame).first(wholeBytes), m_format, samples);
    m_partialFrame.remove(0, wholeBytes);
}

LiveCopy::LiveCopy(QObject *parent) : QObject(parent)
{
    m_chunkTimer.setInterval(ChunkMilliseconds);
    connect(&m_chunkTimer, &QTimer::timeout, this, &LiveCopy::readChunk);
}

LiveCopy::~LiveCopy()
{
    halt();
}

bool LiveCopy::start(const QAudioDevice &device)
{
    stop();
    m_error.clear();
    if (device.isNull()) {
        m_error = QStringLiteral("there is no such audio input");
        return false;
    }
    m_device = device;
    const QAudioFormat format = captureFormat(device);
    m_error = unusable(format);
    if (!m_error.isEmpty())
        return false;
    // Without a parent: this Qt Multimedia hands the parent on to its own platform source, which
    // the QAudioSource deletes too, so a parent deleting its children would delete that twice.
    auto *source = new QAudioSource(device, format);
    source->setBufferSize(
        static_cast<qsizetype>(format.bytesForDuration(CaptureBufferMicroseconds)));
    QIODevice *input = source->start();
    if (!input || source->error() != QAudio::NoError) {
        m_error = describe(source->error());
        delete source;
        return false;
    }
    m_source = source;
    connect(m_source, &QAudioSource::stateChanged, this, &LiveCopy::checkState);
    return begin(input, format);
}

bool LiveCopy::startFrom(QIODevice *input, const QAudioFormat &format)
{
    stop();
    m_device = {};
    m_error = unusable(format);
    return m_error.isEmpty() && begin(input, format);
}

bool LiveCopy::begin(QIODevice *input, const QAudioFormat &format)
{
    DemodulationWorker *worker = nullptr;
    try {
        worker = new DemodulationWorker(format.sampleRate());
    } catch (const std::exception &failure) {
        m_error = QString::fromLocal8Bit(failure.what());
        if (m_source) {
            m_source->disconnect(this);
            m_source->stop();
            m_source->deleteLater();
            m_source = nullptr;
        }
        return false;
    }
    m_worker = worker;
    m_input = input;
    m_format = format;
    m_converter = MonoConverter(format);
    m_emptyChunks = 0;
    m_status = {};
    m_commands = 0;
    m_startedMs = QDateTime::currentMSecsSinceEpoch();

    m_thread = new QThread(this);
    m_thread->setObjectName(QStringLiteral("demodulation"));
    m_worker->moveToThread(m_thread);
    connect(m_worker, &DemodulationWorker::lineCopied, this, &LiveCopy::lineCopied);
    connect(m_worker, &DemodulationWorker::copied, this, &LiveCopy::copied);
    connect(m_worker, &DemodulationWorker::statusChanged, this, &LiveCopy::takeStatus);
    connect(m_worker, &DemodulationWorker::failed, this, &LiveCopy::takeFailure);
    m_thread->start();
    m_chunkTimer.start();
    emit statusChanged();
    return true;
}

void LiveCopy::stop()
{
    const QString failure = halt();
    if (failure.isEmpty())
        return;
    m_error = failure;
    emit failed(failure);
}

// The worker takes what was captured last and ends the transmission under way before its thread
// ends. Its lines then wait in this thread's queue and are announced here, in order, as this
// object may go as soon as stop() returns.
QString LiveCopy::halt()
{
    if (!isRunning())
        return {};
    m_stopping = true;
    m_chunkTimer.stop();
    takeCaptured();
    if (m_source) {
        m_source->disconnect(this);
        m_source->stop();
        m_source->deleteLater();
        m_source = nullptr;
    }
    m_input = nullptr;

    QMetaObject::invokeMethod(m_worker, [worker = m_worker] {
        worker->finish();
        QThread::currentThread()->quit();
    });
    m_thread->wait();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    delete m_worker;
    m_worker = nullptr;
    delete m_thread;
    m_thread = nullptr;
    m_status = {};
    m_stopping = false;
    emit statusChanged();
    return std::exchange(m_stoppingFailure, {});
}

double LiveCopy::sampleRate() const
{
    return m_format.sampleRate();
}

void LiveCopy::lockPitch(double hz)
{
    if (!isRunning())
        return;
    const quint64 command = ++m_commands;
    QMetaObject::invokeMethod(m_worker,
                              [worker = m_worker, hz, command] { worker->lockPitch(hz, command); });
    m_status.pitchHz = hz;
    m_status.pitchHeld = true;
    emit statusChanged();
}

void LiveCopy::releasePitch()
{
    if (!isRunning())
        return;
    const quint64 command = ++m_commands;
    QMetaObject::invokeMethod(m_worker,
                              [worker = m_worker, command] { worker->releasePitch(command); });
    m_status.pitchHeld = false;
    emit statusChanged();
}

// A report made before the demodulator took the user's latest pitch command would undo what
// the window already shows of it.
void LiveCopy::takeStatus(const LiveStatus &status)
{
    if (!isRunning() || status.command < m_commands)
        return;
    m_status = status;
    emit statusChanged();
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
    m_converter.convert(m_input->readAll(), m_samples);
    if (m_samples.empty())
        return false;
    emit captured(m_samples);
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, samples = m_samples] { worker->process(samples); });
    return true;
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

// A failure met while stopping is told once the stop is done.
void LiveCopy::takeFailure(const QString &reason)
{
    if (m_stopping)
        m_stoppingFailure = reason;
    else if (isRunning())
        fail(reason);
}

void LiveCopy::fail(const QString &reason)
{
    halt();
    m_error = reason;
    emit failed(reason);
}

} // namespace tovrin3

#include "livecopy.moc"
