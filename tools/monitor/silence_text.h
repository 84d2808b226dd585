#pragma once

#include "history/silence_store.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vireo {

// A time as the silences' file and HTTP calls give it: Unix seconds
// ("1765400000") or UTC ISO 8601 ("2026-12-10T06:00:00Z"); nullopt otherwise.
std::optional<int64_t> ParseTimeMs(const std::string& text);

// A silence from the JSON of an HTTP call:
//   {"device": "10.0.0.5" | "group": "Uplinks", "until": TIME, "reason": "..."}
// The reason is required (an operator must say why). nullopt with the reason.
std::optional<Silence> SilenceFromJson(const std::string& body, std::string* error);

// The silences as a JSON array for /api/silences.
std::string SilencesJson(const std::vector<Silence>& silences);

// A file of maintenance windows (YAML), read at start and on reload:
//
//   - device: 10.0.0.5        # or  group: Uplinks
//     until: 2026-12-10T06:00:00Z
//     reason: dish realignment
//
// nullopt with the reason when the file is unreadable or an entry is wrong.
std::optional<std::vector<Silence>> LoadSilencesFile(const std::filesystem::path& file,
                                                     std::string* error);

} // namespace vireo
