// SPDX-License-Identifier: GPL-3.0-or-later
// The live copy without a sound server: captured bytes of every layout, in pieces cut anywhere,
// become the same mono samples; the demodulation on its own thread hands back every line, the
// last ones too when the copy stops; pitch commands show at once.
#include "cwtesting.h"
#include "livecopy.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>

using namespace tovrin3;
using namespace tovrin3::testing;
using namespace Qt::StringLiterals;

namespace {

QAudioFormat layout(QAudioFormat::SampleFormat sampleFormat, int channels, int rate = 16000)
{
    QAudioFormat format;
    format.setSampleRate(rate);
    format.setChannelCount(channels);
    format.setSampleFormat(sampleFormat);
    return format;
}

// Frames of the layout holding value(frame, channel), in bytes written independently of
// QAudioFormat's own reading.
template<typename Value>
QByteArray layoutBytes(const QAudioFormat &format, std::size_t frames, const Value &value)
{
    QByteArray bytes;
    const auto append = [&bytes](const auto &raw) {
        bytes.append(reinterpret_cast<const char *>(&raw), sizeof raw);
    };
    for (std::size_t frame = 0; frame < frames; ++frame) {
        for (int channel = 0; channel < format.channelCount(); ++channel) {
            const float sample = value(frame, channel);
            if (format.sampleFormat() == QAudioFormat::UInt8)
                append(static_cast<quint8>(std::lround((sample + 1.0F) * 127.0F)));
            else if (format.sampleFormat() == QAudioFormat::Int16)
                append(static_cast<qint16>(std::lround(sample * 32767.0F)));
            else if (format.sampleFormat() == QAudioFormat::Int32)
                append(static_cast<qint32>(std::lround(double(sample) * 2147483647.0)));
            else
                append(sample);
        }
    }
    return bytes;
}

// The test signal in every channel.
QByteArray signalBytes(const QAudioFormat &format, const QStringList &transmissions)
{
    const std::vector<float> signal = cwTestSignal(format.sampleRate(), transmissions);
    return layoutBytes(format, signal.size(),
                       [&](std::size_t frame, int) { return signal[frame]; });
}

// The texts of the lines a copy announced.
QStringList copiedTexts(const QSignalSpy &lines)
{
    QStringList texts;
    for (const QList<QVariant> &line : lines)
        texts.append(line[0].toString());
    return texts;
}

} // namespace

class TestLiveCopy : public QObject
{
    Q_OBJECT

private slots:
    void convertsLayoutsCutAnywhere_data()
    {
        QTest::addColumn<QAudioFormat>("format");
        QTest::addColumn<int>("pieceBytes");
        QTest::addColumn<float>("tolerance"); // the layout's quantisation

        const std::tuple<const char *, QAudioFormat, float> layouts[]{
            {"32-bit float stereo", layout(QAudioFormat::Float, 2), 1e-6F},
            {"16-bit mono", layout(QAudioFormat::Int16, 1), 1e-4F},
            {"16-bit stereo", layout(QAudioFormat::Int16, 2), 1e-4F},
            {"8-bit stereo", layout(QAudioFormat::UInt8, 2), 1e-2F},
            {"32-bit integer, 3 channels", layout(QAudioFormat::Int32, 3), 1e-6F},
        };
        // Pieces of one byte, of pieces that end inside a sample and between the channels of a
        // frame, and of more than one frame that end inside one.
        for (const auto &[name, format, tolerance] : layouts) {
            for (const int piece : {1, 3, 5, 7, 13, 1000})
                QTest::addRow("%s, pieces of %d bytes", name, piece)
                    << format << piece << tolerance;
        }
    }

    void convertsLayoutsCutAnywhere()
    {
        QFETCH(QAudioFormat, format);
        QFETCH(int, pieceBytes);
        QFETCH(float, tolerance);
        // Channels that differ, so that a frame cut between channels would show; each frame's mono
        // value is the mean of its channels.
        const auto value = [](std::size_t frame, int channel) {
            return 0.8F * std::sin(0.3F * float(frame) + float(channel));
        };
        std::vector<float> expected;
        for (std::size_t frame = 0; frame < 257; ++frame) {
            float sum = 0.0F;
            for (int channel = 0; channel < format.channelCount(); ++channel)
                sum += value(frame, channel);
            expected.push_back(sum / float(format.channelCount()));
        }
        // Not a whole number of pieces: the last frame is cut off and must wait.
        const QByteArray bytes = layoutBytes(format, 257, value) + QByteArray(1, '\0');

        MonoConverter converter(format);
        std::vector<float> samples;
        std::vector<float> copied;
        for (qsizetype offset = 0; offset < bytes.size(); offset += pieceBytes) {
            converter.convert(QByteArrayView(bytes).sliced(offset).first(
                                  std::min<qsizetype>(pieceBytes, bytes.size() - offset)),
                              samples);
            copied.insert(copied.end(), samples.begin(), samples.end());
        }

        QCOMPARE(copied.size(), expected.size());
        for (std::size_t index = 0; index < expected.size(); ++index)
            QVERIFY2(std::abs(copied[index] - expected[index]) <= tolerance,
                     qPrintable(u"sample %1"_s.arg(index)));
    }

    void refusesFormatsItCannotRead_data()
    {
        QTest::addColumn<QAudioFormat>("format");
        QTest::addColumn<QString>("reason");

        QTest::newRow("no sample format") << layout(QAudioFormat::Unknown, 2) << "no sample format";
        QTest::newRow("no channels") << layout(QAudioFormat::Int16, 0) << "no sample format";
        QTest::newRow("4 kHz") << layout(QAudioFormat::Int16, 1, 4000) << "no usable sample rate";
        QTest::newRow("384 kHz") << layout(QAudioFormat::Float, 1, 384000)
                                 << "no usable sample rate";
    }

    void refusesFormatsItCannotRead()
    {
        QFETCH(QAudioFormat, format);
        QFETCH(QString, reason);
        QBuffer input;
        input.setData(QByteArray(4096, '\1'));
        input.open(QIODevice::ReadOnly);

        LiveCopy copy;
        QVERIFY(!copy.startFrom(&input, format));

        QVERIFY(!copy.isRunning());
        QVERIFY2(copy.errorString().contains(reason), qPrintable(copy.errorString()));
    }

    // The lines come back through the event loop while the capture goes on, with the pitch and
    // speed of what is being copied. The last transmission ends only with the stream: stop() hands
    // it to the demodulator's thread, waits for that thread and announces the line before it
    // returns, so that a window closing right after loses nothing. Again at once, before the first
    // chunk was read.
    void stoppingAnnouncesEveryFinishedLine_data()
    {
        QTest::addColumn<bool>("waitForFirstLine");

        QTest::newRow("while copying") << true;
        QTest::newRow("right after the start") << false;
    }

    void stoppingAnnouncesEveryFinishedLine()
    {
        QFETCH(bool, waitForFirstLine);
        const QAudioFormat format = layout(QAudioFormat::Float, 1);
        QBuffer input;
        input.setData(signalBytes(format, CwTestTransmissions));
        input.open(QIODevice::ReadOnly);
        // Declared before the copy, which still reports while it is destroyed.
        QList<LiveStatus> reports;
        auto copy = std::make_unique<LiveCopy>();
        QSignalSpy lines(copy.get(), &LiveCopy::lineCopied);
        connect(copy.get(), &LiveCopy::statusChanged, this,
                [&reports, raw = copy.get()] { reports.append(raw->status()); });
        QVERIFY(copy->startFrom(&input, format));
        if (waitForFirstLine) {
            QTRY_VERIFY(!lines.isEmpty());
            QCOMPARE(copiedTexts(lines).first(), CwTestTransmissions.first());
            QVERIFY(copy->isRunning());
            // A line and the status after it are two events: the status may come a moment later.
            QTRY_VERIFY(std::any_of(reports.cbegin(), reports.cend(), [](const LiveStatus &status) {
                return std::abs(status.pitchHz - 700.0) < 20.0 &&
                       std::abs(status.wordsPerMinute - 30.0) < 5.0;
            }));
        }

        copy->stop();

        QCOMPARE(copiedTexts(lines), CwTestTransmissions);
        QVERIFY(!copy->isRunning());
        QVERIFY(!copy->findChild<QThread *>());
        QCOMPARE(copy->status().pitchHz, 0.0);
        copy.reset();
        QCOMPARE(copiedTexts(lines), CwTestTransmissions);
    }

    // A held pitch and its release show at once, and the demodulator's reports after each
    // command keep it (the held pitch through a real capture: tst_listening).
    void pitchCommandsShowAtOnce()
    {
        const QAudioFormat format = layout(QAudioFormat::Float, 1);
        QBuffer input;
        input.setData(signalBytes(format, CwShortTransmissions));
        input.open(QIODevice::ReadOnly);
        LiveCopy copy;
        QVERIFY(copy.startFrom(&input, format));

        for (const bool held : {true, false}) {
            held ? copy.lockPitch(1200.0) : copy.releasePitch();
            QCOMPARE(copy.status().pitchHeld, held);
            QVERIFY(!held || copy.status().pitchHz == 1200.0);
            QTRY_COMPARE(copy.status().command, quint64(held ? 1 : 2));
            QCOMPARE(copy.status().pitchHeld, held);
        }
        copy.stop();
    }
};

QTEST_GUILESS_MAIN(TestLiveCopy)
#include "tst_livecopy.moc"
