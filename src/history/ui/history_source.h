#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vireo::ui {

// What the signal history tab shows of one device for a range of time, as
// the recorder answers it (already reduced to a plottable number of points).
struct ChartSample
{
    int64_t timeMs = 0;
    double intensity = 0; // 0-100, the mean of the reports folded into the point
    double quality = 0;
    bool locked = false;
    // The lowest and highest report folded into the point: a short dip in a
    // long bucket shows in its band when the mean hides it.
    double intensityMin = 0;
    double intensityMax = 0;
    double qualityMin = 0;
    double qualityMax = 0;
};

// A period without lock while connected, or without a link at all. One
// still going on ends where the record ends and is `open`.
struct OutagePeriod
{
    enum class Kind { Unlocked, Disconnected };
    int64_t startMs = 0;
    int64_t endMs = 0;
    Kind kind = Kind::Unlocked;
    bool open = false;
};

struct HistorySnapshot
{
    int64_t fromMs = 0;
    int64_t toMs = 0;
    std::vector<ChartSample> samples;
    std::vector<OutagePeriod> shaded;  // unlocked and disconnected periods, for the chart
    std::vector<OutagePeriod> outages; // no service (merged), oldest first; kind: the link was lost
    double availability = -1; // share of watched time connected and locked, 0-1; < 0: none known
};

// One device's recorded signal. Both calls may block on the disk: the tab
// makes them off the UI thread, from one worker at a time.
class SignalHistorySource
{
public:
    virtual ~SignalHistorySource() = default;
    virtual HistorySnapshot Query(int64_t fromMs, int64_t toMs, int maxPoints) = 0;
    // Writes the range as CSV to `path` (a local file name); false with the
    // reason in *error when that fails.
    virtual bool ExportCsv(const std::string& path, int64_t fromMs, int64_t toMs,
                           std::string* error) = 0;
};

} // namespace vireo::ui
