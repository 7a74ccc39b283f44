// SPDX-License-Identifier: GPL-3.0-or-later
#include "cwquality.h"

#include "morsecode.h"

#include <algorithm>
#include <cmath>

namespace tovrin3::bench {

namespace {

constexpr std::size_t Chunk = 4096;

// P(X <= k) for X binomial(n, p), each term taken through logs so that thousands of trials do not
// underflow.
double binomialCdf(int k, int n, double p)
{
    if (p <= 0.0)
        return 1.0;
    if (p >= 1.0)
        return k >= n ? 1.0 : 0.0;
    double total = 0.0;
    for (int i = 0; i <= k; ++i) {
        const double logTerm = std::lgamma(n + 1.0) - std::lgamma(i + 1.0) -
                               std::lgamma(n - i + 1.0) + i * std::log(p) +
                               (n - i) * std::log1p(-p);
        total += std::exp(logTerm);
    }
    return std::min(total, 1.0);
}

QString percent(int part, int whole)
{
    return whole > 0 ? QString::number(100.0 * part / whole, 'f', 1) : QStringLiteral("-");
}

CalibrationBin &binOf(FrameTally &tally, const std::optional<double> &confidence)
{
    if (!confidence)
        return tally.unstated;
    std::size_t bin = 0;
    while (bin + 1 < ConfidenceEdges.size() && *confidence >= ConfidenceEdges[bin + 1])
        ++bin;
    return tally.bins[bin];
}

// The sent frame with the most digits in common with a copied one, and where they differ ('^').
QString nearestFrame(const QStringList &sent, const QString &copied)
{
    QString best;
    int bestSame = -1;
    for (const QString &frame : sent) {
        const QString digits = frameDigits(frame);
        int same = 0;
        for (qsizetype i = 0; i < std::min(digits.size(), copied.size()); ++i)
            same += digits[i] == copied[i] ? 1 : 0;
        if (same > bestSame) {
            bestSame = same;
            best = digits;
        }
    }
    QString marks;
    for (qsizetype i = 0; i < copied.size(); ++i)
        marks += i < best.size() && best[i] == copied[i] ? QLatin1Char(' ') : QLatin1Char('^');
    return QStringLiteral("%1 sent\n    %2").arg(best, marks);
}

} // namespace

void FrameTally::add(const FrameTally &other)
{
    frames += other.frames;
    exactSure += other.exactSure;
    exactDoubtful += other.exactDoubtful;
    wrongSure += other.wrongSure;
    wrongDoubtful += other.wrongDoubtful;
    for (std::size_t bin = 0; bin < bins.size(); ++bin) {
        bins[bin].lines += other.bins[bin].lines;
        bins[bin].exact += other.bins[bin].exact;
    }
    unstated.lines += other.unstated.lines;
    unstated.exact += other.unstated.exact;
}

QString frameDigits(const QString &line)
{
    QString digits = line;
    digits.remove(QLatin1Char(' '));
    const QString header =
        QString::fromLatin1(morse::BeaconHeader.data(), qsizetype(morse::BeaconHeader.size()));
    if (digits.startsWith(header))
        digits.remove(0, header.size());
    return digits;
}

void judge(const QStringList &sent, const std::vector<morse::CopiedLine> &lines, FrameTally &tally,
           QStringList *wrongSure)
{
    tally.frames += int(sent.size());
    QStringList unmatched;
    for (const QString &frame : sent)
        unmatched << frameDigits(frame);
    for (const morse::CopiedLine &line : lines) {
        if (!morse::isFrameShaped(line.text))
            continue;
        const bool exact = unmatched.removeOne(frameDigits(line.text));
        if (exact)
            ++(line.doubtful ? tally.exactDoubtful : tally.exactSure);
        else
            ++(line.doubtful ? tally.wrongDoubtful : tally.wrongSure);
        if (!exact && !line.doubtful && wrongSure) {
            *wrongSure << QStringLiteral("    %1 copied at %2 s, confidence %3\n    %4")
                              .arg(frameDigits(line.text))
                              .arg(line.startSeconds, 0, 'f', 1)
                              .arg(line.frameConfidence.value_or(-1.0), 0, 'f', 6)
                              .arg(nearestFrame(sent, frameDigits(line.text)));
        }
        CalibrationBin &bin = binOf(tally, line.frameConfidence);
        ++bin.lines;
        bin.exact += exact ? 1 : 0;
    }
}

std::vector<morse::CopiedLine> demodulate(std::span<const float> samples, double rate)
{
    morse::CwDemodulator demodulator(rate);
    for (std::size_t at = 0; at < samples.size(); at += Chunk)
        demodulator.process(samples.subspan(at, std::min(Chunk, samples.size() - at)));
    demodulator.finish();
    return demodulator.takeLines();
}

double upperBound95(int failures, int trials)
{
    if (trials <= 0)
        return 1.0;
    if (failures >= trials)
        return 1.0;
    // The p at which seeing `failures` or fewer has a chance of 5 %, by bisection.
    double low = double(failures) / trials;
    double high = 1.0;
    for (int step = 0; step < 60; ++step) {
        const double middle = (low + high) / 2;
        (binomialCdf(failures, trials, middle) > 0.05 ? low : high) = middle;
    }
    return high;
}

QString qualityHeader()
{
    return QStringLiteral("| Band | SNR dB | Frames | Exact & sure | % | Wrong & sure | "
                          "Exact, doubtful | Wrong, doubtful |\n"
                          "|---|---:|---:|---:|---:|---:|---:|---:|");
}

QString qualityRow(const QString &impairment, double snrDb, const FrameTally &tally)
{
    return QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 |")
        .arg(impairment)
        .arg(snrDb, 0, 'g', 3)
        .arg(tally.frames)
        .arg(tally.exactSure)
        .arg(percent(tally.exactSure, tally.frames))
        .arg(tally.wrongSure)
        .arg(tally.exactDoubtful)
        .arg(tally.wrongDoubtful);
}

QString pooledSummary(const FrameTally &pooled)
{
    return QStringLiteral("Pooled: %1 frames sent, %2 lines passed as sure, %3 of them wrong "
                          "(%4 %, upper 95 % Clopper-Pearson bound %5 %).")
        .arg(pooled.frames)
        .arg(pooled.sure())
        .arg(pooled.wrongSure)
        .arg(percent(pooled.wrongSure, pooled.sure()))
        .arg(100.0 * upperBound95(pooled.wrongSure, pooled.sure()), 0, 'f', 2);
}

QString calibrationTable(const FrameTally &pooled)
{
    QString table = QStringLiteral("| Stated confidence | Frame-shaped lines | Exact | % exact |\n"
                                   "|---|---:|---:|---:|\n");
    for (std::size_t bin = 0; bin < pooled.bins.size(); ++bin) {
        const QString range =
            bin + 1 < ConfidenceEdges.size()
                ? QStringLiteral("%1 to %2").arg(ConfidenceEdges[bin]).arg(ConfidenceEdges[bin + 1])
                : QStringLiteral("%1 and above").arg(ConfidenceEdges[bin]);
        table += QStringLiteral("| %1 | %2 | %3 | %4 |\n")
                     .arg(range)
                     .arg(pooled.bins[bin].lines)
                     .arg(pooled.bins[bin].exact)
                     .arg(percent(pooled.bins[bin].exact, pooled.bins[bin].lines));
    }
    table += QStringLiteral("| none stated | %1 | %2 | %3 |")
                 .arg(pooled.unstated.lines)
                 .arg(pooled.unstated.exact)
                 .arg(percent(pooled.unstated.exact, pooled.unstated.lines));
    return table;
}

} // namespace tovrin3::bench
