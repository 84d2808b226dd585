#include "snapshot/snapshot_match.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <optional>
#include <string>

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

// The orbital position a satellite's name carries ("Astra 19.2E" -> 192,
// "Intelsat 1.0W" -> -10), in tenths of a degree; nullopt when it names none.
std::optional<int> orbitalPosition(const std::string& name)
{
    for (size_t end = 0; end < name.size(); ++end) {
        const char side = name[end];
        if ((side != 'E' && side != 'W') || end == 0 ||
            (end + 1 < name.size() && std::isalnum(static_cast<unsigned char>(name[end + 1])))) {
            continue;
        }
        size_t begin = end;
        while (begin > 0 && (std::isdigit(static_cast<unsigned char>(name[begin - 1])) ||
                             name[begin - 1] == '.')) {
            --begin;
        }
        const std::string number = name.substr(begin, end - begin);
        if (number.empty() || !std::isdigit(static_cast<unsigned char>(number[0])) ||
            (begin > 0 && std::isalpha(static_cast<unsigned char>(name[begin - 1])))) {
            continue;
        }
        const size_t dot = number.find('.');
        int tenths = std::atoi(number.substr(0, dot).c_str()) * 10;
        if (dot != std::string::npos && dot + 1 < number.size()) {
            tenths += number[dot + 1] - '0';
        }
        return side == 'E' ? tenths : -tenths;
    }
    return std::nullopt;
}

// Frequency and polarisation of each TP under the satellite with `index`.
std::vector<std::pair<uint16_t, bool>> tpKeys(const Snapshot& snapshot, uint8_t index)
{
    std::vector<std::pair<uint16_t, bool>> keys;
    for (const TpRecord& t : snapshot.transponders) {
        if (t.SatelliteIndex() == index) {
            keys.push_back({t.Frequency(), t.Horizontal()});
        }
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

// Two satellites that kept no name in common are one satellite renamed only
// when their LNB settings agree and their content says so: the same orbital
// position in both names, or, where a name gives none, at least half of the
// smaller one's TPs on both. Common LNB settings alone pair unrelated
// satellites.
bool sameSatelliteRenamed(const Snapshot& a, const SatelliteRecord& sa, const Snapshot& b,
                          const SatelliteRecord& sb)
{
    if (!SameLnb(sa, sb)) {
        return false;
    }
    const std::optional<int> pa = orbitalPosition(sa.Name());
    const std::optional<int> pb = orbitalPosition(sb.Name());
    if (pa && pb) {
        return *pa == *pb;
    }
    const auto ka = tpKeys(a, sa.Index());
    const auto kb = tpKeys(b, sb.Index());
    std::vector<std::pair<uint16_t, bool>> common;
    std::set_intersection(ka.begin(), ka.end(), kb.begin(), kb.end(), std::back_inserter(common));
    const size_t smaller = std::min(ka.size(), kb.size());
    return !common.empty() && common.size() * 2 >= smaller;
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
           [&](size_t i, size_t j) { return sameSatelliteRenamed(a, sa[i], b, sb[j]); });

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
    // The same tuning first, so that of two TPs on one frequency and
    // polarisation each keeps its own; then those left over, whose other
    // settings changed.
    const auto sameKey = [&](size_t i, size_t j) {
        return satOfA[i] >= 0 && satOfA[i] == satOfB[j] && ta[i].Frequency() == tb[j].Frequency() &&
               ta[i].Horizontal() == tb[j].Horizontal();
    };
    pairBy(ta, tb, m.transponders, m.transpondersBack, [&](size_t i, size_t j) {
        return sameKey(i, j) && ta[i].SymbolRate() == tb[j].SymbolRate();
    });
    pairBy(ta, tb, m.transponders, m.transpondersBack, sameKey);

    pairPrograms(a, b, a.tv, b.tv, m.transponders, m.tv, m.tvBack);
    pairPrograms(a, b, a.radio, b.radio, m.transponders, m.radio, m.radioBack);
    return m;
}

} // namespace vireo
