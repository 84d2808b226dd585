#pragma once

#include "snapshot/snapshot.h"

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

// One request of a plan. Stages run in order: deletes, then changes and new
// satellites, then new transponders; each stage is planned from what the
// device holds after the previous one, since a device may renumber its
// lists when records come and go.
struct PlanStep
{
    enum Stage { Delete = 0, Change = 1, AddTps = 2 };
    Stage stage = Change;
    uint8_t code = 0;             // message code
    std::vector<uint8_t> payload; // the record the request carries
    std::string text;             // what it does, UTF-8: the request's verb and its subject
    std::string subject;          // what it acts on, UTF-8 ("12380 H of \"Astra 19.2E\"")
    // AddTp under a satellite this plan adds: its device index is known only
    // once the device has taken the satellite; byte 1 is 0xFF until then.
    bool awaitsSatellite = false;
};

// The English verb of a step's request ("Add TP").
std::string PlanVerb(uint8_t code);

struct ApplyPlan
{
    std::vector<PlanStep> steps;
    // What the plan cannot do (UTF-8): records the chosen sections cannot
    // bring onto the device.
    std::vector<std::string> problems;

    bool Empty() const { return steps.empty(); }
    // The steps of the first stage that has any.
    std::vector<PlanStep> FirstStage() const;
};

// The requests that make `device`'s chosen sections match `wanted`, records
// paired by content (MatchSnapshots). Deletes go from the highest index
// down, so that a device that closes the gap behind a deleted record leaves
// the indices still to delete as they were. The system record is the
// device's own with the snapshot's A/V, TS and polling settings written
// into it: the device's address, mask, MAC and signal source stay, the reset
// bit and the address-change byte are clear. Nothing is planned for the
// system record when either side lacks it.
ApplyPlan PlanApply(const Snapshot& wanted, const Snapshot& device, unsigned sections);

// The device's system record with the snapshot's applied settings.
SystemRecord AppliedSystem(const SystemRecord& device, const SystemRecord& wanted);

// One line per step, numbered, then the problems. "Nothing to do." when
// there is neither.
std::string PlanText(const ApplyPlan& plan);

} // namespace vireo
