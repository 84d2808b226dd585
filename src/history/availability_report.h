#pragma once

#include "history/alarm_engine.h"
#include "history/history_query.h"
#include "history/history_types.h"

#include <optional>
#include <string>
#include <vector>

namespace vireo {

// What the history holds of one device over a report's range, as read.
struct DeviceHistoryFacts
{
    DeviceKey key;
    Availability availability;
    std::vector<Outage> outages;     // clipped to the range
    std::vector<SeriesPoint> series; // for the lowest quality
    std::vector<Alarm> alarms;       // raised in the range
};

// One device's line of the availability report.
struct AvailabilityRow
{
    std::string address;
    std::string name; // GBK
    int64_t watchedMs = 0;
    double availability = -1; // 0-1 of the watched time; < 0: not watched in the range
    int outages = 0;
    int64_t outageMs = 0;
    int64_t longestOutageMs = 0;
    std::optional<int> lowestQuality; // of the reports in the range; none without reports
    int alarmsRaised = 0;
    int alarmsAcknowledged = 0;
};

// One alarm of the range, with who acknowledged it and how long after.
struct ReportAlarm
{
    std::string address;
    std::string name; // GBK
    AlarmRuleKind rule = AlarmRuleKind::Unlocked;
    int64_t raisedMs = 0;
    int64_t clearedMs = 0; // 0 while active
    int64_t acknowledgedMs = 0;
    std::string acknowledgedBy;
    int64_t AcknowledgedAfterMs() const
    {
        return acknowledgedMs != 0 ? acknowledgedMs - raisedMs : -1;
    }
};

// Availability of every device over a shift or a month: per device the
// share of its watched time it gave service, its outages, its lowest
// quality, its alarms; then the alarms one by one, oldest first.
struct AvailabilityReport
{
    TimeRange range;
    std::vector<AvailabilityRow> devices; // by address
    std::vector<ReportAlarm> alarms;
};

// The report from what was read: a pure function of its input.
AvailabilityReport BuildAvailabilityReport(TimeRange range,
                                           const std::vector<DeviceHistoryFacts>& facts);
// Reads every device of the history over `range` and builds the report
// (on the caller's thread: a window runs it on a worker).
AvailabilityReport ReadAvailabilityReport(HistoryQuery& query, TimeRange range);

// A report's bound as written on a command line: "now", a date
// ("2026-12-09", its midnight), or a date and time ("2026-12-09T06:00",
// "2026-12-09 06:00:30"), local time unless it ends in "Z" (UTC), or ms since
// the epoch. None when it is none of these.
std::optional<int64_t> ParseReportTime(const std::string& text, int64_t nowMs);

enum class ReportFormat { Csv, Json, Html };
std::optional<ReportFormat> ReportFormatOf(const std::string& name);

// The report as a file's text (UTF-8). CSV: a table of devices, an empty
// line, a table of alarms; times ISO 8601 UTC, lengths in seconds.
std::string RenderAvailabilityReport(const AvailabilityReport& report, ReportFormat format);

} // namespace vireo
