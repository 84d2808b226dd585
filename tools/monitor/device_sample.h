#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vireo {

// What the monitor knows of one IRD at one moment: the figures /metrics and
// /api/devices publish. Text is UTF-8.
struct DeviceSample
{
    std::string address;
    std::string name;
    std::string group;   // the machine's group in the settings file; may be empty
    bool linked = false; // the link is up
    bool up = false;     // linked, and the database read since it came up

    // The last signal report since the link came up (none while it is down).
    bool haveSignal = false;
    bool locked = false;
    bool playing = false;
    int intensity = 0; // the device's percentage, 0-100
    int quality = 0;
    int64_t signalTimeMs = 0;

    uint64_t reconnects = 0;      // links brought back after a loss
    uint64_t connectAttempts = 0; // every connect tried, failed ones too
    uint64_t requests = 0;        // requests written to the device
    uint64_t timeouts = 0;        // replies that did not come in time
    int64_t lastRefreshMs = 0;    // 0: never refreshed

    // As the device reports them ("1.2"); empty until known.
    std::string loader;
    std::string software;
    std::string mac; // "00:11:22:33:44:55" from the device's system record; empty until read

    // The alarm rules watching the device, and those of them active now.
    std::vector<std::string> alarmRules;
    std::vector<std::string> alarms;
    // Those of `alarms` silenced by a maintenance window: recorded, but
    // published apart and not notified.
    std::vector<std::string> silenced;
};

} // namespace vireo
