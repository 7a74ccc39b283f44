// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "telemetry.h"

#include <QStringView>

#include <optional>
#include <span>

namespace tovrin3::history {

// Every value a frame gives, as history plots it.
enum class Channel : int
{
    // The main chart's five, in its order.
    BatteryTemperature,
    ComTemperature,
    BatteryVoltage,
    Debug,
    KillSwitch,
    // Step plots of 0 and 1.
    Mission,
    MissionBit0,
    MissionBit1,
    MissionBit2,
    MissionBit3,
    MissionBit4,
    MissionBit5,
    MissionBit6,
    MissionBit7,
    DebugBit0,
    DebugBit1,
    DebugBit2,
    DebugBit3,
    DebugBit4,
    DebugBit5,
    DebugBit6,
    DebugBit7,
    KillSwitchMain, // 1 when MAIN is on
    KillSwitchSub,  // 1 when SUB is on
};

struct ChannelInfo
{
    Channel channel;
    QStringView name; // "Battery Voltage", as the main chart's buttons name its five
    QStringView unit; // "V", "°C"; empty for bytes and bits
    bool step;        // drawn as steps: a byte or a bit
};

// Every channel, in the order a chooser lists them.
std::span<const ChannelInfo> channels();
const ChannelInfo &channelInfo(Channel channel);

// The channel's value in a frame; none for a temperature whose sign bits disagree and for the
// MAIN and SUB states of a kill-switch byte above 3.
std::optional<double> channelValue(Channel channel, const FrameValues &values);

// A value below `lower` or above `upper` (each only when given) is beyond the limits.
inline bool beyondLimit(double value, std::optional<double> lower, std::optional<double> upper)
{
    return (lower && value < *lower) || (upper && value > *upper);
}

} // namespace tovrin3::history
