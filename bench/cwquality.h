// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Judging the CW demodulator's copy the way the telemetry sees it: a frame counts as copied only
// when its line is exact and passed as sure (not doubtful); a frame-shaped line with any wrong
// digit that is passed as sure is the failure that matters most.
#include "cwdemodulator.h"

#include <QString>
#include <QStringList>

#include <array>
#include <span>
#include <vector>

namespace tovrin3::bench {

// Stated confidence ranges of the calibration table; lines without a stated confidence form a
// row of their own.
inline constexpr std::array<double, 8> ConfidenceEdges{0.0,  0.5,  0.9,  0.95,
                                                       0.97, 0.98, 0.99, 0.999};

struct CalibrationBin
{
    int lines = 0; // frame-shaped lines whose confidence falls in the bin
    int exact = 0; // of them, copies of a frame that was sent
};

struct FrameTally
{
    int frames = 0; // sent
    int exactSure = 0;
    int exactDoubtful = 0;
    int wrongSure = 0; // frame-shaped lines, passed as sure, that match no frame sent
    int wrongDoubtful = 0;
    std::array<CalibrationBin, ConfidenceEdges.size()> bins{};
    CalibrationBin unstated;

    void add(const FrameTally &other);
    int sure() const { return exactSure + wrongSure; }
};

// The digits a frame-shaped line carries: without spaces and a leading header.
QString frameDigits(const QString &line);

// Adds the copy of one signal: every frame-shaped line is matched against the frames sent (each
// frame at most once); other lines (other stations' text, merged frames) count for nothing.
// wrongSure, when given, receives a description of each wrong frame passed as sure: its digits
// and confidence, and the sent frame nearest to it with the digits that differ.
void judge(const QStringList &sent, const std::vector<morse::CopiedLine> &lines, FrameTally &tally,
           QStringList *wrongSure = nullptr);

// The demodulator's lines for a whole signal, fed in pieces as a file reader would.
std::vector<morse::CopiedLine> demodulate(std::span<const float> samples, double rate);

// The one-sided upper 95 % Clopper-Pearson bound of a rate of `failures` in `trials`.
double upperBound95(int failures, int trials);

// Markdown table lines.
QString qualityHeader();
QString qualityRow(const QString &impairment, double snrDb, const FrameTally &tally);
QString pooledSummary(const FrameTally &pooled);
QString calibrationTable(const FrameTally &pooled);

} // namespace tovrin3::bench
