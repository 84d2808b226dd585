#pragma once

#include <chrono>
#include <string>

namespace vireo {

class ListManager;

// The database as JSON (UTF-8), keys in a fixed order. A name is its display
// text converted from GBK, followed by "name_hex" with the IRD's bytes when
// that text does not give them back (control bytes, invalid GBK).
std::string DatabaseJson(ListManager& database);

// Where and when a snapshot was taken.
struct SnapshotHeader
{
    std::string address; // the device's dotted IPv4 address
    std::string name;    // its machine name, GBK; may be empty
    std::chrono::system_clock::time_point takenAt = std::chrono::system_clock::now();
};

// The snapshot document: the same JSON headed by "format": 1, "taken_at"
// (ISO 8601 UTC, whole seconds) and "device": {"address", "name"}. Readers
// take documents with or without that head.
std::string DatabaseJson(ListManager& database, const SnapshotHeader& header);

inline constexpr int kSnapshotFormat = 1;

struct Snapshot;

// A snapshot held in memory as the same document (its head from what it
// says of itself; lists, system, volume and version as it holds them).
// ReadSnapshot gives the records back by content.
std::string SnapshotJson(const Snapshot& snapshot);

// "2026-12-09T02:11:35Z"
std::string IsoTimeUtc(std::chrono::system_clock::time_point time);

} // namespace vireo
