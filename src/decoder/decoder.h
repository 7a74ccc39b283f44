// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "framehistory.h"
#include "linesplitter.h"
#include "report.h"

#include <QString>
#include <QStringView>

namespace tovrin3 {

// One decode run over the whole input text, as the window runs it. Refills the history from
// index 1 and returns the report of this run, blocks numbered from #1. Stops accepting frames at
// MaxFrames: later frame lines are skipped like any other line. The end-of-decode actions
// (scroll bar, position label, chart) are the caller's.
QString decodeBeaconText(QStringView text, FrameHistory &history,
                         LineBreaks lineBreaks = LineBreaks::Text,
                         const ReportLineEnds &lineEnds = CrLfReport);

} // namespace tovrin3
