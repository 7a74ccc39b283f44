// SPDX-License-Identifier: GPL-3.0-or-later
// Audio file reading on arbitrary file content: it reads audio or says why not in one line, and
// what it reads are numbers at a rate the demodulator takes.
#include "audiofile.h"
#include "fuzzcheck.h"

#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstdint>

namespace {

// Longer recordings only make the campaign slow; their headers are fuzzed all the same.
constexpr qint64 MaxSamplesRead = 1 << 20;

bool isOneLine(const QString &error)
{
    return !error.isEmpty() && !error.contains(u'\n');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The reader takes files by their path, as the programs give it.
    static const QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("input"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size)) !=
            static_cast<qint64>(size))
        return 0;
    file.close();

    tovrin3::morse::AudioFileReader reader;
    if (!reader.open(path)) {
        FUZZ_REQUIRE(isOneLine(reader.errorString()));
        return 0;
    }
    FUZZ_REQUIRE(reader.sampleRate() >= tovrin3::morse::LowestSampleRate &&
                 reader.sampleRate() <= tovrin3::morse::HighestSampleRate);
    std::vector<float> samples(4096);
    qint64 total = 0;
    while (total < MaxSamplesRead) {
        const qsizetype count = reader.read(samples);
        FUZZ_REQUIRE(count >= -1 && count <= std::ssize(samples));
        if (count < 0) {
            FUZZ_REQUIRE(isOneLine(reader.errorString()));
            break;
        }
        if (count == 0)
            break;
        for (qsizetype index = 0; index < count; ++index)
            FUZZ_REQUIRE(std::isfinite(samples[static_cast<size_t>(index)]));
        total += count;
    }
    return 0;
}
