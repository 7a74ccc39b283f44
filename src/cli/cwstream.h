// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cwdemodulator.h"
#include "rawsamples.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <deque>
#include <optional>
#include <vector>

namespace tovrin3 {

// The current time in UTC, behind a seam so that tests can fix it.
class UtcClock
{
public:
    virtual ~UtcClock() = default;
    virtual QDateTime now() const = 0;
};

class SystemUtcClock : public UtcClock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }
};

// A copied line with the UTC time of its first element.
struct TimedLine
{
    QString text;              // as written: a doubtful frame carries its mark (see copiedLineText)
    double startSeconds = 0.0; // from the stream's first sample
    QDateTime startTime;
    morse::CopiedLine copied; // as the demodulator gave it: no mark, the frame's confidence
};

// Copies raw samples (see RawSampleDecoder) that arrive from a live source such as an SDR
// receiver. A line's time is the clock's time when the piece holding the line's first sample
// arrived; given a start time, it is that time plus the line's offset in the stream instead.
class RawStreamCopier
{
public:
    RawStreamCopier(double sampleRate, const UtcClock &clock,
                    const std::optional<QDateTime> &start = std::nullopt);

    void write(QByteArrayView bytes);
    // Ends the stream: the transmission under way, if any, becomes a line.
    void finish();
    // The lines finished since the last call, oldest first.
    std::vector<TimedLine> takeLines();

    const morse::CwDemodulator &demodulator() const { return m_demodulator; }
    double secondsRead() const { return static_cast<double>(m_samplesRead) / m_sampleRate; }

private:
    struct Arrival
    {
        qint64 endSample; // one past the piece's last sample
        QDateTime time;
    };

    QDateTime arrivalOf(qint64 sample) const;
    void forgetArrivalsBefore(qint64 sample);

    const double m_sampleRate;
    const UtcClock &m_clock;
    const std::optional<QDateTime> m_start;
    morse::RawSampleDecoder m_samples;
    morse::CwDemodulator m_demodulator;
    qint64 m_samplesRead = 0;
    std::deque<Arrival> m_arrivals;
};

// The line as tovrin3-cw writes it, in the "time|text" form tovrin3-decode reads when a time is
// given: "2026-12-06T18:57:44.250Z|QT7XMRKT3HKD 90 01 ...", then LF.
QByteArray cwOutputLine(const QString &text, const QDateTime &startTime = {});

// The time at `seconds` into a recording that began at `start`, to the millisecond.
QDateTime timeInto(const QDateTime &start, double seconds);

} // namespace tovrin3
