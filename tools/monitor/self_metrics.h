#pragma once

#include "history/history_types.h"

#include <cstdint>
#include <string>

namespace vireo {

// Whether the monitor is healthy: false with the reason when the supervising
// loop made no pass for 3 poll intervals, or the history has been paused
// (failed writes, full disk) for more than a minute.
struct HealthVerdict
{
    bool ok = true;
    std::string reason;
};

struct HealthInputs
{
    int64_t nowSteadyMs = 0;
    int64_t lastPassSteadyMs = 0; // 0: no pass yet
    int64_t startedSteadyMs = 0;
    int64_t pollMs = 5000;
    int64_t nowWallMs = 0;
    HistoryStatus history;
};

HealthVerdict CheckHealth(const HealthInputs& in);

// The monitor's own figures, beside the devices'.
struct SelfFigures
{
    std::string version;
    std::string revision;
    bool lastReloadOk = true;
    double lastReloadSuccessSeconds = 0; // Unix time
    HistoryStatus history;
    bool healthy = true;
};

// The monitor's families in the text exposition format: build info, reload
// state, history state and the standard process_* of this process.
std::string RenderSelfMetrics(const SelfFigures& figures);

// The process_* families of this process, read from /proc.
std::string RenderProcessMetrics();

} // namespace vireo
