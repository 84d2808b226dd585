#pragma once

#include "device_sample.h"

#include <string>
#include <vector>

namespace vireo {

// /api/devices: one object per device with its state ("up", "connecting",
// "reading", "down"), signal, versions, counters and active alarms.
std::string DevicesJson(const std::vector<DeviceSample>& devices);

// The state word of a device, as DevicesJson writes it.
std::string DeviceStateText(const DeviceSample& device);

} // namespace vireo
