// SPDX-License-Identifier: GPL-3.0-or-later
#include "audiofile.h"
#include "cwtesting.h"
#include "filetesting.h"
#include "morsetesting.h"
#include "rawsamples.h"
#include "soundtesting.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <sndfile.h>

#include <cmath>
#include <limits>

using namespace tovrin3;
using testing::soundBytes;
using testing::writeSound;

namespace {

// The bytes with a little-endian field of the value's width at the offset set to the value.
template<typename Field> QByteArray patched(QByteArray bytes, qsizetype offset, Field value)
{
    qToLittleEndian(value, bytes.data() + offset);
    return bytes;
}

// Samples in a FLAC frame as libsndfile writes them.
constexpr size_t FlacBlock = 4096;

// The Ogg file without the page before its last.
QByteArray withoutOggPage(const QByteArray &bytes)
{
    const qsizetype last = bytes.lastIndexOf("OggS");
    const qsizetype before = bytes.lastIndexOf("OggS", last - 1);
    return bytes.first(before) + bytes.sliced(last);
}

// The offsets of the canonical 44-byte header libsndfile writes for 16-bit mono PCM.
constexpr qsizetype WavChannelsOffset = 22;
constexpr qsizetype WavRateOffset = 24;
constexpr qsizetype WavDataSizeOffset = 40;
constexpr qsizetype WavHeaderSize = 44;

std::vector<float> readAll(morse::AudioFileReader &reader)
{
    std::vector<float> samples;
    std::vector<float> block(1000);
    qsizetype count = 0;
    while ((count = reader.read(block)) > 0)
        samples.insert(samples.end(), block.begin(), block.begin() + count);
    return count == 0 ? samples : std::vector<float>{};
}

} // namespace

class TestAudioFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        QVERIFY(m_dir.isValid());
        const std::vector<float> tone = testing::cwTestSignal(8000.0, {QStringLiteral("TEST")});
        m_wav = soundBytes(tone, 8000, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        m_flac = soundBytes(tone, 8000, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
        m_ogg = soundBytes(tone, 8000, SF_FORMAT_OGG | SF_FORMAT_VORBIS);
        for (const auto &[name, format] : {std::pair{"AU", SF_FORMAT_AU | SF_FORMAT_PCM_16},
                                           {"W64", SF_FORMAT_W64 | SF_FORMAT_PCM_16},
                                           {"RF64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16},
                                           {"NIST", SF_FORMAT_NIST | SF_FORMAT_PCM_16},
                                           {"Ogg Opus", SF_FORMAT_OGG | SF_FORMAT_OPUS}}) {
            m_recordings.append({name, soundBytes(tone, 8000, format)});
            QVERIFY(!m_recordings.last().second.isEmpty());
        }
        // The FLAC frames of the first samples are those of the whole file: a file that holds
        // only them ends where a frame of the whole file ends.
        m_flacFrameEnd = soundBytes(std::span(tone).first(FlacBlock * 2), 8000,
                                    SF_FORMAT_FLAC | SF_FORMAT_PCM_16)
                             .size();
        QCOMPARE(m_wav.sliced(36, 4), QByteArray("data"));
    }

    // Every kind of file is told by its content: each is named pass.txt.
    void copiesEveryFormat_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<int>("channels");
        const int wav = SF_FORMAT_WAV;
        QTest::newRow("WAV unsigned 8-bit, 8 kHz") << (wav | SF_FORMAT_PCM_U8) << 8000 << 1;
        QTest::newRow("WAV 16-bit, 11025 Hz, stereo") << (wav | SF_FORMAT_PCM_16) << 11025 << 2;
        QTest::newRow("WAV float, 48 kHz, four channels") << (wav | SF_FORMAT_FLOAT) << 48000 << 4;
        QTest::newRow("WAV 16-bit, 192 kHz") << (wav | SF_FORMAT_PCM_16) << 192000 << 1;
        QTest::newRow("WAV 16-bit, 4 kHz") << (wav | SF_FORMAT_PCM_16) << 4000 << 1;
        QTest::newRow("FLAC 24-bit, 44.1 kHz, stereo")
            << (SF_FORMAT_FLAC | SF_FORMAT_PCM_24) << 44100 << 2;
        QTest::newRow("Ogg Opus, 48 kHz") << (SF_FORMAT_OGG | SF_FORMAT_OPUS) << 48000 << 1;
    }

    void copiesEveryFormat()
    {
        QFETCH(int, format);
        QFETCH(int, sampleRate);
        QFETCH(int, channels);
        const QString path = m_dir.filePath(QStringLiteral("pass.txt"));
        QVERIFY(writeSound(path, testing::cwTestSignal(sampleRate, testing::CwShortTransmissions),
                           sampleRate, format, channels));
        QVERIFY(morse::isAudioFile(path));
        const morse::AudioFileCopy copy = morse::copyAudioFile(path);
        QCOMPARE(copy.error, QString());
        QCOMPARE(testing::lineTexts(copy.lines), testing::CwShortTransmissions);
        const double lead = testing::cwTestKeying(sampleRate).leadSeconds;
        QVERIFY_NEAR(copy.lines.front().startSeconds, lead, 0.1);
    }

    void readsSamples_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("channels");
        QTest::addColumn<std::vector<float>>("written");
        QTest::addColumn<std::vector<float>>("read");
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const float infinity = std::numeric_limits<float>::infinity();
        QTest::newRow("16-bit stereo averaged to mono")
            << (SF_FORMAT_WAV | SF_FORMAT_PCM_16) << 2
            << std::vector<float>{16384.0F, 8192.0F, -32768.0F, 0.0F, 4096.0F, 4096.0F}
            << std::vector<float>{0.375F, -0.5F, 0.125F};
        QTest::newRow("float samples that are no number read as silence")
            << (SF_FORMAT_WAV | SF_FORMAT_FLOAT) << 1
            << std::vector<float>{0.5F, nan, infinity, -infinity, -0.5F}
            << std::vector<float>{0.5F, 0.0F, 0.0F, 0.0F, -0.5F};
        const float largest = std::numeric_limits<float>::max();
        QTest::newRow("huge finite channels never add up to infinity")
            << (SF_FORMAT_WAV | SF_FORMAT_FLOAT) << 4
            << std::vector<float>{largest,  largest,  largest,  largest,
                                  -largest, -largest, -largest, nan}
            << std::vector<float>{largest, -largest * 0.75F};
    }

    void readsSamples()
    {
        QFETCH(int, format);
        QFETCH(int, channels);
        QFETCH(std::vector<float>, written);
        const QString path = m_dir.filePath(QStringLiteral("samples"));
        SF_INFO info{};
        info.samplerate = 8000;
        info.channels = channels;
        info.format = format;
        SNDFILE *file = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
        QVERIFY(file);
        // Integer samples are given as they are stored.
        sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_FALSE);
        sf_write_float(file, written.data(), std::ssize(written));
        sf_close(file);
        morse::AudioFileReader reader;
        QVERIFY2(reader.open(path), qPrintable(reader.errorString()));
        QCOMPARE(reader.sampleRate(), 8000.0);
        QCOMPARE(reader.length(), std::ssize(written) / channels);
        QTEST(readAll(reader), "read");
    }

    // A file that is not audio, is damaged or declares absurd values gives an error of one line.
    // Damaged audio is still audio: it is never read as text. Files of an odd shape that are
    // whole copy without an error: some tools append a tag after an Ogg stream's last page; a
    // recorder that streams leaves a WAV's length unwritten, and the file's end is the end.
    void readsOrRejectsByShape_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("error");
        const QString notAudio = QStringLiteral("^not an audio file$");
        const QString cutShort = QStringLiteral("^cut short");
        const QString damaged = QStringLiteral("^damaged audio");
        const qsizetype samplesSize = m_wav.size() - WavHeaderSize;
        QTest::newRow("Ogg Vorbis with a tag after it")
            << m_ogg + "TAG" + QByteArray(125, ' ') << QStringLiteral("^$");
        QTest::newRow("WAV with its length unwritten")
            << patched(m_wav, WavDataSizeOffset, quint32(0xFFFFFFFF)) << QStringLiteral("^$");
        QTest::newRow("zero-length file") << QByteArray() << QStringLiteral("^empty file");
        QTest::newRow("beacon text") << QByteArray("QT7XMRKT3HKD 900140010C6A00A503\n") << notAudio;
        QTest::newRow("PNG image")
            << testing::fileContent(QStringLiteral(ASSETS_DIR "/tovrin3.png")) << notAudio;
        QTest::newRow("RIFF WAVE and nothing more")
            << QByteArray("RIFF\x04\0\0\0WAVE", 12) << damaged;
        QTest::newRow("WAV cut short in its samples")
            << m_wav.first(WavHeaderSize + samplesSize / 2) << cutShort;
        QTest::newRow("WAV header alone") << m_wav.first(WavHeaderSize) << cutShort;
        QTest::newRow("WAV declaring a huge length")
            << patched(m_wav, WavDataSizeOffset, quint32(0x7FFFFFF0)) << cutShort;
        QTest::newRow("WAV declaring no samples")
            << patched(m_wav, WavDataSizeOffset, quint32(0)) << QStringLiteral("^no samples");
        QTest::newRow("WAV at 4 GHz")
            << patched(m_wav, WavRateOffset, quint32(4'000'000'000)) << damaged;
        // 0 Hz is told as any other rate.
        for (const quint32 rate : {1000, 0, 384000})
            QTest::addRow("WAV at %u Hz", rate)
                << patched(m_wav, WavRateOffset, rate)
                << QStringLiteral("^sample rate %1 Hz: this program reads 4 kHz to 192 kHz$")
                       .arg(rate);
        QTest::newRow("WAV with 60000 channels")
            << patched(m_wav, WavChannelsOffset, quint16(60000)) << damaged;
        QTest::newRow("FLAC cut inside a frame") << m_flac.first(m_flac.size() / 2) << damaged;
        QTest::newRow("FLAC cut where a frame ends")
            << m_flac.first(m_flacFrameEnd) << QStringLiteral("^cut short after 8192 of");
        for (const int percent : {10, 50, 99})
            QTest::addRow("Ogg Vorbis cut at %d %%", percent)
                << m_ogg.first(m_ogg.size() * percent / 100) << cutShort;
        QTest::newRow("Ogg Vorbis without its end-of-stream page")
            << m_ogg.first(m_ogg.lastIndexOf("OggS"))
            << QStringLiteral("^cut short: the Ogg stream ends without its end-of-stream page$");
        QTest::newRow("Ogg Vorbis with a page missing")
            << withoutOggPage(m_ogg) << QStringLiteral("^damaged Ogg stream: a page is missing");
        QTest::newRow("Ogg Vorbis with a bit flipped")
            << patched(m_ogg, m_ogg.size() / 2, quint8(m_ogg[m_ogg.size() / 2] ^ 0x10))
            << QStringLiteral("^damaged Ogg page at byte \\d+ \\(its checksum does not match\\)$");
        for (const auto &[name, recording] : m_recordings)
            QTest::addRow("%s cut short", name)
                << recording.first(recording.size() * 9 / 10) << cutShort;
        QTest::newRow("UTF-16 text, taken for MPEG audio by the library")
            << QByteArray("\xFF\xFE") +
                   QByteArray(reinterpret_cast<const char *>(u"QT7XMRKT3HKD 900140010C6A00A503\n"),
                              64)
            << notAudio;
        QTest::newRow("an MPEG frame header and no second frame")
            << QByteArray("\xFF\xFB\x90\x00", 4) + QByteArray(3000, '\x55') << notAudio;
    }

    void readsOrRejectsByShape()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        const QString path = m_dir.filePath(QStringLiteral("bad.wav"));
        QVERIFY(testing::writeFile(path, content));
        const morse::AudioFileCopy copy = morse::copyAudioFile(path);
        QVERIFY2(QRegularExpression(error).match(copy.error).hasMatch(), qPrintable(copy.error));
        QVERIFY(!copy.error.contains(u'\n'));
        // Damaged audio is still audio.
        QCOMPARE(morse::isAudioFile(path),
                 !content.isEmpty() && error != QStringLiteral("^not an audio file$"));
        if (copy.error.isEmpty())
            QCOMPARE(testing::lineTexts(copy.lines), QStringList{QStringLiteral("TEST")});
    }

    // A recorder that crashed at the end of a pass costs only the end. A WAV file is
    // tested in tst_programs (damagedFileGivesLinesBeforeDamage).
    void keepsLinesBeforeDamage_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("FLAC") << (SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
        QTest::newRow("Ogg Vorbis") << (SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    }

    void keepsLinesBeforeDamage()
    {
        QFETCH(int, format);
        const QString path = m_dir.filePath(QStringLiteral("whole"));
        QVERIFY(writeSound(path, testing::cwTestSignal(8000, testing::CwShortTransmissions), 8000,
                           format));
        const QByteArray whole = testing::fileContent(path);
        QVERIFY(testing::writeFile(path, whole.first(whole.size() * 97 / 100)));
        const morse::AudioFileCopy copy = morse::copyAudioFile(path);
        QVERIFY(!copy.error.isEmpty());
        QVERIFY2(!copy.lines.empty(), qPrintable(copy.error));
        QCOMPARE(copy.lines.front().text, testing::CwShortTransmissions.front());
    }

    void isAudioFileLeavesOtherThingsAlone()
    {
        QVERIFY(!morse::isAudioFile(m_dir.path()));
        QVERIFY(!morse::isAudioFile(m_dir.filePath(QStringLiteral("missing.wav"))));
        QVERIFY(!morse::isAudioFile(QStringLiteral("/dev/null")));
    }

    void reportsProgressAndCancels()
    {
        const QString path = m_dir.filePath(QStringLiteral("progress.wav"));
        QVERIFY(testing::writeFile(path, m_wav));
        QList<double> fractions;
        const morse::AudioFileCopy whole = morse::copyAudioFile(path, [&](double fraction) {
            fractions.append(fraction);
            return true;
        });
        QVERIFY(!whole.cancelled);
        QVERIFY(std::ranges::is_sorted(fractions));
        QCOMPARE(fractions.last(), 1.0);
        const morse::AudioFileCopy cancelled =
            morse::copyAudioFile(path, [](double) { return false; });
        QVERIFY(cancelled.cancelled);
        QVERIFY(cancelled.lines.empty());
        QCOMPARE(cancelled.error, QString());
    }

    // A transmission that lasts to the end of the file is decoded only when the stream ends: the
    // lock on it is reported all the same.
    void reportsTheLockAtTheEnd()
    {
        const QString text = QStringLiteral("CQ CQ DE TEST K");
        std::vector<float> samples = testing::cwTestSignal(8000.0, {text});
        samples.resize(samples.size() - 6000); // a quarter second after the last element
        const QString path = m_dir.filePath(QStringLiteral("lastlock.wav"));
        QVERIFY(cwgen::writeWav(path, samples, 8000));
        QList<morse::CwLock> locks;
        const morse::AudioFileCopy copy = morse::copyAudioFile(
            path, {}, [&](const morse::CwLock &lock, double) { locks.append(lock); });
        QCOMPARE(testing::lineTexts(copy.lines), QStringList{text});
        QCOMPARE(locks.size(), 1);
        QVERIFY_NEAR(locks.front().pitchHz, 700.0, 10.0);
    }

    // Raw samples on standard input: signed 16-bit little-endian, full scale 32768; pieces cut
    // anywhere, even inside a sample.
    void rawSamples_data()
    {
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<std::vector<float>>("samples");
        QTest::addColumn<bool>("cutMidSample");
        const std::vector<float> scale{0.0F, 1.0F / 32768, -1.0F, 32767.0F / 32768, -1.0F / 32768};
        const QByteArray bytes("\x00\x00\x01\x00\x00\x80\xff\x7f\xff\xff", 10);
        QTest::newRow("whole samples") << QByteArrayList{bytes} << scale << false;
        QTest::newRow("empty pieces between")
            << QByteArrayList{{}, bytes.first(1), {}, bytes.sliced(1)} << scale << false;
        QTest::newRow("ends inside a sample")
            << QByteArrayList{bytes.first(5)}
            << std::vector<float>(scale.begin(), scale.begin() + 2) << true;
    }

    void rawSamples()
    {
        QFETCH(QByteArrayList, pieces);
        morse::RawSampleDecoder decoder;
        std::vector<float> samples;
        for (const QByteArray &piece : pieces) {
            const std::span<const float> decoded = decoder.decode(piece);
            samples.insert(samples.end(), decoded.begin(), decoded.end());
        }
        QTEST(samples, "samples");
        QTEST(decoder.isCutMidSample(), "cutMidSample");
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_wav;
    QByteArray m_flac;
    QByteArray m_ogg;
    QList<std::pair<const char *, QByteArray>> m_recordings;
    qsizetype m_flacFrameEnd = 0;
};

QTEST_GUILESS_MAIN(TestAudioFile)
#include "tst_audiofile.moc"
