#pragma once

#include <QString>
#include <cstdint>

namespace vireo::ui {

// A local date and time to the second, as the history lists show them.
QString FormatHistoryTime(int64_t timeMs);
// A length of time in its two largest units: "12 s", "3 min 05 s",
// "2 h 03 min", "4 d 07 h".
QString FormatDuration(int64_t durationMs);

} // namespace vireo::ui
