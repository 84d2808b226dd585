#include "snapshot/snapshot_match.h"

#include <functional>

namespace vireo {

namespace {

// Pairs records of `a` with records of `b` for which `same` holds, in list
// order, skipping records already paired.
template <class Record>
void pairBy(const std::vector<Record>& a, const std::vector<Record>& b, std::vector<int>& ab,
            std::vector<int>& ba, const std::function<bool(size_t, size_t)>& same)
{
    for (size_t i = 0; i < a.size(); ++i) {
        if (ab[i] >= 0) {
            continue;
        }
        for (size_t j = 0; j < b.size(); ++j) {
            if (ba[j] < 0 && same(i, j)) {
                ab[i] = static_cast<int>(j);
                ba[j] = static_cast<int>(i);
                break;
            }
        }
    }
}

void pairPrograms(const Snapshot& a, const Snapshot& b, const std::vector<ProgramRecord>& pa,
                  const std::vector<ProgramRecord>& pb, const std::vector<int>& tps,
                  std::vector<int>& ab, std::vector<int>& ba)
{
    ab.assign(pa.size(), -1);
    ba.assign(pb.size(), -1);
    std::vector<int> tpOfA(pa.size()), tpOfB(pb.size());
    for (size_t i = 0; i < pa.size(); ++i) {
        const int at = PositionOfTp(a, pa[i].TpIndex());
        tpOfA[i] = at < 0 ? -1 : tps[at];
    }
    for (size_t j = 0; j < pb.size(); ++j) {
        tpOfB[j] = PositionOfTp(b, pb[j].TpIndex());
    }
    pairBy(pa, pb, ab, ba, [&](size_t i, size_t j) {
        return tpOfA[i] >= 0 && tpOfA[i] == tpOfB[j] && pa[i].name == pb[j].name;
    });
}

} // namespace

int PositionOfSatellite(const Snapshot& snapshot, uint8_t index)
{
    for (size_t i = 0; i < snapshot.satellites.size(); ++i) {
        if (snapshot.satellites[i].Index() == index) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int PositionOfTp(const Snapshot& snapshot, uint8_t index)
{
    for (size_t i = 0; i < snapshot.transponders.size(); ++i) {
        if (snapshot.transponders[i].Index() == index) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool SameLnb(const SatelliteRecord& a, const SatelliteRecord& b)
{
    return a.wire[3] == b.wire[3] && a.HighLo() == b.HighLo() && a.LowLo() == b.LowLo();
}

SnapshotMatch MatchSnapshots(const Snapshot& a, const Snapshot& b)
{
    SnapshotMatch m;
    const auto& sa = a.satellites;
    const auto& sb = b.satellites;
    m.satellites.assign(sa.size(), -1);
    m.satellitesBack.assign(sb.size(), -1);
    pairBy(sa, sb, m.satellites, m.satellitesBack,
           [&](size_t i, size_t j) { return sa[i].Name() == sb[j].Name(); });
    pairBy(sa, sb, m.satellites, m.satellitesBack,
           [&](size_t i, size_t j) { return SameLnb(sa[i], sb[j]); });

    const auto& ta = a.transponders;
    const auto& tb = b.transponders;
    m.transponders.assign(ta.size(), -1);
    m.transpondersBack.assign(tb.size(), -1);
    std::vector<int> satOfA(ta.size()), satOfB(tb.size());
    for (size_t i = 0; i < ta.size(); ++i) {
        const int at = PositionOfSatellite(a, ta[i].SatelliteIndex());
        satOfA[i] = at < 0 ? -1 : m.satellites[at];
    }
    for (size_t j = 0; j < tb.size(); ++j) {
        satOfB[j] = PositionOfSatellite(b, tb[j].SatelliteIndex());
    }
    pairBy(ta, tb, m.transponders, m.transpondersBack, [&](size_t i, size_t j) {
        return satOfA[i] >= 0 && satOfA[i] == satOfB[j] && ta[i].Frequency() == tb[j].Frequency() &&
               ta[i].Horizontal() == tb[j].Horizontal();
    });

    pairPrograms(a, b, a.tv, b.tv, m.transponders, m.tv, m.tvBack);
    pairPrograms(a, b, a.radio, b.radio, m.transponders, m.radio, m.radioBack);
    return m;
}

} // namespace vireo
