#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace vireo::test {

// A snapshot document without its head: the database as DatabaseJson and the
// simulator write it.
inline std::string WithoutSnapshotHead(const std::string& document)
{
    nlohmann::ordered_json json = nlohmann::ordered_json::parse(document);
    for (const char* key : {"format", "taken_at", "device"}) {
        json.erase(key);
    }
    return json.dump(2) + "\n";
}

} // namespace vireo::test
