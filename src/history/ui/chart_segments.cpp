#include "history/ui/chart_segments.h"

#include <algorithm>

namespace vireo::ui {

std::vector<size_t> ChartRunStarts(const HistorySnapshot& snapshot, int64_t nowMs, size_t maxRuns)
{
    const std::vector<ChartSample>& samples = snapshot.samples;
    std::vector<size_t> starts;
    if (samples.empty()) {
        return starts;
    }
    // The shaded periods as closed stretches, oldest first.
    std::vector<std::pair<int64_t, int64_t>> gaps;
    for (const OutagePeriod& p : snapshot.shaded) {
        const int64_t end = p.open ? std::max(p.endMs, nowMs) : p.endMs;
        if (end > p.startMs) {
            gaps.emplace_back(p.startMs, end);
        }
    }
    std::sort(gaps.begin(), gaps.end());
    // The latest end among the periods starting before a time, for one pass.
    std::vector<int64_t> reach(gaps.size());
    int64_t furthest = INT64_MIN;
    for (size_t g = 0; g < gaps.size(); ++g) {
        furthest = std::max(furthest, gaps[g].second);
        reach[g] = furthest;
    }
    std::vector<size_t> breaks; // index of the sample after each break
    for (size_t i = 1; i < samples.size(); ++i) {
        const int64_t from = samples[i - 1].timeMs;
        const int64_t to = samples[i].timeMs;
        // A period overlaps (from, to) when it starts before `to` and ends
        // after `from`: look at those starting before `to`.
        const auto firstAfter =
            std::lower_bound(gaps.begin(), gaps.end(), std::make_pair(to, INT64_MIN));
        const size_t before = static_cast<size_t>(firstAfter - gaps.begin());
        if (before > 0 && reach[before - 1] > from) {
            breaks.push_back(i);
        }
    }
    if (maxRuns > 0 && breaks.size() + 1 > maxRuns) {
        std::stable_sort(breaks.begin(), breaks.end(), [&](size_t a, size_t b) {
            return samples[a].timeMs - samples[a - 1].timeMs >
                   samples[b].timeMs - samples[b - 1].timeMs;
        });
        breaks.resize(maxRuns - 1);
        std::sort(breaks.begin(), breaks.end());
    }
    starts.push_back(0);
    starts.insert(starts.end(), breaks.begin(), breaks.end());
    return starts;
}

} // namespace vireo::ui
