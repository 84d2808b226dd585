#pragma once

#include "sim/device_database.h"

#include <cstddef>
#include <cstdint>
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
//
// Indices leave gaps by default, as on a device where records were deleted
// and added again: satellites, transponders and program link numbers are
// spread over 0..254, and the list order is not the order of the indices
// (a record added later took a freed low index). Program indices run 0, 1,
// 2... as the device keeps them. Dense numbers them 0, 1, 2... in list order.
//
// `variant` tells devices of one fleet apart: any value but 0 rotates the
// names, draws other gaps and frequencies, plays another program and reports
// another software version, the same for the same variant every time.
enum class Numbering { Gaps, Dense };
std::optional<DeviceDatabase> GenerateDatabase(const DatabaseSize& size, std::string* error,
                                               Numbering numbering = Numbering::Gaps,
                                               uint32_t variant = 0);

} // namespace vireo::sim
