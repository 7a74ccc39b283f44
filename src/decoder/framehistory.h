// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "telemetry.h"

#include <QString>
#include <QStringView>

#include <array>

namespace tovrin3 {

// The history holds this many frames, at indices 1 to MaxFrames; index 0 is never used.
inline constexpr int MaxFrames = 100;
inline constexpr int ChannelCount = 6;

// Channel numbers, shared by the decoder, the history and the chart's option buttons.
enum ChannelIndex : int
{
    BatteryTemperatureChannel = 0,
    ComTemperatureChannel = 1,
    BatteryVoltageChannel = 2,
    DebugChannel = 3,
    KillSwitchChannel = 4,
};

struct FrameRecord
{
    QString FrameText;
    std::array<double, ChannelCount> Channel{};
};

// The frames of the latest decode run, at indices 1 to frameCount(). Refilled from index 1 on
// every run but never cleared: a temperature channel that a frame leaves without value keeps
// what an earlier run stored at that index.
class FrameHistory
{
public:
    int frameCount() const { return m_frameCount; }
    bool isFull() const { return m_frameCount == MaxFrames; }

    // Index 0 to MaxFrames.
    const FrameRecord &record(int index) const
    {
        return m_records[static_cast<std::size_t>(index)];
    }
    // Channel 0 to ChannelCount - 1 of the record at index 0 to MaxFrames.
    double channel(int index, int channel) const
    {
        return record(index).Channel[static_cast<std::size_t>(channel)];
    }

    // A new run: no frames yet, the records as they are.
    void startRun() { m_frameCount = 0; }
    // Stores the run's next frame, leaving channels without value untouched. Returns its index,
    // or 0 when the history is full and nothing was stored.
    int append(QStringView frameText, const FrameValues &values);

private:
    std::array<FrameRecord, MaxFrames + 1> m_records{};
    int m_frameCount = 0;
};

// The text of the window's position label, e.g. "3/12" for frame 3 of 12.
QString framePositionText(int position, int maximum);

} // namespace tovrin3
