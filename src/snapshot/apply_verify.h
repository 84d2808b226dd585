#pragma once

#include "snapshot/snapshot.h"
#include "snapshot/snapshot_diff.h"

namespace vireo {

// What still differs after an apply: the chosen sections of `wanted`
// against `device` by content (as vireo-diff compares them), and, when
// satellites or TPs were applied, every program that `before` (the device
// before the apply) and `wanted` both hold and the device no longer does,
// as a TV or radio entry only in `wanted`. Programs come back only by
// scanning: a device that lost them does not match.
SnapshotDiff VerifyApplied(const Snapshot& wanted, const Snapshot& device, const Snapshot& before,
                           unsigned sections);

// How many of the programs `before` and `wanted` share `device` holds.
size_t SharedProgramsHeld(const Snapshot& wanted, const Snapshot& device, const Snapshot& before);

} // namespace vireo
