#include "database/list_manager.h"

#include "database/program_tree.h"
#include "lang/language_table.h"

#include <algorithm>
#include <cstring>

namespace vireo {

namespace {

// Rows of the language table.
constexpr int kRowResetReported = 166;  // "IRD has restarted, please update!"
constexpr int kRowSourceChanged = 167;  // "IRD signal has changed, please update!"
constexpr int kRowAddressChanged = 168; // "IRD ip has changed, pleasr update!"

std::span<const uint8_t> bytesOf(const uint8_t* payload, size_t length)
{
    return payload == nullptr ? std::span<const uint8_t>{} : std::span(payload, length);
}

void adopt(SatelliteRecord& held, const SatelliteRecord& fresh)
{
    held.wire = fresh.wire;
}

void adopt(TpRecord& held, const TpRecord& fresh)
{
    held.wire = fresh.wire;
    held.label = fresh.label;
}

template <class Record> auto findIndex(ListManager::List<Record>& list, int index)
{
    return std::find_if(list.begin(), list.end(),
                        [index](const auto& record) { return record->Index() == index; });
}

} // namespace

ListManager::ListManager(DatabaseHost& host) : m_host(host) {}

ListManager::~ListManager()
{
    ProgramTree& tv = m_host.TvTree();
    ProgramTree& radio = m_host.RadioTree();
    TreeUpdateScope tvScope(tv);
    TreeUpdateScope radioScope(radio);
    std::lock_guard satelliteLock(m_satelliteLock);
    std::lock_guard tpLock(m_tpLock);
    std::lock_guard tvLock(m_programLocks[0]);
    std::lock_guard radioLock(m_programLocks[1]);
    for (int slot = 0; slot < 2; ++slot) {
        ProgramTree& tree = slot == 0 ? tv : radio;
        for (auto& record : m_programs[slot]) {
            tree.Remove(record->node);
        }
        m_programs[slot].clear();
    }
    for (auto& record : m_tps) {
        tv.Remove(record->tvNode);
        radio.Remove(record->radioNode);
    }
    m_tps.clear();
    for (auto& record : m_satellites) {
        tv.Remove(record->tvNode);
        radio.Remove(record->radioNode);
    }
    m_satellites.clear();
}

// --- system record, volume, version ---

int ListManager::StoreVersion(const uint8_t* payload, size_t length)
{
    if (payload == nullptr || length < 4) {
        return db_result::Rejected;
    }
    std::lock_guard lock(m_stateLock);
    std::memcpy(m_version.bytes.data(), payload, 4);
    m_versionHeld = true;
    return db_result::Ok;
}

int ListManager::StoreSystemRecord(const uint8_t* payload, size_t length)
{
    // A short record is dropped: stored, its zeroed address fields would be
    // shown and sent back to the device with the next settings change.
    if (payload == nullptr || length < SystemRecord::kWireSize) {
        return db_result::Rejected;
    }
    SystemRecord fresh;
    std::memcpy(fresh.wire.data(), payload, SystemRecord::kWireSize);

    bool sourceChanged = false;
    {
        std::lock_guard lock(m_systemLock);
        if (m_systemHeld) {
            sourceChanged = m_system.SignalSource() != fresh.SignalSource();
            if (m_system.wire != fresh.wire) {
                m_systemChanged = true;
            }
        }
        m_systemHeld = true;
        m_systemShown = false;
        m_system = fresh;
    }

    int result = db_result::Ok;
    if (fresh.Reset()) {
        m_host.Log(GetLangText(kRowResetReported));
        m_host.RequestDisconnect();
        result = db_result::Disconnect;
    } else if (sourceChanged) {
        m_host.Log(GetLangText(kRowSourceChanged));
        m_host.RequestDisconnect();
        result = db_result::Disconnect;
    } else if (fresh.AddressChanged() != 0) {
        m_host.Log(GetLangText(kRowAddressChanged));
        m_host.FlushNeighbourCache();
        m_host.PostAddressCheck(fresh.Ip());
    }
    m_host.ShowSignalSource(fresh.SignalSource());
    return result;
}

int ListManager::StoreVolume(const uint8_t* payload, size_t length)
{
    if (payload == nullptr && length == 0) {
        m_volumeHeld = true;
        return db_result::Ok;
    }
    if (payload == nullptr || length != 1) {
        return db_result::Rejected;
    }
    std::lock_guard lock(m_volumeLock);
    const uint8_t volume = payload[0] & 0x0F;
    const uint8_t mute = (payload[0] & 0x80) != 0 ? 1 : 0;
    m_volumeHeld = true;
    m_volumeShown = false;
    if (volume != m_volume.volume || mute != m_volume.mute) {
        m_volumeChanged = true;
    }
    m_volume = {volume, mute};
    return db_result::Ok;
}

// --- satellites and TPs ---
//
// Both lists follow the device's previous/next indices. A record for an index
// already held is copied into the held record, which keeps its tree nodes.

template <class Record>
int ListManager::loadLinked(List<Record>& list, std::unique_ptr<Record> record)
{
    if (list.empty() || record->PreviousIndex() == kNoIndex) {
        while (!list.empty()) {
            discard(std::move(list.back()));
            list.pop_back();
        }
        list.push_back(std::move(record));
        return 1; // the list starts anew
    }
    auto found = findIndex(list, record->Index());
    if (found == list.end()) {
        list.push_back(std::move(record));
        return 0;
    }
    adopt(**found, *record);
    refreshNodes(**found);
    if (record->NextIndex() == kNoIndex) {
        // The device says the list ends here: what followed is gone.
        while (list.end() - found > 1) {
            discard(std::move(list.back()));
            list.pop_back();
        }
    }
    return 0;
}

template <class Record>
int ListManager::mergeLinked(List<Record>& list, std::unique_ptr<Record> record, bool tpRule)
{
    // Results: 0 linked, 1 updated in place, 2 not linked (record dropped),
    // 3 not linked although it claims to be the last.
    if (list.empty()) {
        list.push_back(std::move(record));
        return 0;
    }
    if (auto found = findIndex(list, record->Index()); found != list.end()) {
        adopt(**found, *record);
        refreshNodes(**found);
        return 1;
    }
    const Record& first = *list.front();
    const Record& fresh = *record;
    const bool goesFirst =
        fresh.PreviousIndex() == kNoIndex ||
        (tpRule ? first.PreviousIndex() == fresh.Index() : first.Index() == fresh.NextIndex());
    if (goesFirst) {
        list.insert(list.begin(), std::move(record));
        return 0;
    }
    if (list.size() > 1 && first.NextIndex() != fresh.Index()) {
        for (size_t at = 0; at + 1 < list.size(); ++at) {
            const Record& r = *list[at];
            const Record& s = *list[at + 1];
            if (fresh.Index() == r.NextIndex() || fresh.Index() == s.PreviousIndex() ||
                fresh.PreviousIndex() == r.Index() || fresh.NextIndex() == s.Index()) {
                list.insert(list.begin() + static_cast<std::ptrdiff_t>(at) + 1, std::move(record));
                return 0;
            }
        }
        Record& last = *list.back();
        const bool claimsLast = fresh.NextIndex() == kNoIndex;
        if (claimsLast && (last.NextIndex() != kNoIndex || fresh.PreviousIndex() == last.Index())) {
            if (fresh.PreviousIndex() == last.Index()) {
                last.SetNextIndex(fresh.Index());
            }
            list.push_back(std::move(record));
            return 0;
        }
        return claimsLast ? 3 : 2;
    }
    // The first record has no successor, or names this one as its successor:
    // the new record follows it and ends the list. Records that followed the
    // first one leave the list; they are freed with their tree nodes, and
    // whatever is still missing is asked for again by the completeness check.
    while (list.size() > 1) {
        discard(std::move(list.back()));
        list.pop_back();
    }
    list.push_back(std::move(record));
    return 0;
}

void ListManager::noteSatelliteIndex(uint8_t index)
{
    if (index < m_lowestSatellite) {
        m_lowestSatellite = index;
    } else if (index > m_highestSatellite) {
        m_highestSatellite = index;
    }
}

int ListManager::LoadSatellite(const uint8_t* payload, size_t length)
{
    if (payload == nullptr && length == 0) {
        m_satelliteFlags.received = true;
        m_satelliteFlags.complete = true;
        return db_result::Ok;
    }
    if (m_satelliteFlags.shown) {
        return MergeSatellite(payload, length);
    }
    if (m_host.IsClosing()) {
        return db_result::NotMade;
    }
    auto record = SatelliteRecord::Decode(bytesOf(payload, length));
    if (!record || record->Index() == kNoIndex) {
        return db_result::Rejected;
    }
    const uint8_t index = record->Index();
    std::lock_guard lock(m_satelliteLock);
    m_satelliteFlags.received = true;
    m_satelliteFlags.changed = true;
    if (loadLinked(m_satellites, std::move(record)) == 1) {
        m_lowestSatellite = index;
        m_highestSatellite = index;
    } else {
        noteSatelliteIndex(index);
    }
    return db_result::Ok;
}

int ListManager::MergeSatellite(const uint8_t* payload, size_t length)
{
    if (m_host.IsClosing()) {
        return db_result::NotMade;
    }
    auto record = SatelliteRecord::Decode(bytesOf(payload, length));
    if (!record || record->Index() == kNoIndex) {
        return db_result::Rejected;
    }
    const uint8_t index = record->Index();
    std::lock_guard lock(m_satelliteLock);
    const bool wasEmpty = m_satellites.empty();
    if (!wasEmpty && findIndex(m_satellites, index) == m_satellites.end()) {
        m_satelliteFlags.complete = false;
    }
    switch (mergeLinked(m_satellites, std::move(record), false)) {
    case 0:
        if (wasEmpty) {
            m_lowestSatellite = index;
            m_highestSatellite = index;
        } else {
            noteSatelliteIndex(index);
        }
        return db_result::Ok;
    case 3:
        return db_result::NotLinked;
    default:
        return db_result::Ok;
    }
}

int ListManager::LoadTp(const uint8_t* payload, size_t length)
{
    if (payload == nullptr && length == 0) {
        m_tpFlags.received = true;
        m_tpFlags.complete = true;
        return db_result::Ok;
    }
    if (m_tpFlags.shown) {
        return MergeTp(payload, length);
    }
    if (m_host.IsClosing()) {
        return db_result::NotMade;
    }
    auto record = TpRecord::Decode(bytesOf(payload, length));
    if (!record || record->Index() == kNoIndex) {
        return db_result::Rejected;
    }
    // Satellite lock first: redisplaying a TP may need its satellite.
    std::lock_guard satelliteLock(m_satelliteLock);
    std::lock_guard tpLock(m_tpLock);
    m_tpFlags.received = true;
    m_tpFlags.changed = true;
    loadLinked(m_tps, std::move(record));
    return db_result::Ok;
}

int ListManager::MergeTp(const uint8_t* payload, size_t length)
{
    if (m_host.IsClosing()) {
        return db_result::NotMade;
    }
    auto record = TpRecord::Decode(bytesOf(payload, length));
    if (!record || record->Index() == kNoIndex) {
        return db_result::Rejected;
    }
    // Satellite lock first: a redisplay may need the TP's satellite.
    std::lock_guard satelliteLock(m_satelliteLock);
    std::lock_guard tpLock(m_tpLock);
    if (!m_tps.empty() && findIndex(m_tps, record->Index()) == m_tps.end()) {
        m_tpFlags.complete = false;
    }
    return mergeLinked(m_tps, std::move(record), true) == 3 ? db_result::Inconsistent
                                                            : db_result::Ok;
}

// --- lookups ---

ProgramRecord* ListManager::FindProgram(int kind, int index)
{
    if (kind != item_kind::Tv && kind != item_kind::Radio) {
        return nullptr;
    }
    std::lock_guard lock(ProgramLock(kind));
    auto& list = m_programs[programSlot(kind)];
    auto found = findIndex(list, index);
    return found == list.end() ? nullptr : found->get();
}

TpRecord* ListManager::FindTp(int index)
{
    std::lock_guard lock(m_tpLock);
    auto found = findIndex(m_tps, index);
    return found == m_tps.end() ? nullptr : found->get();
}

SatelliteRecord* ListManager::FindSatellite(int index)
{
    std::lock_guard lock(m_satelliteLock);
    auto found = findIndex(m_satellites, index);
    return found == m_satellites.end() ? nullptr : found->get();
}

RecordRef ListManager::FindParent(int kind, int index)
{
    if (kind == item_kind::Tv || kind == item_kind::Radio) {
        if (TpRecord* tp = FindTp(index)) {
            return tp;
        }
    } else if (kind == item_kind::Tps) {
        if (SatelliteRecord* satellite = FindSatellite(index)) {
            return satellite;
        }
    }
    return {};
}

// --- state ---

std::recursive_mutex& ListManager::ProgramLock(int kind) const
{
    return m_programLocks[programSlot(kind)];
}

const ListManager::List<ProgramRecord>& ListManager::Programs(int kind) const
{
    return m_programs[programSlot(kind)];
}

const ListManager::ListFlags* ListManager::flagsOf(int kind) const
{
    switch (kind) {
    case item_kind::Tv:
    case item_kind::Radio:
        return &m_programFlags[programSlot(kind)];
    case item_kind::Satellites:
        return &m_satelliteFlags;
    case item_kind::Tps:
        return &m_tpFlags;
    default:
        return nullptr;
    }
}

bool ListManager::IsComplete(int kind) const
{
    switch (kind) {
    case item_kind::System:
        return m_systemHeld;
    case item_kind::Volume:
        return m_volumeHeld;
    case item_kind::Version: {
        std::lock_guard lock(m_stateLock);
        return m_versionHeld;
    }
    default: {
        const ListFlags* flags = flagsOf(kind);
        return flags != nullptr && flags->complete;
    }
    }
}

bool ListManager::IsShown(int kind) const
{
    if (kind == item_kind::System) {
        return m_systemShown;
    }
    if (kind == item_kind::Volume) {
        return m_volumeShown;
    }
    const ListFlags* flags = flagsOf(kind);
    return flags != nullptr && flags->shown;
}

bool ListManager::IsReceived(int kind) const
{
    const ListFlags* flags = flagsOf(kind);
    return flags != nullptr && flags->received;
}

bool ListManager::IsChanged(int kind) const
{
    if (kind == item_kind::System) {
        return m_systemChanged;
    }
    if (kind == item_kind::Volume) {
        return m_volumeChanged;
    }
    const ListFlags* flags = flagsOf(kind);
    return flags != nullptr && flags->changed;
}

bool ListManager::IsEmptyReported(int kind) const
{
    const ListFlags* flags = flagsOf(kind);
    return flags != nullptr && flags->emptyReported;
}

bool ListManager::IsRenumberNeeded(int kind) const
{
    const ListFlags* flags = flagsOf(kind);
    return flags != nullptr && flags->renumberNeeded;
}

void ListManager::SetShown(int kind, bool shown)
{
    // What has been shown is no longer a change waiting to be shown.
    if (kind == item_kind::System) {
        m_systemShown = shown;
        if (shown) {
            m_systemChanged = false;
        }
    } else if (kind == item_kind::Volume) {
        m_volumeShown = shown;
        if (shown) {
            m_volumeChanged = false;
        }
    }
}

std::optional<SystemRecord> ListManager::System() const
{
    std::lock_guard lock(m_systemLock);
    return m_systemHeld ? std::optional(m_system) : std::nullopt;
}

std::optional<VolumeState> ListManager::Volume() const
{
    std::lock_guard lock(m_volumeLock);
    // Held also by an empty-list report, before any VolumeInfo: the stored
    // state is then the initial one (volume 0, not muted).
    return m_volumeHeld ? std::optional(m_volume) : std::nullopt;
}

std::optional<VersionRecord> ListManager::Version() const
{
    std::lock_guard lock(m_stateLock);
    return m_versionHeld ? std::optional(m_version) : std::nullopt;
}

} // namespace vireo
