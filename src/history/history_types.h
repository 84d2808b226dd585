#pragma once

#include <cstdint>
#include <string>

namespace vireo {

// Values the history stores and hands back. Times are ms since the epoch
// (system clock); names and texts are GBK, as the device and the log have them.

inline constexpr int64_t kMsPerSecond = 1000;
inline constexpr int64_t kMsPerMinute = 60 * kMsPerSecond;
inline constexpr int64_t kMsPerDay = 24 * 60 * kMsPerMinute;

// A device of the history: its IPv4 address as text ("192.168.1.20") is its
// identity; the name is what the device was last called.
struct DeviceKey
{
    std::string address;
    std::string name;
};

// A half-open time range [beginMs, endMs).
struct TimeRange
{
    int64_t beginMs = 0;
    int64_t endMs = 0;
    int64_t Length() const { return endMs > beginMs ? endMs - beginMs : 0; }
};

// One signal report as recorded.
struct SignalSample
{
    int64_t timeMs = 0;
    bool locked = false;
    bool playing = false;
    int intensity = 0; // 0-100
    int quality = 0;   // 0-100
};

// One point of a plotted series: the reports of [timeMs, timeMs + spanMs)
// folded together. A bucket of one report has min == mean == max.
struct SeriesPoint
{
    int64_t timeMs = 0;
    int64_t spanMs = 0;
    int count = 0; // reports folded into the point
    int intensityMin = 0;
    double intensityMean = 0;
    int intensityMax = 0;
    int qualityMin = 0;
    double qualityMean = 0;
    int qualityMax = 0;
    double lockedShare = 0; // 0-1: share of the reports that were locked
};

// Kinds of the periods the recorder keeps for a device.
enum class PeriodKind {
    Connected = 1, // the link was up
    Unlocked = 2,  // connected, and the device reported no lock
    LinkLost = 3,  // the link was lost and not yet back or ended on request
};

// A period of one kind; an open period (still going on) ends at the time it
// was last known to last (the query's end or the device's last record).
struct Period
{
    PeriodKind kind = PeriodKind::Connected;
    int64_t beginMs = 0;
    int64_t endMs = 0;
    bool open = false;
};

// A stretch during which the device gave no service: no lock while
// connected, or the link lost. Overlapping and touching stretches are merged.
struct Outage
{
    int64_t beginMs = 0;
    int64_t endMs = 0;
    bool open = false; // still going on at the end of the range
    int64_t DurationMs() const { return endMs - beginMs; }
};

// How the history's recording stands, taken at once as a value (status
// bar, alarms window, the monitor's health and metrics). Plain ASCII.
struct HistoryStatus
{
    bool open = false;   // the file is open and recording
    bool paused = false; // recording is paused (full disk, write errors)
    std::string reason;  // why, while paused: "disk full", "I/O error"
    int64_t pausedSinceMs = 0;
    uint64_t samplesDropped = 0; // signal reports not recorded (queue full or paused)
    uint64_t writeErrors = 0;    // failed commits since start
    uint64_t pendingRecords = 0; // alarms, acknowledgements, period ends waiting for the disk
    uint64_t recordsLost = 0;    // such records let go (past their bound, or at the end)
    // The file's check, run in the background after opening, found damage:
    // recording goes on; the file should be copied and replaced.
    bool damaged = false;
};

} // namespace vireo
