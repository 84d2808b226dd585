#include "sim/database_edits.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <functional>

namespace vireo::sim {

namespace {

template <typename Record> std::optional<uint8_t> lowestFreeIndex(const std::vector<Record>& list)
{
    std::bitset<256> used;
    for (const Record& r : list) {
        used.set(r.index);
    }
    for (size_t i = 0; i < kMaxItems; ++i) {
        if (!used.test(i)) {
            return static_cast<uint8_t>(i);
        }
    }
    return std::nullopt;
}

// Drops the programs `doomed` picks from both lists; the playing program is
// renumbered with its list, or stops when it goes.
void removePrograms(DeviceDatabase& db,
                    const std::function<bool(uint8_t kind, const Program&)>& doomed)
{
    for (uint8_t kind : {kKindTv, kKindRadio}) {
        std::vector<Program>& list = db.Programs(kind);
        std::vector<Program> kept;
        for (const Program& p : list) {
            const bool playing = db.playing.kind == kind && db.playing.index == p.index;
            if (doomed(kind, p)) {
                if (playing) {
                    db.playing = Playing{};
                }
                continue;
            }
            if (playing) {
                db.playing.index = static_cast<uint8_t>(kept.size());
            }
            kept.push_back(p);
        }
        list = std::move(kept);
    }
}

} // namespace

std::optional<uint8_t> AddSatellite(DeviceDatabase& db, Satellite sat)
{
    const std::optional<uint8_t> index = lowestFreeIndex(db.satellites);
    if (!index) {
        return std::nullopt;
    }
    sat.index = *index;
    db.satellites.push_back(std::move(sat));
    RelinkDatabase(db);
    return index;
}

bool UpdateSatellite(DeviceDatabase& db, const Satellite& sat)
{
    for (Satellite& s : db.satellites) {
        if (s.index == sat.index) {
            s.flags = sat.flags;
            s.loHigh = sat.loHigh;
            s.loLow = sat.loLow;
            s.name = sat.name;
            return true;
        }
    }
    return false;
}

bool DeleteSatellite(DeviceDatabase& db, uint8_t index)
{
    if (FindSatellite(db, index) == nullptr) {
        return false;
    }
    std::bitset<256> tps;
    for (const Transponder& t : db.transponders) {
        if (t.satellite == index) {
            tps.set(t.index);
        }
    }
    removePrograms(db, [&tps](uint8_t, const Program& p) { return tps.test(p.tp); });
    std::erase_if(db.transponders, [index](const Transponder& t) { return t.satellite == index; });
    std::erase_if(db.satellites, [index](const Satellite& s) { return s.index == index; });
    RelinkDatabase(db);
    return true;
}

std::optional<uint8_t> AddTransponder(DeviceDatabase& db, Transponder tp)
{
    if (FindSatellite(db, tp.satellite) == nullptr) {
        return std::nullopt;
    }
    const std::optional<uint8_t> index = lowestFreeIndex(db.transponders);
    if (!index) {
        return std::nullopt;
    }
    tp.index = *index;

    // Keep the chain grouped by satellite: after the satellite's last
    // transponder, or before the first one of a later satellite.
    auto satPosition = [&db](uint8_t sat) {
        auto it = std::find_if(db.satellites.begin(), db.satellites.end(),
                               [sat](const Satellite& s) { return s.index == sat; });
        return it - db.satellites.begin();
    };
    const auto own = satPosition(tp.satellite);
    auto at = db.transponders.end();
    for (auto it = db.transponders.begin(); it != db.transponders.end(); ++it) {
        const auto pos = satPosition(it->satellite);
        if (pos == own) {
            at = it + 1;
        } else if (pos > own && at == db.transponders.end()) {
            at = it;
            break;
        }
    }
    db.transponders.insert(at, tp);
    RelinkDatabase(db);
    return index;
}

bool UpdateTransponder(DeviceDatabase& db, const Transponder& tp)
{
    for (Transponder& t : db.transponders) {
        if (t.index == tp.index) {
            t.frequency = tp.frequency;
            t.symbolRate = tp.symbolRate;
            t.modulation = tp.modulation;
            t.pilot = tp.pilot;
            t.polarisation = tp.polarisation;
            t.fec = tp.fec;
            return true;
        }
    }
    return false;
}

bool DeleteTransponder(DeviceDatabase& db, uint8_t index)
{
    if (FindTransponder(db, index) == nullptr) {
        return false;
    }
    removePrograms(db, [index](uint8_t, const Program& p) { return p.tp == index; });
    std::erase_if(db.transponders, [index](const Transponder& t) { return t.index == index; });
    RelinkDatabase(db);
    return true;
}

bool DeleteProgram(DeviceDatabase& db, uint8_t kind, uint8_t index)
{
    if (FindProgram(db, kind, index) == nullptr) {
        return false;
    }
    removePrograms(
        db, [kind, index](uint8_t k, const Program& p) { return k == kind && p.index == index; });
    RelinkDatabase(db);
    return true;
}

void RenumberDatabase(DeviceDatabase& db)
{
    std::array<uint8_t, 256> satellites{}, transponders{};
    for (size_t i = 0; i < db.satellites.size(); ++i) {
        satellites[db.satellites[i].index] = static_cast<uint8_t>(i);
        db.satellites[i].index = static_cast<uint8_t>(i);
    }
    for (size_t i = 0; i < db.transponders.size(); ++i) {
        Transponder& t = db.transponders[i];
        transponders[t.index] = static_cast<uint8_t>(i);
        t.index = static_cast<uint8_t>(i);
        t.satellite = satellites[t.satellite];
    }
    for (uint8_t kind : {kKindTv, kKindRadio}) {
        for (Program& p : db.Programs(kind)) {
            p.tp = transponders[p.tp];
        }
    }
    RelinkDatabase(db);
}

void ApplyVolumeCommand(Volume& volume, uint8_t command)
{
    switch (command) {
    case 0x0A:
        volume.level = static_cast<uint8_t>(std::min(volume.level + 1, 15));
        break;
    case 0x05:
        volume.level = static_cast<uint8_t>(std::max(volume.level - 1, 0));
        break;
    case 0xF0:
        volume.muted = true;
        break;
    case 0x7F:
        volume.muted = false;
        break;
    default:
        break;
    }
}

} // namespace vireo::sim
