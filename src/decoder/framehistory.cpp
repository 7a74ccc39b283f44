#include "framehistory.h"

namespace tovrin3 {

void storeFrame(FrameRecord &record, QStringView frameText, const FrameValues &values)
{
    record.FrameText = frameText.toString();
    if (values.batteryTemperature)
        record.Channel[BatteryTemperatureChannel] = *values.batteryTemperature;
    if (values.comTemperature)
        record.Channel[ComTemperatureChannel] = *values.comTemperature;
    record.Channel[BatteryVoltageChannel] = values.batteryVoltage;
    record.Channel[DebugChannel] = values.debug;
    record.Channel[KillSwitchChannel] = values.killSwitch;
}

} // namespace tovrin3
