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

// Refilled from index 1 on every decode run but never cleared: a temperature channel that a
// frame leaves without value keeps what an earlier run stored at that index.
struct FrameHistory
{
    std::array<FrameRecord, MaxFrames + 1> Records{};
    int FrameCount = 0;
};

// Stores one frame's text and values in its record, leaving channels without value untouched.
void storeFrame(FrameRecord &record, QStringView frameText, const FrameValues &values);

} // namespace tovrin3
