#include "database/list_manager.h"

#include "database/chain_order.h"
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
// Both lists follow the device's previous/next indices. Replies may come in
// any order and with any gaps: a record is kept whether or not its
// neighbours are held yet, and the list is put in link order afterwards. A
// record for an index already held is copied into the held record, which
// keeps its tree nodes.

template <class Record>
ListManager::Held ListManager::holdLinked(List<Record>& list, std::unique_ptr<Record> record)
{
    const uint8_t index = record->Index();
    Held held = Held::Added;
    Record* fresh = record.get();
    if (auto found = findIndex(list, index); found != list.end()) {
        adopt(**found, *record);
        refreshNodes(**found);
        fresh = found->get();
        held = Held::Updated;
    } else {
        list.push_back(std::move(record));
    }
    // What a record says of its own place is newer than what its neighbour
    // said before: a record added after R names R as its predecessor while
    // the R held still ends the list. A record that says it comes first
    // goes before any other that said so earlier.
    if (fresh->PreviousIndex() == kNoIndex) {
        auto at = std::find_if(list.begin(), list.end(),
                               [fresh](const auto& r) { return r.get() == fresh; });
        std::rotate(list.begin(), at, at + 1);
    } else if (auto previous = findIndex(list, fresh->PreviousIndex());
               previous != list.end() && previous->get() != fresh) {
        (*previous)->SetNextIndex(index);
    }
    orderLinked(list);
    if (held == Held::Added && findIndex(list, index) == list.end()) {
        return Held::Stale;
    }
    return held;
}

template <class Record> ChainPlan ListManager::planLinked(const List<Record>& list)
{
    std::vector<ChainLinks> links;
    links.reserve(list.size());
    for (const auto& record : list) {
        links.push_back({record->Index(), record->PreviousIndex(), record->NextIndex()});
    }
    return PlanChain(links);
}

template <class Record> ChainPlan ListManager::orderLinked(List<Record>& list)
{
    ChainPlan plan = planLinked(list);
    if (plan.stale.empty() && plan.order.size() == list.size() &&
        std::is_sorted(plan.order.begin(), plan.order.end())) {
        return plan; // already in link order, as after most single changes
    }
    List<Record> ordered;
    ordered.reserve(list.size());
    for (size_t at : plan.order) {
        ordered.push_back(std::move(list[at]));
    }
    // Records outside a chain that runs whole from first to last are no
    // longer in the device's list: they go with their tree nodes.
    for (size_t at : plan.stale) {
        discard(std::move(list[at]));
    }
    list = std::move(ordered);
    return planLinked(list);
}

void ListManager::noteSatelliteRange()
{
    if (m_satellites.empty()) {
        return;
    }
    uint8_t lowest = kNoIndex;
    uint8_t highest = 0;
    for (const auto& satellite : m_satellites) {
        lowest = std::min(lowest, satellite->Index());
        highest = std::max(highest, satellite->Index());
    }
    m_lowestSatellite = lowest;
    m_highestSatellite = highest;
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
    std::lock_guard lock(m_satelliteLock);
    m_satelliteFlags.received = true;
    m_satelliteFlags.changed = true;
    if (holdLinked(m_satellites, std::move(record)) == Held::Added) {
        m_satelliteFlags.complete = false;
    }
    noteSatelliteRange();
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
    std::lock_guard lock(m_satelliteLock);
    const bool wasEmpty = m_satellites.empty();
    const Held held = holdLinked(m_satellites, std::move(record));
    noteSatelliteRange();
    if (held == Held::Added && !wasEmpty) {
        m_satelliteFlags.complete = false;
    }
    return held == Held::Stale ? db_result::NotLinked : db_result::Ok;
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
    if (holdLinked(m_tps, std::move(record)) == Held::Added) {
        m_tpFlags.complete = false;
    }
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
    const bool wasEmpty = m_tps.empty();
    const Held held = holdLinked(m_tps, std::move(record));
    if (held == Held::Added && !wasEmpty) {
        m_tpFlags.complete = false;
    }
    return held == Held::Stale ? db_result::Inconsistent : db_result::Ok;
}

// --- lookups ---

namespace {
template <class Record> bool listHolds(const ListManager::List<Record>& list, const Record* record)
{
    return record != nullptr && std::any_of(list.begin(), list.end(),
                                            [record](const auto& r) { return r.get() == record; });
}
} // namespace

bool ListManager::Holds(const SatelliteRecord* record) const
{
    std::lock_guard lock(m_satelliteLock);
    return listHolds(m_satellites, record);
}

bool ListManager::Holds(const TpRecord* record) const
{
    std::lock_guard lock(m_tpLock);
    return listHolds(m_tps, record);
}

bool ListManager::Holds(int kind, const ProgramRecord* record) const
{
    std::lock_guard lock(ProgramLock(kind));
    return listHolds(m_programs[programSlot(kind)], record);
}

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
