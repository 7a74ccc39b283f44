// SPDX-License-Identifier: GPL-3.0-or-later
#include "framehistory.h"

namespace tovrin3 {

int FrameHistory::append(QStringView frameText, const FrameValues &values)
{
    if (isFull())
        return 0;
    FrameRecord &record = m_records[static_cast<std::size_t>(++m_frameCount)];
    record.FrameText = frameText.toString();
    if (values.batteryTemperature)
        record.Channel[BatteryTemperatureChannel] = *values.batteryTemperature;
    if (values.comTemperature)
        record.Channel[ComTemperatureChannel] = *values.comTemperature;
    record.Channel[BatteryVoltageChannel] = values.batteryVoltage;
    record.Channel[DebugChannel] = values.debug;
    record.Channel[KillSwitchChannel] = values.killSwitch;
    return m_frameCount;
}

QString framePositionText(int position, int maximum)
{
    return QString::number(position) + QLatin1Char('/') + QString::number(maximum);
}

} // namespace tovrin3
