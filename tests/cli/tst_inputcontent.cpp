// SPDX-License-Identifier: GPL-3.0-or-later
// What an input holds, told by as few first bytes as a pipe may deliver.
#include "cwtesting.h"
#include "filetesting.h"
#include "inputcontent.h"
#include "soundtesting.h"

#include <QStringEncoder>
#include <QTest>

using namespace tovrin3;

namespace {

QByteArray recording(int format, int sampleRate = 8000)
{
    return testing::soundBytes(testing::cwTestSignal(sampleRate, testing::CwShortTransmissions),
                               sampleRate, format);
}

} // namespace

Q_DECLARE_METATYPE(InputContent)

class TestInputContent : public QObject
{
    Q_OBJECT

private slots:
    void tells_data()
    {
        QTest::addColumn<QByteArray>("firstBytes");
        QTest::addColumn<InputContent>("content");
        const QByteArray text = "QT7XMRKT3HKD 900140010C6A00A503\n";
        QTest::newRow("nothing is empty text") << QByteArray() << InputContent::Utf8Text;
        QTest::newRow("UTF-8") << text << InputContent::Utf8Text;
        QTest::newRow("UTF-8 with a byte-order mark")
            << "\xEF\xBB\xBF" + text << InputContent::Utf8Text;
        QTest::newRow("not UTF-8 but no NUL: text with replaced bytes")
            << "caf\xE9 " + text << InputContent::Utf8Text;
        QStringEncoder little(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
        QStringEncoder big(QStringConverter::Utf16BE, QStringConverter::Flag::WriteBom);
        QTest::newRow("UTF-16, little-endian")
            << QByteArray(little(QString::fromUtf8(text))) << InputContent::Utf16Text;
        QTest::newRow("UTF-16, big-endian")
            << QByteArray(big(QString::fromUtf8(text))) << InputContent::Utf16Text;
        QTest::newRow("a NUL in the first 4 KiB")
            << text.repeated(100) + '\0' << InputContent::Unknown;
        QTest::newRow("raw samples")
            << testing::rawSamples(testing::cwTestSignal(8000)).first(TextCheckSize)
            << InputContent::Unknown;
        // A pipe may deliver no more than the first AudioCheckSize bytes before the decision.
        const QList<std::pair<const char *, int>> formats{
            {"WAV", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
            {"FLAC", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
            {"Ogg Vorbis", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
            {"Ogg Opus", SF_FORMAT_OGG | SF_FORMAT_OPUS},
            {"AU", SF_FORMAT_AU | SF_FORMAT_PCM_16},
            {"AIFF", SF_FORMAT_AIFF | SF_FORMAT_PCM_16}};
        for (const auto &[name, format] : formats) {
            const QByteArray bytes = recording(format);
            QTest::addRow("%s, its first bytes", name)
                << bytes.first(AudioCheckSize) << InputContent::Recording;
            QTest::addRow("%s, its first 4 KiB", name)
                << bytes.first(TextCheckSize) << InputContent::Recording;
        }
    }

    void tells()
    {
        QFETCH(QByteArray, firstBytes);
        QTEST(inputContent(firstBytes), "content");
    }
};

QTEST_GUILESS_MAIN(TestInputContent)
#include "tst_inputcontent.moc"
