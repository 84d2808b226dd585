#include "snapshot/apply_verify.h"

#include "snapshot/apply_plan.h"
#include "snapshot/snapshot_match.h"

namespace vireo {

namespace {

// Per program of `wanted`'s list: shared with `before`, and held by `device`.
struct Shared
{
    std::vector<bool> shared;
    std::vector<bool> held;
};

Shared sharedOf(const std::vector<int>& beforeToWanted, const std::vector<int>& wantedToDevice)
{
    Shared s;
    s.shared.assign(wantedToDevice.size(), false);
    s.held.assign(wantedToDevice.size(), false);
    for (int j : beforeToWanted) {
        if (j >= 0) {
            s.shared[j] = true;
        }
    }
    for (size_t j = 0; j < wantedToDevice.size(); ++j) {
        s.held[j] = wantedToDevice[j] >= 0;
    }
    return s;
}

} // namespace

size_t SharedProgramsHeld(const Snapshot& wanted, const Snapshot& device, const Snapshot& before)
{
    const SnapshotMatch fromBefore = MatchSnapshots(before, wanted);
    const SnapshotMatch toDevice = MatchSnapshots(wanted, device);
    size_t held = 0;
    for (const Shared& s :
         {sharedOf(fromBefore.tv, toDevice.tv), sharedOf(fromBefore.radio, toDevice.radio)}) {
        for (size_t j = 0; j < s.shared.size(); ++j) {
            held += s.shared[j] && s.held[j] ? 1 : 0;
        }
    }
    return held;
}

SnapshotDiff VerifyApplied(const Snapshot& wanted, const Snapshot& device, const Snapshot& before,
                           unsigned sections)
{
    DiffOptions options;
    options.sections = DiffSectionsOf(sections);
    options.appliedSystemOnly = true;
    SnapshotDiff diff = DiffSnapshots(wanted, device, options);
    if ((sections & (apply_section::Satellites | apply_section::Transponders)) == 0) {
        return diff;
    }
    const SnapshotMatch fromBefore = MatchSnapshots(before, wanted);
    const SnapshotMatch toDevice = MatchSnapshots(wanted, device);
    const struct
    {
        const char* section;
        const std::vector<ProgramRecord>& list;
        Shared shared;
    } kinds[] = {{"tv", wanted.tv, sharedOf(fromBefore.tv, toDevice.tv)},
                 {"radio", wanted.radio, sharedOf(fromBefore.radio, toDevice.radio)}};
    for (const auto& kind : kinds) {
        for (size_t j = 0; j < kind.list.size(); ++j) {
            if (!kind.shared.shared[j] || kind.shared.held[j]) {
                continue;
            }
            const ProgramRecord& p = kind.list[j];
            DiffEntry entry;
            entry.section = kind.section;
            entry.change = DiffEntry::Change::OnlyInA;
            entry.subject = NameText(p.name);
            const int tp = PositionOfTp(wanted, p.TpIndex());
            if (tp >= 0) {
                const TpRecord& t = wanted.transponders[tp];
                entry.parent = std::to_string(t.Frequency()) + (t.Horizontal() ? " H" : " V");
            }
            entry.fields.push_back({"program", "held before the apply", "lost"});
            diff.entries.push_back(std::move(entry));
        }
    }
    return diff;
}

} // namespace vireo
