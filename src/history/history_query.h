#pragma once

#include "history/alarm_engine.h"
#include "history/history_types.h"

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace vireo {

class HistoryDatabase;

// One recorded event of a device (DeviceEvent::Kind as an int).
struct StoredEvent
{
    int64_t timeMs = 0;
    int kind = 0;
    int code = 0;
    std::string detail;
};

// Availability of a device over a range: the share of the time it was
// watched (connected, or its link lost and not yet back) during which it was
// connected and locked. A lost link counts against it; a device the operator
// disconnected is not watched.
struct Availability
{
    int64_t connectedMs = 0;
    int64_t lockedMs = 0;
    int64_t linkLostMs = 0;
    int64_t WatchedMs() const { return connectedMs + linkLostMs; }
    // lockedMs / WatchedMs(); 0 when never watched in the range.
    double Share() const
    {
        return WatchedMs() > 0 ? static_cast<double>(lockedMs) / WatchedMs() : 0.0;
    }
};

// Reads the history, for the history tab, the alarms window and the
// monitor. Has its own connection and reads on the caller's thread: a window
// runs it on a worker, never on the UI thread. One thread at a time.
class HistoryQuery
{
public:
    // Plotted series hold at most this many points.
    static constexpr int kMaxPlotPoints = 2000;

    // Opens `file` for reading; null when it does not exist or cannot be
    // read (the message in `error`).
    static std::unique_ptr<HistoryQuery> Open(const std::filesystem::path& file,
                                              std::string* error = nullptr);
    ~HistoryQuery();
    HistoryQuery(const HistoryQuery&) = delete;
    HistoryQuery& operator=(const HistoryQuery&) = delete;

    std::vector<DeviceKey> Devices();

    // The reports of a device in `range`, folded into at most `maxPoints`
    // buckets of equal span (a bucket without reports is left out, so gaps
    // show as gaps). Short ranges give the reports themselves; past the raw
    // retention the per-minute summaries stand in.
    std::vector<SeriesPoint> Series(const std::string& address, TimeRange range,
                                    int maxPoints = kMaxPlotPoints);

    // The raw reports of a device in `range`, oldest first, at most `limit`.
    std::vector<SignalSample> Samples(const std::string& address, TimeRange range,
                                      size_t limit = 1000000);

    // Periods of `kind` that overlap `range`, clipped to it, oldest first.
    std::vector<Period> Periods(const std::string& address, TimeRange range, PeriodKind kind);
    // Where the device was not connected within `range` (the complement of
    // its connected periods, from its first record on), clipped to it.
    std::vector<Period> DisconnectedPeriods(const std::string& address, TimeRange range);

    Availability AvailabilityOf(const std::string& address, TimeRange range);
    // Unlocked and link-lost periods merged, clipped to `range`, oldest first.
    std::vector<Outage> Outages(const std::string& address, TimeRange range);

    std::vector<StoredEvent> Events(const std::string& address, TimeRange range,
                                    size_t limit = 10000);
    // Alarms raised in `range` (empty address: every device), newest first.
    std::vector<Alarm> Alarms(const std::string& address, TimeRange range, size_t limit = 1000);
    // Alarms not cleared yet, of every device.
    std::vector<Alarm> ActiveAlarms();
    // The version each device reported last (address, version text); devices
    // that never reported one are left out.
    std::vector<std::pair<std::string, std::string>> LastVersions();

    // Writes the reports of `range` as CSV: a header line, then one line per
    // report: time (ISO 8601, UTC, ms), time in ms, locked, playing,
    // intensity, quality. A minute whose reports are gone (past the raw
    // retention) gives one line of its summary: mean values, the locked share
    // for locked, playing empty. False on a write or read failure.
    bool ExportCsv(const std::string& address, TimeRange range, std::ostream& out);

private:
    explicit HistoryQuery(std::unique_ptr<HistoryDatabase> database);
    std::unique_ptr<HistoryDatabase> m_database;
};

} // namespace vireo
