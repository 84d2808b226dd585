#pragma once

#include "history/history_types.h"

#include <QString>
#include <cstdint>

namespace vireo::ui {

// A local date and time to the second, as the history lists show them.
QString FormatHistoryTime(int64_t timeMs);
// A length of time in its two largest units: "12 s", "3 min 05 s",
// "2 h 03 min", "4 d 07 h".
QString FormatDuration(int64_t durationMs);
// What the operator is told of a paused history: "History paused: disk full
// since 14:02, 3,480 samples not recorded" (since a date when it was not
// today); empty while the history records.
QString HistoryStatusText(const HistoryStatus& status, int64_t nowMs);

} // namespace vireo::ui
