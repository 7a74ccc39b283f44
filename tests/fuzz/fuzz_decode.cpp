// SPDX-License-Identifier: GPL-3.0-or-later
// The decode run on arbitrary text, read as UTF-8 and as raw UTF-16: the history stays within
// its bound, every report block has its fixed shape, and the command-line decoder agrees.
#include "decoder.h"
#include "fuzzcheck.h"
#include "inputcontent.h"
#include "normalisation.h"
#include "streamdecoding.h"

#include <QBuffer>
#include <QRegularExpression>

#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// Each block: heading "#n: " with the 18 characters of the frame (which may themselves hold line
// breaks), 23 hyphens, three to six indented value lines, an empty line; blocks numbered 1 to
// FrameCount.
void requireBlockShape(const QString &report, int frameCount)
{
    static const QRegularExpression rest(
        QStringLiteral("\\r\\n-{23}\\r\\n(  (Battery Temperature|COM Temperature|Battery Voltage|"
                       "Mission|Debug|Kill Switch): [^\\r\\n]*\\r\\n){3,6}\\r\\n"));
    qsizetype at = 0;
    int blocks = 0;
    while (at < report.size()) {
        const QString heading = QStringLiteral("#%1: ").arg(++blocks);
        FUZZ_REQUIRE(QStringView(report).sliced(at).startsWith(heading));
        at += heading.size() + tovrin3::FrameLength;
        const QRegularExpressionMatch match =
            rest.match(report, at, QRegularExpression::NormalMatch,
                       QRegularExpression::AnchorAtOffsetMatchOption);
        FUZZ_REQUIRE(match.hasMatch());
        at = match.capturedEnd();
    }
    FUZZ_REQUIRE(blocks == frameCount);
}

// The window hands the decoder its lines joined by CR+LF, whichever breaks the paste used.
QString asWindowText(const QString &pasted)
{
    static const QRegularExpression lineBreak(QStringLiteral("\\r\\n|\\r|\\n"));
    return pasted.split(lineBreak).join(u"\r\n");
}

// The command-line decoder reads the bytes as one paste and, below the window's bound, writes
// the window's report with LF line ends; bytes with a NUL in their first 4 KiB are no text.
void requireCommandLineAgrees(QByteArrayView bytes, const QString &windowReport, int frameCount)
{
    if (frameCount == tovrin3::MaxFrames)
        return;
    QBuffer input;
    input.setData(bytes.toByteArray());
    input.open(QIODevice::ReadOnly);
    QBuffer output;
    output.open(QIODevice::WriteOnly);
    const bool text = !bytes.first(std::min(bytes.size(), tovrin3::TextCheckSize)).contains('\0');
    const tovrin3::StreamOutcome outcome = tovrin3::decodeStream(input, output, {}, 7);
    FUZZ_REQUIRE(outcome ==
                 (text ? tovrin3::StreamOutcome::Decoded : tovrin3::StreamOutcome::NotText));
    if (!text)
        return;
    FUZZ_REQUIRE(QString::fromUtf8(output.data()) ==
                 QString(windowReport).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

QString decodeAndCheck(QStringView text, int &frameCount)
{
    tovrin3::FrameHistory history;
    const QString report = tovrin3::decodeBeaconText(text, history);
    frameCount = history.frameCount();
    FUZZ_REQUIRE(history.frameCount() >= 0 && history.frameCount() <= tovrin3::MaxFrames);
    requireBlockShape(report, history.frameCount());
    for (int index = 1; index <= history.frameCount(); ++index)
        FUZZ_REQUIRE(history.channel(index, 5) == 0.0);
    return report;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto *bytes = reinterpret_cast<const char *>(data);
    const QString pasted = QString::fromUtf8(bytes, static_cast<qsizetype>(size));
    int frameCount = 0;
    decodeAndCheck(pasted, frameCount);
    const QString windowReport = decodeAndCheck(asWindowText(pasted), frameCount);
    requireCommandLineAgrees(QByteArrayView(bytes, static_cast<qsizetype>(size)), windowReport,
                             frameCount);

    QString utf16(static_cast<qsizetype>(size / 2), Qt::Uninitialized);
    std::memcpy(utf16.data(), bytes, size / 2 * 2);
    decodeAndCheck(utf16, frameCount);
    return 0;
}
