#pragma once

#include "snapshot/snapshot.h"
#include "snapshot/snapshot_diff.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vireo {

// What of a snapshot is written to a device.
namespace apply_section {
inline constexpr unsigned Satellites = 1;
inline constexpr unsigned Transponders = 2;
inline constexpr unsigned System = 4; // A/V, TS and polling settings only
inline constexpr unsigned All = 7;
} // namespace apply_section

// "satellites,tps,system" (any of them, comma separated; "transponders" too).
// nullopt for an empty list or an unknown name.
std::optional<unsigned> ParseApplySections(std::string_view list);

// The diff sections that show whether `sections` match.
unsigned DiffSectionsOf(unsigned sections);

// One request of a plan. Stages run in order: changes in place and new
// satellites, then new transponders, then deleted transponders, then deleted
// satellites: whatever the target keeps is on the device before anything
// goes. Deletes run one at a time, each planned from a fresh read of the
// device, since a device may renumber its lists when records come and go.
struct PlanStep
{
    enum Stage { Change = 0, AddTps = 1, DeleteTps = 2, DeleteSatellites = 3 };
    Stage stage = Change;
    uint8_t code = 0;             // message code
    std::vector<uint8_t> payload; // the record the request carries
    std::string text;             // what it does, UTF-8: the request's verb and its subject
    std::string subject;          // what it acts on, UTF-8 ("12380 H, \"Astra 19.2E\"")
    // AddTp under a satellite this plan adds: its device index is known only
    // once the device has taken the satellite; byte 1 is 0xFF until then.
    bool awaitsSatellite = false;
    // What the device drops with what this step deletes: the TPs of a
    // deleted satellite, and the programs of every TP that goes.
    size_t tpsLost = 0;
    size_t programsLost = 0;
    // The settings a SetSystemInfo step changes, for a window's own words.
    std::vector<FieldDiff> fields;

    bool Deletes() const { return stage == DeleteTps || stage == DeleteSatellites; }
    // An add or a delete: after it a device may number its records anew.
    bool ChangesNumbering() const;
};

// The English verb of a step's request ("Add TP").
std::string PlanVerb(uint8_t code);

// What a plan does, counted.
struct PlanSummary
{
    size_t satellitesAdded = 0, satellitesChanged = 0, satellitesDeleted = 0;
    // TPs deleted counts those that go with a deleted satellite too.
    size_t tpsAdded = 0, tpsChanged = 0, tpsDeleted = 0;
    bool settingsChanged = false;
    size_t programsLost = 0;
};

struct ApplyPlan
{
    std::vector<PlanStep> steps;
    // What the plan cannot do (UTF-8): records the chosen sections cannot
    // bring onto the device.
    std::vector<std::string> problems;

    bool Empty() const { return steps.empty(); }
    // The steps of the first stage that has any; of a delete stage, only
    // its first step. For a device that renumbers (or may), the stage ends
    // with its first add, after which the device must be read again.
    std::vector<PlanStep> FirstStage(bool renumbering = true) const;
    size_t ProgramsLost() const;
    PlanSummary Summary() const;
};

// "satellites 1 added, 2 changed, 0 deleted; TPs ...; system settings
// changed; 12 programs lost with deleted TPs" (English, one line).
std::string SummaryText(const PlanSummary& summary);

// The requests that make `device`'s chosen sections match `wanted`, records
// paired by content (MatchSnapshots): what both hold is changed in place,
// never deleted and added again, so its programs stay. The system record is the
// device's own with the snapshot's A/V, TS and polling settings written
// into it: the device's address, mask, MAC and signal source stay, the reset
// bit and the address-change byte are clear. Nothing is planned for the
// system record when either side lacks it.
ApplyPlan PlanApply(const Snapshot& wanted, const Snapshot& device, unsigned sections);

// The device's system record with the snapshot's applied settings.
SystemRecord AppliedSystem(const SystemRecord& device, const SystemRecord& wanted);

// One line per step, numbered (with the programs a delete takes), then the
// problems. "Nothing to do." when there is neither.
std::string PlanText(const ApplyPlan& plan);

} // namespace vireo
