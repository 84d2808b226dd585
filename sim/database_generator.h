#pragma once

#include "sim/device_database.h"

#include <cstddef>
#include <optional>
#include <string>

namespace vireo::sim {

struct DatabaseSize
{
    size_t satellites = 0;
    size_t transponders = 0;
    size_t tv = 0;
    size_t radio = 0;
};

// Parses "SATS,TPS,TV,RADIO"; nullopt when it is not four numbers.
std::optional<DatabaseSize> ParseDatabaseSize(const std::string& text);

// Builds a consistent database of the given size, the same every time:
// real satellite names and band plans, transponders spread evenly over the
// satellites in chain order, programs spread over the transponders, with
// Chinese (GBK) names, names that fill all 31 bytes, scrambled programs,
// AC3 audio, teletext and link numbers that differ from the indices.
// nullopt with the reason in *error when a count is above 255, or when
// transponders are asked for without satellites or programs without
// transponders.
std::optional<DeviceDatabase> GenerateDatabase(const DatabaseSize& size, std::string* error);

} // namespace vireo::sim
