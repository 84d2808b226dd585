#pragma once

#include "fleet_alarms.h"
#include "fleet_monitor.h"
#include "history/history_service.h"

#include <functional>
#include <memory>
#include <string>

namespace vireo {

// Records every device of the fleet in the history (a recorder added to each
// session's observers, its alarm lines sent to `log` as UTF-8) and publishes
// their alarms in the samples, silenced ones apart; devices added later are
// prepared alike. Call before the fleet starts; `history` outlives the fleet.
std::shared_ptr<FleetAlarms> RecordFleet(FleetMonitor& fleet, HistoryService& history,
                                         std::function<void(const std::string&)> log);

} // namespace vireo
