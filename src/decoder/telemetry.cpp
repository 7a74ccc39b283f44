// SPDX-License-Identifier: GPL-3.0-or-later
#include "telemetry.h"

#include "conversions.h"

#include <bit>

namespace tovrin3 {

const double BatteryVoltageFactor = std::bit_cast<double>(std::uint64_t{0x4014199999999999});

namespace {

constexpr std::uint16_t SignBits = 0xF800;
constexpr std::uint16_t MagnitudeBits = 0x07FF;

std::uint8_t byteField(QStringView frameLine, FrameField field, qsizetype byte = 0)
{
    return static_cast<std::uint8_t>(HexToDec(fieldText(frameLine, field).sliced(2 * byte, 2)));
}

} // namespace

std::optional<double> temperatureFromWord(std::uint8_t lowByte, std::uint8_t highByte)
{
    const auto word = static_cast<std::uint16_t>(highByte << 8 | lowByte);
    const int magnitude = word & MagnitudeBits;
    if ((word & SignBits) == 0)
        return magnitude / 16.0;
    if ((word & SignBits) == SignBits)
        return -(MagnitudeBits - magnitude) / 16.0;
    return std::nullopt;
}

double batteryVoltageFromRaw(std::int32_t raw)
{
    return raw * BatteryVoltageFactor / 4096;
}

std::optional<KillSwitchState> killSwitchState(std::uint8_t killSwitch)
{
    if (!killSwitchStateText(killSwitch))
        return std::nullopt;
    return KillSwitchState{(killSwitch & 0b10) == 0, (killSwitch & 0b01) == 0};
}

std::optional<QStringView> killSwitchStateText(std::uint8_t killSwitch)
{
    switch (killSwitch) {
    case 3:
        return QStringView(u" MAIN=OFF, SUB=OFF");
    case 2:
        return QStringView(u" MAIN=OFF, SUB=ON");
    case 1:
        return QStringView(u" MAIN=ON, SUB=OFF");
    case 0:
        return QStringView(u" MAIN=ON, SUB=ON");
    default:
        return std::nullopt;
    }
}

FrameValues decodeFields(QStringView frameLine)
{
    using enum FrameField;
    FrameValues values;
    values.batteryTemperature = temperatureFromWord(byteField(frameLine, BatteryTemperature, 0),
                                                    byteField(frameLine, BatteryTemperature, 1));
    values.comTemperature = temperatureFromWord(byteField(frameLine, ComTemperature, 0),
                                                byteField(frameLine, ComTemperature, 1));
    values.batteryVoltage = batteryVoltageFromRaw(HexToDec(fieldText(frameLine, BatteryVoltage)));
    values.mission = byteField(frameLine, Mission);
    values.debug = byteField(frameLine, Debug);
    values.killSwitch = byteField(frameLine, KillSwitch);
    return values;
}

} // namespace tovrin3
