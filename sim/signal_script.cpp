#include "sim/signal_script.h"

#include <cmath>
#include <sstream>

namespace vireo::sim {

SignalLevel SignalScript::LevelAt(std::chrono::steady_clock::duration elapsed) const
{
    double total = 0;
    for (const SignalStep& step : steps) {
        total += step.seconds;
    }
    if (steps.empty() || total <= 0) {
        return {};
    }
    double at = std::fmod(std::chrono::duration<double>(elapsed).count(), total);
    for (const SignalStep& step : steps) {
        if (at < step.seconds) {
            return step.level;
        }
        at -= step.seconds;
    }
    return steps.back().level;
}

std::optional<SignalScript> ParseSignalScript(std::string_view text, std::string* error)
{
    SignalScript script;
    std::istringstream lines{std::string(text)};
    std::string line;
    int number = 0;
    auto fail = [&](const std::string& why) -> std::optional<SignalScript> {
        if (error != nullptr) {
            *error = "line " + std::to_string(number) + ": " + why;
        }
        return std::nullopt;
    };
    while (std::getline(lines, line)) {
        ++number;
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') {
            continue;
        }
        std::istringstream fields(line);
        double seconds = 0;
        int intensity = 0, quality = 0, locked = 0;
        std::string rest;
        if (!(fields >> seconds >> intensity >> quality >> locked) || (fields >> rest)) {
            return fail("expected \"seconds intensity quality locked\", got \"" + line + "\"");
        }
        if (!(seconds > 0) || !std::isfinite(seconds)) {
            return fail("seconds must be above 0");
        }
        if (intensity < 0 || intensity > 99 || quality < 0 || quality > 99) {
            return fail("intensity and quality are 0 to 99");
        }
        if (locked != 0 && locked != 1) {
            return fail("locked is 0 or 1");
        }
        SignalStep step;
        step.seconds = seconds;
        step.level.intensity = static_cast<uint8_t>(intensity);
        step.level.quality = static_cast<uint8_t>(quality);
        step.level.locked = locked == 1;
        script.steps.push_back(step);
    }
    if (script.steps.empty()) {
        return fail("no steps");
    }
    return script;
}

} // namespace vireo::sim
