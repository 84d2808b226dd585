#pragma once

#include "sim/database_generator.h"
#include "sim/simulator.h"
#include "sim/simulator_fleet.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vireo::sim {

struct CommandLine
{
    std::string address = "127.0.0.1";
    std::optional<AddressRange> addresses; // --addresses: one device per address
    uint16_t port = 8888;
    std::string databaseFile;         // --db
    std::optional<DatabaseSize> size; // --generate; neither: kDefaultSize
    Numbering numbering = Numbering::Gaps;
    bool dumpDatabase = false;
    bool help = false;
    SimulatorOptions options;
};

inline constexpr DatabaseSize kDefaultSize{6, 40, 60, 20};

// Parses the arguments after the program name. Options take their value as
// the next argument or after "=". nullopt with the reason in *error.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string* error);

std::string UsageText();

} // namespace vireo::sim
