#include "telemetry.h"

#include "conversions.h"

#include <bit>

namespace tovrin3 {

const double BatteryVoltageFactor = std::bit_cast<double>(std::uint64_t{0x4014199999999999});

namespace {

constexpr std::uint16_t SignBits = 0xF800;
constexpr std::uint16_t MagnitudeBits = 0x07FF;

std::uint8_t byteField(QStringView frameLine, qsizetype position)
{
    return static_cast<std::uint8_t>(HexToDec(frameLine.sliced(position, 2)));
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
    FrameValues values;
    values.batteryTemperature =
        temperatureFromWord(byteField(frameLine, 0), byteField(frameLine, 2));
    values.comTemperature = temperatureFromWord(byteField(frameLine, 4), byteField(frameLine, 6));
    values.batteryVoltage = batteryVoltageFromRaw(HexToDec(frameLine.sliced(8, 4)));
    values.mission = byteField(frameLine, 12);
    values.debug = byteField(frameLine, 14);
    values.killSwitch = byteField(frameLine, 16);
    return values;
}

} // namespace tovrin3
