// The decode run on arbitrary text, read as UTF-8 and as raw UTF-16: the history stays within
// its bound and every report block has its fixed shape.
#include "decoder.h"
#include "fuzzcheck.h"
#include "normalisation.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <cstring>

namespace {

constexpr QStringView Separator = u"-----------------------";

bool isValueLine(QStringView line)
{
    static constexpr QStringView labels[] = {u"  Battery Temperature: ",
                                             u"  COM Temperature: ",
                                             u"  Battery Voltage: ",
                                             u"  Mission: ",
                                             u"  Debug: ",
                                             u"  Kill Switch: "};
    for (const QStringView label : labels) {
        if (line.startsWith(label))
            return true;
    }
    return false;
}

// Heading "#n: " and the 18-character frame, 23 hyphens, three to six indented value lines,
// an empty line; blocks numbered 1 to FrameCount.
void requireBlockShape(const QString &report, int frameCount)
{
    const QList<QStringView> lines = QStringView(report).split(u"\r\n");
    FUZZ_REQUIRE(lines.last().isEmpty());
    qsizetype at = 0;
    int blocks = 0;
    while (at + 1 < lines.size()) {
        ++blocks;
        const QString heading = QStringLiteral("#%1: ").arg(blocks);
        FUZZ_REQUIRE(lines[at].startsWith(heading));
        FUZZ_REQUIRE(lines[at].size() == heading.size() + tovrin3::FrameLength);
        FUZZ_REQUIRE(lines[at + 1] == Separator);
        at += 2;
        qsizetype valueLines = 0;
        while (at < lines.size() && isValueLine(lines[at])) {
            ++valueLines;
            ++at;
        }
        FUZZ_REQUIRE(valueLines >= 3 && valueLines <= 6);
        FUZZ_REQUIRE(at < lines.size() && lines[at].isEmpty());
        ++at;
    }
    FUZZ_REQUIRE(blocks == frameCount);
}

void decodeAndCheck(QStringView text)
{
    tovrin3::FrameHistory history;
    const QString report = tovrin3::decodeBeaconText(text, history);
    FUZZ_REQUIRE(history.FrameCount >= 0 && history.FrameCount <= tovrin3::MaxFrames);
    requireBlockShape(report, history.FrameCount);
    for (int index = 1; index <= history.FrameCount; ++index)
        FUZZ_REQUIRE(history.Records[static_cast<std::size_t>(index)].Channel[5] == 0.0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto *bytes = reinterpret_cast<const char *>(data);
    decodeAndCheck(QString::fromUtf8(bytes, static_cast<qsizetype>(size)));

    QString utf16(static_cast<qsizetype>(size / 2), Qt::Uninitialized);
    std::memcpy(utf16.data(), bytes, size / 2 * 2);
    decodeAndCheck(utf16);
    return 0;
}
