#pragma once

#include "app/machine_tree.h"
#include "database/list_manager.h"
#include "database/program_tree.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vireo {

// A connected device as the search and the inventory see it: its machine,
// caption and the database it holds now.
struct DeviceDatabaseRef
{
    NodeId node = kNoNode;
    std::string caption; // GBK
    std::shared_ptr<ListManager> database;
};

enum class SearchMode { Any, Name, Frequency, Pid };

// What the operator asked for. Any: a name, and also a frequency and a PID
// when the text is a decimal number, or a PID alone for "1FFh".
struct SearchQuery
{
    SearchMode mode = SearchMode::Any;
    std::string name;   // GBK, Latin letters folded to lower case; empty: no name search
    int frequency = -1; // MHz; -1: none
    int pid = -1;       // -1: none
};

// nullopt when the text is empty (after trimming) or does not fit the mode:
// a frequency is a decimal number, a PID a decimal number or hex digits
// followed by 'h' (or "0x" and hex digits), at most 0x1FFF.
std::optional<SearchQuery> ParseSearch(std::string_view text, SearchMode mode);

// GBK text with the single-byte Latin letters in lower case; two-byte
// characters stay as they are (their second byte may look like a letter).
std::string FoldGbk(std::string_view text);

struct SearchHit
{
    enum class Kind { Satellite, Transponder, TvProgram, RadioProgram };
    enum class Match { Name, Frequency, Pid };

    NodeId node = kNoNode;
    std::string caption; // GBK
    Kind kind = Kind::Satellite;
    Match match = Match::Name;
    // The path: satellite > transponder > program, as far as the hit goes
    // (GBK names; the transponder as its label, "11778 H 27500").
    std::string satellite;
    std::string transponder;
    std::string program;
    // The records, to find them again (-1: not on the path).
    int satelliteIndex = -1;
    int tpIndex = -1;
    int programIndex = -1;
};

// Every satellite, transponder and program of `devices` that matches, device
// by device in their order, each in its list order; at most `limit` hits.
// Each database's lists are locked while it is read.
// Where a hit's record is in its device's program trees now: the radio tree
// for a radio program, else the TV tree. nullopt when the database no longer
// holds the record (gone, or renumbered to another name) or it has no node.
struct HitLocation
{
    bool radioTree = false;
    TreeNodeId node = kNoTreeNode;
};
std::optional<HitLocation> LocateHit(ListManager& db, const SearchHit& hit);

std::vector<SearchHit> SearchDevices(const std::vector<DeviceDatabaseRef>& devices,
                                     const SearchQuery& query, size_t limit = 5000);

} // namespace vireo
