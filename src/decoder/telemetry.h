#pragma once

#include <QStringView>

#include <cstdint>
#include <optional>

namespace tovrin3 {

// The engineering values of one frame line.
struct FrameValues
{
    std::optional<double> batteryTemperature; // degrees Celsius; none when the sign bits disagree
    std::optional<double> comTemperature;     // degrees Celsius; none when the sign bits disagree
    double batteryVoltage = 0.0;              // volts
    std::uint8_t mission = 0;
    std::uint8_t debug = 0;
    std::uint8_t killSwitch = 0;
};

// The battery voltage factor: the double whose bits are 4014199999999999 hex, one unit in the
// last place below the double nearest to 5.025, as the beacon's own ground software uses.
extern const double BatteryVoltageFactor;

// A temperature word sent low byte first. Bits 15 to 11 are the sign and must all agree; the
// negative branch is the one's complement, so FFF0 hex is -0.9375 and FFFF hex is 0.
std::optional<double> temperatureFromWord(std::uint8_t lowByte, std::uint8_t highByte);

// raw x factor / 4096, multiplied first; raw comes from HexToDec and so is negative from 8000 hex.
double batteryVoltageFromRaw(std::int32_t raw);

// The MAIN and SUB switches of kill-switch bytes 0 to 3: bit 1 set means MAIN off, bit 0 set SUB
// off. Bytes 4 to 255 have no state.
struct KillSwitchState
{
    bool mainOn = false;
    bool subOn = false;
};
std::optional<KillSwitchState> killSwitchState(std::uint8_t killSwitch);

// " MAIN=OFF, SUB=OFF" and its siblings for kill-switch bytes 0 to 3; none for 4 to 255.
std::optional<QStringView> killSwitchStateText(std::uint8_t killSwitch);

// Decodes the six fields of a frame line of FrameLength characters.
FrameValues decodeFields(QStringView frameLine);

} // namespace tovrin3
