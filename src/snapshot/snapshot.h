#pragma once

#include "database/records.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vireo {

class ListManager;

// One device's configuration at one moment, as records: what a snapshot
// document holds, or a copy of a live database. Lists are in the device's
// order; names are the IRD's GBK bytes.
struct Snapshot
{
    int format = 0;         // 0: a dump written before snapshots had a header
    std::string takenAt;    // ISO 8601 UTC as written; empty when unknown
    std::string address;    // the device it was taken from, when known
    std::string deviceName; // GBK
    std::vector<SatelliteRecord> satellites;
    std::vector<TpRecord> transponders;
    std::vector<ProgramRecord> tv;
    std::vector<ProgramRecord> radio;
    std::optional<SystemRecord> system;
    std::optional<VolumeState> volume;
    std::optional<VersionRecord> version;
};

// A copy of the database's lists and settings, each list read under its lock.
Snapshot SnapshotOf(ListManager& database);

// Reads a snapshot document (or a plain vireo-dump document). Names come from
// "name_hex" when present, else from "name" converted to GBK. Numbers may be
// written as numbers or as text in decimal or hexadecimal ("0x1FFF"), and the
// display labels are ignored, so a document taken in either PID display mode
// reads the same. nullopt with the reason in *error when the text is not such
// a document.
std::optional<Snapshot> ReadSnapshot(std::string_view json, std::string* error);
std::optional<Snapshot> ReadSnapshotFile(const std::string& path, std::string* error);

} // namespace vireo
