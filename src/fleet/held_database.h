#pragma once

#include "database/list_manager.h"

#include <array>
#include <cstdint>
#include <mutex>

namespace vireo {

// A device's database held for reading as a whole: its lists locked top
// down, as every reader of several lists takes them, with its satellites and
// transponders found by index. The database stays locked while this lives.
class HeldDatabase
{
public:
    explicit HeldDatabase(ListManager& db)
        : m_satellites(db.SatelliteLock()), m_tps(db.TpLock()), m_tv(db.ProgramLock(1)),
          m_radio(db.ProgramLock(2))
    {
        for (const auto& s : db.Satellites()) {
            m_satelliteAt[s->Index()] = s.get();
        }
        for (const auto& t : db.Tps()) {
            m_tpAt[t->Index()] = t.get();
        }
    }

    const SatelliteRecord* Satellite(uint8_t index) const { return m_satelliteAt[index]; }
    const TpRecord* Tp(uint8_t index) const { return m_tpAt[index]; }

private:
    std::lock_guard<std::recursive_mutex> m_satellites;
    std::lock_guard<std::recursive_mutex> m_tps;
    std::lock_guard<std::recursive_mutex> m_tv;
    std::lock_guard<std::recursive_mutex> m_radio;
    std::array<const SatelliteRecord*, 256> m_satelliteAt{};
    std::array<const TpRecord*, 256> m_tpAt{};
};

} // namespace vireo
