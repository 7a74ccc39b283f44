#include "decoder.h"

#include "normalisation.h"
#include "report.h"

namespace tovrin3 {

QString decodeBeaconText(QStringView text, FrameHistory &history)
{
    QString report;
    QString cleaned;
    history.FrameCount = 0;
    for (const QStringView line : text.tokenize(WindowLineEnd)) {
        if (history.FrameCount == MaxFrames)
            break;
        normaliseLine(line, cleaned);
        if (!isFrameLine(cleaned))
            continue;
        const int frameNumber = ++history.FrameCount;
        const FrameValues values = decodeFields(cleaned);
        storeFrame(history.Records[static_cast<std::size_t>(frameNumber)], cleaned, values);
        appendFrameReport(report, frameNumber, cleaned, values);
    }
    return report;
}

} // namespace tovrin3
