#pragma once

#include "snapshot/snapshot.h"

#include <vector>

namespace vireo {

// Which record of one snapshot is which record of another, by content, not
// by index: two devices number the same satellite differently, and one
// device renumbers after years of edits.
//
// Satellites pair by name (GBK bytes); those left over pair when their LNB
// settings (flags and both LO frequencies) agree and so does their orbital
// position (from the names) or, where a name gives none, most of their TPs:
// a renamed satellite is one satellite with a new name, and two unrelated
// satellites on the same LNB are not. Transponders pair within paired
// satellites by frequency, polarisation (vertical or horizontal) and symbol
// rate, then by frequency and polarisation alone; programs within
// paired transponders by name. Where several records share a key they pair
// in list order. Each vector holds, per position in its list, the position
// of the paired record in the other snapshot's list, or -1.
struct SnapshotMatch
{
    std::vector<int> satellites; // a -> b
    std::vector<int> satellitesBack;
    std::vector<int> transponders;
    std::vector<int> transpondersBack;
    std::vector<int> tv;
    std::vector<int> tvBack;
    std::vector<int> radio;
    std::vector<int> radioBack;
};

SnapshotMatch MatchSnapshots(const Snapshot& a, const Snapshot& b);

// Position of the record with `index` in its list, or -1.
int PositionOfSatellite(const Snapshot& snapshot, uint8_t index);
int PositionOfTp(const Snapshot& snapshot, uint8_t index);

// The LNB settings two satellites must share to pair without their names.
bool SameLnb(const SatelliteRecord& a, const SatelliteRecord& b);

} // namespace vireo
