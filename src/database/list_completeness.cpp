#include "database/list_manager.h"
#include "link/message_code.h"

namespace vireo {

namespace {

// SetVolume's command byte that the "+" button sends; the device answers
// with its volume state.
constexpr int kVolumeUpCommand = 0x0A;

} // namespace

bool ListManager::CheckComplete(int kind)
{
    switch (kind) {
    case item_kind::Tv:
    case item_kind::Radio: {
        std::lock_guard lock(ProgramLock(kind));
        ListFlags& flags = m_programFlags[programSlot(kind)];
        const auto& list = m_programs[programSlot(kind)];
        if (list.empty()) {
            if (flags.complete) {
                return true;
            }
            break;
        }
        // Indices run 0, 1, 2... in list order: the first gap is asked for.
        for (size_t position = 0; position < list.size(); ++position) {
            if (list[position]->Index() != position) {
                flags.complete = false;
                RequestMissing(kind, static_cast<int>(position));
                return false;
            }
        }
        if (list.back()->NextLink() != kNoIndex) {
            flags.complete = false;
            RequestMissing(kind, list.back()->Index() + 1);
            return false;
        }
        flags.complete = true;
        return true;
    }
    case item_kind::Satellites:
    case item_kind::Tps: {
        const bool satellites = kind == item_kind::Satellites;
        std::lock_guard lock(satellites ? m_satelliteLock : m_tpLock);
        ListFlags& flags = satellites ? m_satelliteFlags : m_tpFlags;
        // Walks one list through its previous and next indices.
        const auto firstGap = [](const auto& list) -> int {
            if (list.front()->PreviousIndex() != kNoIndex) {
                return list.front()->PreviousIndex();
            }
            for (size_t at = 0; at + 1 < list.size(); ++at) {
                const auto& r = *list[at];
                const auto& s = *list[at + 1];
                if (r.NextIndex() != s.Index() && r.Index() != s.PreviousIndex()) {
                    return r.NextIndex();
                }
            }
            return list.back()->NextIndex() != kNoIndex ? list.back()->NextIndex() : -2;
        };
        const bool empty = satellites ? m_satellites.empty() : m_tps.empty();
        if (empty) {
            if (flags.complete) {
                return true;
            }
            flags.complete = false;
            RequestMissing(kind, kFromStart);
            return false;
        }
        const int gap = satellites ? firstGap(m_satellites) : firstGap(m_tps);
        if (gap == -2) {
            flags.complete = true;
            return true;
        }
        flags.complete = false;
        RequestMissing(kind, gap);
        return false;
    }
    case item_kind::PlayingUnlocked: {
        std::lock_guard tvLock(ProgramLock(item_kind::Tv));
        std::lock_guard radioLock(ProgramLock(item_kind::Radio));
        const PlayingRecord playing = Playing();
        const bool anyPrograms = !m_programs[0].empty() || !m_programs[1].empty();
        if (!PlayingKnown() && anyPrograms) {
            break;
        }
        if (playing.Index() != kNoIndex &&
            FindProgram(playing.Kind(), playing.Index()) == nullptr) {
            break;
        }
        return true;
    }
    case item_kind::System:
    case item_kind::Volume:
    case item_kind::Version:
        if (IsComplete(kind)) {
            return true;
        }
        break;
    default:
        return true;
    }
    if (kind == item_kind::Tv || kind == item_kind::Radio) {
        m_programFlags[programSlot(kind)].complete = false;
    }
    RequestMissing(kind, kFromStart);
    return false;
}

int ListManager::RequestMissing(int kind, int index)
{
    const bool fromStart = index < 0;
    const int a = fromStart ? kNoIndex : (index & 0xFF);
    bool result;
    switch (kind) {
    case item_kind::Tv:
    case item_kind::Radio:
        result = m_host.SendRequest(msg::QueryProgram, a, kind, {});
        break;
    case item_kind::Satellites:
        result = m_host.SendRequest(msg::QuerySatellite, a, 0, {});
        break;
    case item_kind::Tps:
        result = m_host.SendRequest(msg::QueryTp, a, fromStart ? 0 : LowestSatellite(), {});
        break;
    case item_kind::PlayingUnlocked:
        result = m_host.SendRequest(msg::PlayProgram, kNoIndex, 0, {});
        break;
    case item_kind::System:
        if (!fromStart) {
            return db_result::NotLinked;
        }
        result = m_host.SendRequest(msg::QuerySystemInfo, 0, 0, {});
        break;
    case item_kind::Volume:
        if (!fromStart) {
            return db_result::NotLinked;
        }
        result = m_host.SendRequest(msg::SetVolume, kVolumeUpCommand, 0, {});
        break;
    case item_kind::Version:
        result = m_host.SendRequest(msg::QueryVersion, 0, 0, {});
        break;
    default:
        return db_result::NotLinked;
    }
    return result ? 1 : 0;
}

} // namespace vireo
