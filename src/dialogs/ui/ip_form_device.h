#pragma once

#include "device/device_content.h"

#include <optional>
#include <string>

namespace vireo::ui {

// The device the network dialog acts on in Config mode.
class IpFormDevice
{
public:
    virtual ~IpFormDevice() = default;
    // Address ":" name, 8-bit text.
    virtual std::string Caption() const = 0;
    // The system record as last received, if any.
    virtual std::optional<SystemRecordBytes> SystemRecord() const = 0;
    // Queues SetSystemInfo with `record` as its payload.
    virtual void SendSystemInfo(const SystemRecordBytes& record) = 0;
};

} // namespace vireo::ui
