#include "database/list_manager.h"
#include "link/message_code.h"

#include <algorithm>

namespace vireo {

namespace {

// SetVolume's command byte that the "+" button sends; the device answers
// with its volume state.
constexpr int kVolumeUpCommand = 0x0A;

} // namespace

size_t ListManager::ledgerSlot(int kind)
{
    // Kinds 1 to 9 without 6 (the playing program has one query for 5 and 6).
    const int slot = kind == item_kind::PlayingLocked ? item_kind::PlayingUnlocked : kind;
    return static_cast<size_t>(slot > item_kind::PlayingLocked ? slot - 2 : slot - 1);
}

bool ListManager::admitQuery(int kind, int index)
{
    {
        std::lock_guard lock(m_ledgerLock);
        QueryLedger& ledger = m_ledgers[ledgerSlot(kind)];
        if (ledger.spent || ledger.dropped.count(index) != 0) {
            return false;
        }
        int& asks = ledger.asks[index];
        if (asks >= kMaxAsks) {
            // Its answers never filled the gap: go on without it.
            ledger.dropped.insert(index);
            return false;
        }
        if (ledger.sent < kQueryBudget) {
            ++asks;
            ++ledger.sent;
            return true;
        }
        ledger.spent = true;
    }
    giveUp();
    return false;
}

void ListManager::giveUp()
{
    // Told once, by whoever stores replies, when no list lock is held.
    if (!m_gaveUp.exchange(true)) {
        m_gaveUpNotice = true;
    }
}

bool ListManager::TakeGaveUpNotice()
{
    return m_gaveUpNotice.exchange(false);
}

void ListManager::NoteNotOnDevice(int kind, int index)
{
    if (kind < item_kind::Tv || kind > item_kind::Tps) {
        return;
    }
    std::lock_guard lock(m_ledgerLock);
    m_ledgers[ledgerSlot(kind)].dropped.insert(index < 0 || index == kNoIndex ? kFromStart : index);
    if (kind == item_kind::Tps) {
        m_tpSearch.erase(index);
    }
}

int ListManager::MissingQueries() const
{
    std::lock_guard lock(m_ledgerLock);
    int sent = 0;
    for (const QueryLedger& ledger : m_ledgers) {
        sent += ledger.sent;
    }
    return sent;
}

std::vector<uint8_t> ListManager::tpSearchOrder(int tp) const
{
    std::lock_guard satelliteLock(m_satelliteLock);
    std::lock_guard tpLock(m_tpLock);
    // Devices list TPs satellite by satellite: a missing TP hangs under the
    // satellite of the TP before it, or one of the satellites from there to
    // that of the TP after it. So the search starts at the TP before it and
    // goes forward in satellite order (or, when only the TP after it is
    // held, backward from that one's satellite), round the whole list.
    int before = -1;
    int after = -1;
    if (tp != kNoIndex) {
        for (const auto& record : m_tps) {
            if (record->NextIndex() == tp && before < 0) {
                before = record->SatelliteIndex();
            }
            if (record->PreviousIndex() == tp && after < 0) {
                after = record->SatelliteIndex();
            }
        }
    }
    const size_t count = m_satellites.size();
    size_t start = 0;
    bool forward = true;
    for (size_t i = 0; i < count; ++i) {
        if (m_satellites[i]->Index() == before) {
            start = i;
            break;
        }
        if (before < 0 && m_satellites[i]->Index() == after) {
            start = i;
            forward = false;
            break;
        }
    }
    std::vector<uint8_t> order;
    order.reserve(count);
    for (size_t step = 0; step < count; ++step) {
        const size_t at = forward ? (start + step) % count : (start + count - step) % count;
        order.push_back(m_satellites[at]->Index());
    }
    return order;
}

int ListManager::NextTpSatellite(int tp, int satellite)
{
    bool spent = false;
    int next = -1;
    {
        std::lock_guard lock(m_ledgerLock);
        auto search = m_tpSearch.find(tp);
        if (search == m_tpSearch.end()) {
            return -1;
        }
        std::vector<uint8_t>& left = search->second;
        while (!left.empty() && left.front() == satellite) {
            left.erase(left.begin());
        }
        QueryLedger& ledger = m_ledgers[ledgerSlot(item_kind::Tps)];
        if (left.empty()) {
            m_tpSearch.erase(search);
        } else if (ledger.spent || ledger.sent >= kQueryBudget) {
            ledger.spent = true;
            spent = true;
            m_tpSearch.erase(search);
        } else {
            next = left.front();
            left.erase(left.begin());
            ++ledger.sent;
        }
    }
    if (spent) {
        giveUp();
    }
    return next;
}

std::vector<int> ListManager::wantedPrograms(int kind) const
{
    // Indices run 0, 1, 2... in list order: every index short of the next
    // held one is missing, and a last record that links on has a successor.
    std::vector<int> wanted;
    const auto& list = m_programs[programSlot(kind)];
    int expected = 0;
    for (const auto& record : list) {
        for (; expected < record->Index(); ++expected) {
            wanted.push_back(expected);
        }
        expected = std::max(expected, record->Index() + 1);
    }
    if (!list.empty() && list.back()->NextLink() != kNoIndex && expected < kNoIndex) {
        wanted.push_back(expected);
    }
    return wanted;
}

bool ListManager::CheckComplete(int kind)
{
    switch (kind) {
    case item_kind::Tv:
    case item_kind::Radio: {
        std::lock_guard lock(ProgramLock(kind));
        ListFlags& flags = m_programFlags[programSlot(kind)];
        if (m_programs[programSlot(kind)].empty()) {
            if (flags.complete) {
                return true;
            }
            break;
        }
        for (int index : wantedPrograms(kind)) {
            if (RequestMissing(kind, index) != db_result::GivenUp) {
                flags.complete = false;
                return false;
            }
        }
        flags.complete = true;
        return true;
    }
    case item_kind::Satellites:
    case item_kind::Tps: {
        const bool satellites = kind == item_kind::Satellites;
        // Top down: the TP search reads the satellites.
        std::lock_guard satelliteLock(m_satelliteLock);
        std::lock_guard tpLock(m_tpLock);
        ListFlags& flags = satellites ? m_satelliteFlags : m_tpFlags;
        const bool empty = satellites ? m_satellites.empty() : m_tps.empty();
        if (empty) {
            if (flags.complete) {
                return true;
            }
            break;
        }
        const ChainPlan plan = satellites ? orderLinked(m_satellites) : orderLinked(m_tps);
        for (int index : plan.wanted) {
            if (RequestMissing(kind, index) != db_result::GivenUp) {
                flags.complete = false;
                return false;
            }
        }
        flags.complete = true;
        return true;
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
        // Nothing more is asked once given up, and nothing stands in for it.
        RequestMissing(kind, kFromStart);
        return false;
    default:
        return true;
    }
    // An empty list, or the playing program: asked for from the start. A
    // piece given up stands as it is.
    if (RequestMissing(kind, kFromStart) == db_result::GivenUp) {
        if (kind == item_kind::Tv || kind == item_kind::Radio) {
            m_programFlags[programSlot(kind)].complete = true;
        } else if (kind == item_kind::Satellites || kind == item_kind::Tps) {
            (kind == item_kind::Satellites ? m_satelliteFlags : m_tpFlags).complete = true;
        }
        return true;
    }
    if (kind == item_kind::Tv || kind == item_kind::Radio) {
        m_programFlags[programSlot(kind)].complete = false;
    }
    return false;
}

int ListManager::RequestMissing(int kind, int index)
{
    const bool fromStart = index < 0;
    const int a = fromStart ? kNoIndex : (index & 0xFF);
    if ((kind == item_kind::System || kind == item_kind::Volume) && !fromStart) {
        return db_result::NotLinked;
    }
    const bool known = (kind >= item_kind::Tv && kind <= item_kind::PlayingUnlocked) ||
                       kind == item_kind::System || kind == item_kind::Volume ||
                       kind == item_kind::Version;
    if (!known) {
        return db_result::NotLinked;
    }
    std::vector<uint8_t> under;
    if (kind == item_kind::Tps) {
        // Looked for under the satellites held, never under an index the
        // device may not have; with none held, the satellites come first.
        under = tpSearchOrder(a);
        if (under.empty()) {
            return RequestMissing(item_kind::Satellites, kFromStart);
        }
    }
    if (!admitQuery(kind, fromStart || kind == item_kind::PlayingUnlocked ? kFromStart : a)) {
        return db_result::GivenUp;
    }
    bool result;
    switch (kind) {
    case item_kind::Tv:
    case item_kind::Radio:
        result = m_host.SendRequest(msg::QueryProgram, a, kind, {});
        break;
    case item_kind::Satellites:
        result = m_host.SendRequest(msg::QuerySatellite, a, 0, {});
        break;
    case item_kind::Tps: {
        const uint8_t first = under.front();
        under.erase(under.begin());
        {
            std::lock_guard lock(m_ledgerLock);
            m_tpSearch[a] = std::move(under);
        }
        result = m_host.SendRequest(msg::QueryTp, a, first, {});
        break;
    }
    case item_kind::PlayingUnlocked:
        result = m_host.SendRequest(msg::PlayProgram, kNoIndex, 0, {});
        break;
    case item_kind::System:
        result = m_host.SendRequest(msg::QuerySystemInfo, 0, 0, {});
        break;
    case item_kind::Volume:
        result = m_host.SendRequest(msg::SetVolume, kVolumeUpCommand, 0, {});
        break;
    default: // item_kind::Version
        result = m_host.SendRequest(msg::QueryVersion, 0, 0, {});
        break;
    }
    return result ? 1 : 0;
}

} // namespace vireo
