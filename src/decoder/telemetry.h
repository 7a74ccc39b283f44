// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "conversions.h"

#include <QStringView>

#include <array>
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

// The fields of a frame line, from the left.
enum class FrameField
{
    BatteryTemperature, // temperature word, low byte first
    ComTemperature,     // temperature word, low byte first
    BatteryVoltage,     // raw reading, most significant digit first
    Mission,
    Debug,
    KillSwitch
};

struct FieldLayout
{
    FrameField field;
    qsizetype offset;
    qsizetype width;
    QStringView name; // as diagnostics name it
};

// The one description of where each field sits in a frame line of FrameLength characters.
inline constexpr std::array<FieldLayout, 6> FrameLayout{{
    {FrameField::BatteryTemperature, 0, 4, u"battery temperature"},
    {FrameField::ComTemperature, 4, 4, u"COM temperature"},
    {FrameField::BatteryVoltage, 8, 4, u"battery voltage"},
    {FrameField::Mission, 12, 2, u"mission byte"},
    {FrameField::Debug, 14, 2, u"debug byte"},
    {FrameField::KillSwitch, 16, 2, u"kill-switch byte"},
}};

constexpr const FieldLayout &fieldLayout(FrameField field)
{
    return FrameLayout[static_cast<std::size_t>(field)];
}

inline QStringView fieldText(QStringView frameLine, FrameField field)
{
    const FieldLayout &layout = fieldLayout(field);
    return frameLine.sliced(layout.offset, layout.width);
}

// Decodes the six fields of a frame line of FrameLength characters.
FrameValues decodeFields(QStringView frameLine);

// What makes a field of a decoded frame say less than it should. A field that is not all
// hexadecimal digits still decodes, as HexToDec reads it.
enum class FieldProblem
{
    NotHexadecimal,
    MixedSignBits,     // a temperature without value
    NoKillSwitchState, // a kill-switch byte above 3
};

// Calls report(layout, problem) for every problem of the frame, field by field from the left.
template<typename Report>
void checkFields(QStringView frameLine, const FrameValues &values, Report &&report)
{
    for (const FieldLayout &layout : FrameLayout) {
        if (!isHexadecimal(frameLine.sliced(layout.offset, layout.width)))
            report(layout, FieldProblem::NotHexadecimal);
        const bool hasValue =
            layout.field == FrameField::BatteryTemperature ? values.batteryTemperature.has_value()
            : layout.field == FrameField::ComTemperature   ? values.comTemperature.has_value()
                                                           : true;
        if (!hasValue)
            report(layout, FieldProblem::MixedSignBits);
        if (layout.field == FrameField::KillSwitch && !killSwitchState(values.killSwitch))
            report(layout, FieldProblem::NoKillSwitchState);
    }
}

} // namespace tovrin3
