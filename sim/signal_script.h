#pragma once

#include "sim/ird_responder.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vireo::sim {

// The signal over time: each step holds its level for `seconds`, then the
// next; after the last the script starts again from the first.
struct SignalStep
{
    double seconds = 0;
    SignalLevel level;
};

struct SignalScript
{
    std::vector<SignalStep> steps;

    bool Empty() const { return steps.empty(); }
    // The level `elapsed` after the script started (looping).
    SignalLevel LevelAt(std::chrono::steady_clock::duration elapsed) const;
};

// Reads lines of "seconds intensity quality locked" (e.g. "12 0 0 0");
// blank lines and lines starting with '#' are skipped. Seconds may have a
// fraction and must be above 0; intensity and quality are 0 to 99; locked is
// 0 or 1. nullopt with the line and reason in *error.
std::optional<SignalScript> ParseSignalScript(std::string_view text, std::string* error);

} // namespace vireo::sim
