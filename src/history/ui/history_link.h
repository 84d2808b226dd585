#pragma once

#include "history/history_service.h"
#include "history/ui/history_source.h"

#include <memory>
#include <string>

namespace vireo::ui {

// A device window's caption is "address:name"; the history knows a device
// by its address.
DeviceKey DeviceKeyOfCaption(const std::string& caption);

// The recorded signal of the device at `address`, read from the service's
// file through a read connection of its own (opened on first use, on the
// worker that asks).
std::shared_ptr<SignalHistorySource> MakeHistorySource(const HistoryService& service,
                                                       std::string address);

// The snapshot the tab shows, from what a query answers (pure, for tests).
HistorySnapshot SnapshotOf(const std::vector<SeriesPoint>& series,
                           const std::vector<Period>& unlocked,
                           const std::vector<Period>& disconnected,
                           const std::vector<Outage>& outages, const Availability& availability);

} // namespace vireo::ui
