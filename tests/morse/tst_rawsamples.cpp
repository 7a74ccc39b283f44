// SPDX-License-Identifier: GPL-3.0-or-later
#include "rawsamples.h"

#include <QTest>

using namespace tovrin3;

class TestRawSamples : public QObject
{
    Q_OBJECT

private slots:
    // Signed 16-bit little-endian, full scale 32768; pieces cut anywhere, even inside a sample.
    void decodes_data()
    {
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<std::vector<float>>("samples");
        QTest::addColumn<bool>("cutMidSample");
        const std::vector<float> scale{0.0F, 1.0F / 32768, -1.0F, 32767.0F / 32768, -1.0F / 32768};
        const QByteArray bytes("\x00\x00\x01\x00\x00\x80\xff\x7f\xff\xff", 10);
        QTest::newRow("whole samples") << QByteArrayList{bytes} << scale << false;
        QTest::newRow("cut inside a sample")
            << QByteArrayList{bytes.first(3), bytes.sliced(3, 4), bytes.sliced(7)} << scale
            << false;
        QTest::newRow("a byte at a time") << [&] {
            QByteArrayList pieces;
            for (const char byte : bytes)
                pieces.append(QByteArray(1, byte));
            return pieces;
        }() << scale << false;
        QTest::newRow("empty pieces between")
            << QByteArrayList{{}, bytes.first(1), {}, bytes.sliced(1)} << scale << false;
        QTest::newRow("ends inside a sample")
            << QByteArrayList{bytes.first(5)}
            << std::vector<float>(scale.begin(), scale.begin() + 2) << true;
    }

    void decodes()
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
};

QTEST_GUILESS_MAIN(TestRawSamples)
#include "tst_rawsamples.moc"
