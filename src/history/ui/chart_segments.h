#pragma once

#include "history/ui/history_source.h"

#include <cstddef>
#include <vector>

namespace vireo::ui {

// Where the plotted signal breaks: the index of the first sample of each run
// of samples drawn joined (the first run starts at 0). Two neighbours are
// not joined when a period without lock or without a link lies between them
// (an open one lasting until `nowMs`), so no line crosses such a time. At
// most `maxRuns` runs: past that, only the widest gaps break the line (the
// others are narrower than a pixel on such a range anyway).
std::vector<size_t> ChartRunStarts(const HistorySnapshot& snapshot, int64_t nowMs, size_t maxRuns);

} // namespace vireo::ui
