// SPDX-License-Identifier: GPL-3.0-or-later
#include "cwstream.h"

#include "doubtfulmark.h"

#include <cmath>

namespace tovrin3 {

namespace {

// How far back a line's first sample may lie and still find the time it arrived; a longer
// transmission takes the oldest time kept.
constexpr double ArrivalHorizonSeconds = 600.0;

} // namespace

RawStreamCopier::RawStreamCopier(double sampleRate, const UtcClock &clock,
                                 const std::optional<QDateTime> &start)
    : m_sampleRate(sampleRate), m_clock(clock), m_start(start), m_demodulator(sampleRate)
{
}

void RawStreamCopier::write(QByteArrayView bytes)
{
    const std::span<const float> samples = m_samples.decode(bytes);
    if (samples.empty())
        return;
    m_samplesRead += std::ssize(samples);
    if (!m_start)
        m_arrivals.push_back({m_samplesRead, m_clock.now()});
    m_demodulator.process(samples);
    forgetArrivalsBefore(m_samplesRead - std::llround(ArrivalHorizonSeconds * m_sampleRate));
}

void RawStreamCopier::finish()
{
    m_demodulator.finish();
}

std::vector<TimedLine> RawStreamCopier::takeLines()
{
    std::vector<TimedLine> lines;
    for (morse::CopiedLine &line : m_demodulator.takeLines()) {
        const auto sample = std::max<qint64>(0, std::llround(line.startSeconds * m_sampleRate));
        const QDateTime time = m_start ? timeInto(*m_start, line.startSeconds) : arrivalOf(sample);
        lines.push_back({copiedLineText(line.text, line.doubtful, line.frameConfidence),
                         line.startSeconds, time, line});
        forgetArrivalsBefore(sample);
    }
    return lines;
}

QDateTime RawStreamCopier::arrivalOf(qint64 sample) const
{
    if (m_arrivals.empty())
        return m_clock.now();
    for (const Arrival &arrival : m_arrivals)
        if (sample < arrival.endSample)
            return arrival.time;
    return m_arrivals.back().time;
}

// Lines come in order, so the pieces before a line's first sample are not asked for again.
void RawStreamCopier::forgetArrivalsBefore(qint64 sample)
{
    while (m_arrivals.size() > 1 && m_arrivals.front().endSample <= sample)
        m_arrivals.pop_front();
}

QByteArray cwOutputLine(const QString &text, const QDateTime &startTime)
{
    QByteArray line;
    if (startTime.isValid())
        line = startTime.toUTC().toString(Qt::ISODateWithMs).toLatin1() + '|';
    return line + text.toUtf8() + '\n';
}

QDateTime timeInto(const QDateTime &start, double seconds)
{
    return start.addMSecs(std::llround(seconds * 1000.0));
}

} // namespace tovrin3
