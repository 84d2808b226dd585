#include "devices_json.h"

#include <nlohmann/json.hpp>

namespace vireo {

using Json = nlohmann::ordered_json;

std::string DeviceStateText(const DeviceSample& device)
{
    if (device.up) {
        return "up";
    }
    if (device.linked) {
        return "reading"; // connected, the database not read yet
    }
    return device.reconnects > 0 || device.lastRefreshMs > 0 ? "down" : "connecting";
}

std::string DevicesJson(const std::vector<DeviceSample>& devices)
{
    Json list = Json::array();
    for (const DeviceSample& d : devices) {
        Json signal = nullptr;
        if (d.haveSignal) {
            signal = Json{{"locked", d.locked},
                          {"playing", d.playing},
                          {"intensity", d.intensity},
                          {"quality", d.quality},
                          {"time_ms", d.signalTimeMs}};
        }
        Json versions = nullptr;
        if (!d.loader.empty() || !d.software.empty()) {
            versions = Json{{"loader", d.loader}, {"software", d.software}};
        }
        Json lastRefresh = nullptr;
        if (d.lastRefreshMs > 0) {
            lastRefresh = d.lastRefreshMs;
        }
        list.push_back(Json{{"address", d.address},
                            {"name", d.name},
                            {"state", DeviceStateText(d)},
                            {"signal", signal},
                            {"versions", versions},
                            {"reconnects", d.reconnects},
                            {"requests", d.requests},
                            {"request_timeouts", d.timeouts},
                            {"last_refresh_ms", lastRefresh},
                            {"alarms", d.alarms}});
    }
    // Invalid UTF-8 (a name the settings file holds in no known encoding) is
    // replaced rather than failing the whole page.
    return list.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

} // namespace vireo
