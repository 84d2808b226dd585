#pragma once

#include "snapshot/snapshot.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vireo {

// What two snapshots differ in, record by record (paired by MatchSnapshots).
namespace diff_section {
inline constexpr unsigned Satellites = 1;
inline constexpr unsigned Transponders = 2;
inline constexpr unsigned Programs = 4; // TV and radio
inline constexpr unsigned System = 8;   // system record, volume, version
inline constexpr unsigned All = 15;
} // namespace diff_section

// "satellites,tps,programs,system" (any of them, comma separated;
// "transponders" too). nullopt for an empty list or an unknown name.
std::optional<unsigned> ParseDiffSections(std::string_view list);

struct DiffOptions
{
    unsigned sections = diff_section::All;
    // Only the system settings a snapshot is applied with (A/V, TS, polling):
    // not the network settings, the signal source, the volume or the version.
    bool appliedSystemOnly = false;
};

struct FieldDiff
{
    std::string field; // the document's key ("lo_high", "symbol_rate", ...)
    std::string a;     // value in the first snapshot (UTF-8), empty when absent
    std::string b;
};

struct DiffEntry
{
    enum class Change { OnlyInA, OnlyInB, Changed };
    std::string section; // "satellites", "transponders", "tv", "radio", "system"
    Change change = Change::Changed;
    std::string subject; // what differs, UTF-8: a satellite name, "12380 H", a program name
    std::string parent;  // where it is: the satellite of a TP, "TP on satellite" of a program
    // Changed: the fields that differ. Only in one: that record's fields.
    std::vector<FieldDiff> fields;
};

struct SnapshotDiff
{
    std::vector<DiffEntry> entries;
    bool Empty() const { return entries.empty(); }
};

SnapshotDiff DiffSnapshots(const Snapshot& a, const Snapshot& b, const DiffOptions& options = {});

// Readable text, one line per difference, grouped by section; `nameA` and
// `nameB` say where each side comes from. "No differences." when empty.
std::string DiffText(const SnapshotDiff& diff, const std::string& nameA, const std::string& nameB);

// {"same": bool, "a": nameA, "b": nameB, "differences": [{section, change
// ("only_in_a", "only_in_b", "changed"), subject, parent, fields: [{field,
// a, b}]}]}, pretty-printed.
std::string DiffJson(const SnapshotDiff& diff, const std::string& nameA, const std::string& nameB);

// Display text of a device name (GBK) in UTF-8, with its bytes in hex after
// it when the text does not give them back: two names that differ only in
// bytes that show alike still read differently.
std::string NameText(const std::string& gbk);

} // namespace vireo
