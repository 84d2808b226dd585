#pragma once

#include "app/settings_file.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vireo {

// What the monitor takes from the settings file. Beside the desktop's
// sections, the file may hold one of the monitor's own, which the desktop's
// reader skips like any section it does not know:
//
//   [Monitor]<CR LF>
//   site=<site name><CR LF>                     the `site` label of every series
//   group=<address>:<group name><CR LF>         a machine's `group` label
//
// Values are at most 64 bytes and never hold '[' (which would start a section
// for the desktop's reader); text is GBK like the machine names.
struct MonitorSettings
{
    std::vector<ChosenMachine> machines;       // the ticked machines, each address once
    std::map<std::string, std::string> groups; // address -> group, UTF-8
    std::string site;                          // UTF-8; empty when not set
    std::vector<std::string> warnings;         // lines skipped, and why
};

inline constexpr size_t kMaxMonitorValueLength = 64;

// The [Monitor] section of settings-file bytes (site and groups only).
MonitorSettings ParseMonitorSection(std::string_view data);

// Reads the settings file whole; nullopt with the reason when it cannot be
// read.
std::optional<MonitorSettings> ReadMonitorSettings(const std::filesystem::path& file,
                                                   std::string* error);

} // namespace vireo
