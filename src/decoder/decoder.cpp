// SPDX-License-Identifier: GPL-3.0-or-later
#include "decoder.h"

#include "beaconreader.h"

namespace tovrin3 {

namespace {

class HistoryFiller : public BeaconLineReceiver
{
public:
    HistoryFiller(FrameHistory &history, const ReportLineEnds &lineEnds)
        : m_history(history), m_lineEnds(lineEnds)
    {
        m_history.startRun();
    }

    QString takeReport() { return std::move(m_report); }

    bool receiveLine(const BeaconLine &line) override
    {
        if (line.kind != BeaconLine::Kind::Frame)
            return true;
        const int frameNumber = m_history.append(line.frameText, *line.values);
        appendFrameReport(m_report, frameNumber, line.frameText, *line.values, m_lineEnds);
        return !m_history.isFull();
    }

private:
    FrameHistory &m_history;
    const ReportLineEnds &m_lineEnds;
    QString m_report;
};

} // namespace

QString decodeBeaconText(QStringView text, FrameHistory &history, LineBreaks lineBreaks,
                         const ReportLineEnds &lineEnds)
{
    HistoryFiller filler(history, lineEnds);
    BeaconReader reader(filler, {.lineBreaks = lineBreaks, .timestamps = false});
    reader.readText(text);
    return filler.takeReport();
}

} // namespace tovrin3
