// SPDX-License-Identifier: GPL-3.0-or-later
// The demodulator's first stage: what it blanks, what it passes untouched.
#include "cwtesting.h"
#include "impulseblanker.h"

#include <QList>
#include <QTest>

#include <cmath>
#include <limits>
#include <numbers>
#include <numeric>

using namespace tovrin3;

namespace {

constexpr double Rate = 8000.0;
// Samples a blanked run may last before it counts as the signal's new level.
const qsizetype ImpulseRun = std::llround(morse::ImpulseBlanker::MaxImpulseSeconds * Rate);

// A 700 Hz tone: `seconds` of it at `amplitude`, never exactly 0 at its start.
std::vector<float> tone(double amplitude, double seconds)
{
    return testing::steadyTone(Rate, 700.0, amplitude, std::size_t(seconds * Rate), 1.0);
}

std::vector<float> joined(std::vector<float> first, const std::vector<float> &second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// The samples with `count` of them from `from` on set to the value.
std::vector<float> with(std::vector<float> samples, qsizetype from, float value,
                        qsizetype count = 1)
{
    std::fill_n(samples.begin() + from, count, value);
    return samples;
}

QList<qsizetype> range(qsizetype from, qsizetype count)
{
    QList<qsizetype> indices(count);
    std::iota(indices.begin(), indices.end(), from);
    return indices;
}

std::vector<float> blanked(std::span<const float> samples, qsizetype pieceSize)
{
    morse::ImpulseBlanker blanker(Rate);
    std::vector<float> output;
    for (qsizetype at = 0; at < std::ssize(samples); at += pieceSize) {
        const auto piece =
            samples.subspan(static_cast<size_t>(at),
                            static_cast<size_t>(std::min(pieceSize, std::ssize(samples) - at)));
        const std::span<const float> done = blanker.process(piece);
        output.insert(output.end(), done.begin(), done.end());
    }
    return output;
}

} // namespace

class TestImpulseBlanker : public QObject
{
    Q_OBJECT

private slots:
    void blanks_data()
    {
        QTest::addColumn<std::vector<float>>("input");
        QTest::addColumn<QList<qsizetype>>("blankedAt");
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const float infinity = std::numeric_limits<float>::infinity();
        const float largest = std::numeric_limits<float>::max();
        const std::vector<float> silence(4000, 0.0F);
        // Recordings begin with a moment of silence or noise before the first transmission.
        const std::vector<float> signal = joined(silence, tone(0.5, 0.5));

        QTest::newRow("a tone at full scale passes")
            << joined(silence, tone(1.0, 1.0)) << QList<qsizetype>();
        QTest::newRow("a tone at full scale from the first sample passes")
            << tone(1.0, 1.0) << QList<qsizetype>();
        QTest::newRow("keying: a second of silence, then the tone again")
            << joined(joined(signal, silence), signal) << QList<qsizetype>();
        QTest::newRow("one sample of 1e20") << with(signal, 6000, 1e20F) << QList<qsizetype>{6000};
        QTest::newRow("one sample of 1000, 66 dB over the tone")
            << with(signal, 6000, -1000.0F) << QList<qsizetype>{6000};
        QTest::newRow("a sample 50 dB over the tone's level stays")
            << with(signal, 6000, 120.0F) << QList<qsizetype>();
        QTest::newRow("the largest float")
            << with(with(signal, 4010, largest), 6000, -largest) << QList<qsizetype>{4010, 6000};
        QTest::newRow("samples that are no number")
            << with(with(with(signal, 0, nan), 4100, infinity), 4101, -infinity)
            << QList<qsizetype>{0, 4100, 4101};
        QTest::newRow("a click shorter than the longest impulse")
            << with(signal, 6000, 1e6F, ImpulseRun) << range(6000, ImpulseRun);
        // Louder than full scale is legal: after digital silence such a tone's level is taken up
        // once it has lasted longer than an impulse.
        QTest::newRow("a tone 40 dB over full scale after digital silence")
            << joined(silence, tone(100.0, 1.0)) << range(4000, ImpulseRun + 1);
    }

    // Every sample not blanked is passed unchanged, wherever the stream is cut.
    void blanks()
    {
        QFETCH(std::vector<float>, input);
        QFETCH(QList<qsizetype>, blankedAt);
        const std::vector<float> output = blanked(input, 4096);
        QCOMPARE(output.size(), input.size());
        for (size_t index = 0; index < input.size(); ++index) {
            const bool blank = blankedAt.contains(qsizetype(index));
            QVERIFY2(output[index] == (blank ? 0.0F : input[index]),
                     qPrintable(QString::number(index)));
        }
        for (const qsizetype pieceSize : {1, 7, 1000})
            QVERIFY2(blanked(input, pieceSize) == output,
                     qPrintable(QStringLiteral("pieces of %1").arg(pieceSize)));
    }
};

QTEST_GUILESS_MAIN(TestImpulseBlanker)
#include "tst_impulseblanker.moc"
