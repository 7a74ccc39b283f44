// SPDX-License-Identifier: GPL-3.0-or-later
#include "channels.h"

#include <array>

namespace tovrin3::history {

namespace {

constexpr std::array<ChannelInfo, 24> Channels{{
    {Channel::BatteryTemperature, u"Batt Temperature", u"°C", false},
    {Channel::ComTemperature, u"COM Temperature", u"°C", false},
    {Channel::BatteryVoltage, u"Battery Voltage", u"V", false},
    {Channel::Debug, u"Debug", u"", true},
    {Channel::KillSwitch, u"Kill Switch", u"", true},
    {Channel::Mission, u"Mission", u"", true},
    {Channel::MissionBit0, u"Mission bit 0", u"", true},
    {Channel::MissionBit1, u"Mission bit 1", u"", true},
    {Channel::MissionBit2, u"Mission bit 2", u"", true},
    {Channel::MissionBit3, u"Mission bit 3", u"", true},
    {Channel::MissionBit4, u"Mission bit 4", u"", true},
    {Channel::MissionBit5, u"Mission bit 5", u"", true},
    {Channel::MissionBit6, u"Mission bit 6", u"", true},
    {Channel::MissionBit7, u"Mission bit 7", u"", true},
    {Channel::DebugBit0, u"Debug bit 0", u"", true},
    {Channel::DebugBit1, u"Debug bit 1", u"", true},
    {Channel::DebugBit2, u"Debug bit 2", u"", true},
    {Channel::DebugBit3, u"Debug bit 3", u"", true},
    {Channel::DebugBit4, u"Debug bit 4", u"", true},
    {Channel::DebugBit5, u"Debug bit 5", u"", true},
    {Channel::DebugBit6, u"Debug bit 6", u"", true},
    {Channel::DebugBit7, u"Debug bit 7", u"", true},
    {Channel::KillSwitchMain, u"Kill switch MAIN on", u"", true},
    {Channel::KillSwitchSub, u"Kill switch SUB on", u"", true},
}};

double bit(std::uint8_t byte, int index)
{
    return (byte >> index) & 1 ? 1.0 : 0.0;
}

} // namespace

std::span<const ChannelInfo> channels()
{
    return Channels;
}

const ChannelInfo &channelInfo(Channel channel)
{
    return Channels[static_cast<std::size_t>(channel)];
}

std::optional<double> channelValue(Channel channel, const FrameValues &values)
{
    const int index = static_cast<int>(channel);
    switch (channel) {
    case Channel::BatteryTemperature:
        return values.batteryTemperature;
    case Channel::ComTemperature:
        return values.comTemperature;
    case Channel::BatteryVoltage:
        return values.batteryVoltage;
    case Channel::Debug:
        return values.debug;
    case Channel::KillSwitch:
        return values.killSwitch;
    case Channel::Mission:
        return values.mission;
    case Channel::KillSwitchMain:
    case Channel::KillSwitchSub: {
        const std::optional<KillSwitchState> state = killSwitchState(values.killSwitch);
        if (!state)
            return std::nullopt;
        return (channel == Channel::KillSwitchMain ? state->mainOn : state->subOn) ? 1.0 : 0.0;
    }
    default:
        break;
    }
    if (channel >= Channel::MissionBit0 && channel <= Channel::MissionBit7)
        return bit(values.mission, index - static_cast<int>(Channel::MissionBit0));
    return bit(values.debug, index - static_cast<int>(Channel::DebugBit0));
}

} // namespace tovrin3::history
