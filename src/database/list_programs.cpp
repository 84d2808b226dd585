#include "database/list_manager.h"
#include "database/pid_line.h"
#include "link/message_code.h"

#include <algorithm>
#include <cstring>

namespace vireo {

namespace {

constexpr size_t kNothingPlaysLength = 6;
constexpr size_t kPlayingKindOffset = 6;
constexpr long kSignalQueryDelayMs = 3 * 50;

bool isProgramKind(int kind)
{
    return kind == item_kind::Tv || kind == item_kind::Radio;
}

} // namespace

// --- TV and radio programs ---

int ListManager::LoadProgram(const uint8_t* payload, size_t length)
{
    if (payload == nullptr) {
        // The empty-list markers of the status replies.
        if (length == 1 || length == 2) {
            ListFlags& flags = m_programFlags[programSlot(static_cast<int>(length))];
            flags.emptyReported = true;
            flags.complete = true;
        }
        return db_result::Ok;
    }
    if (m_host.IsClosing()) {
        return db_result::NotMade;
    }
    auto record = ProgramRecord::Decode(std::span(payload, length));
    if (!record || record->Index() == kNoIndex) {
        return db_result::Rejected;
    }
    if (!isProgramKind(record->Kind())) {
        return db_result::Ok;
    }
    return InsertProgram(std::move(record), false);
}

int ListManager::MergeProgram(const uint8_t* payload, size_t length)
{
    if (m_host.IsClosing()) {
        return db_result::NotMade;
    }
    auto record = ProgramRecord::Decode(payload == nullptr ? std::span<const uint8_t>{}
                                                           : std::span(payload, length));
    if (!record || record->Index() == kNoIndex) {
        return db_result::Rejected;
    }
    if (!isProgramKind(record->Kind())) {
        return db_result::Inconsistent;
    }
    return InsertProgram(std::move(record), true);
}

int ListManager::InsertProgram(std::unique_ptr<ProgramRecord> record, bool refresh)
{
    if (!record || m_host.IsClosing()) {
        return db_result::NotMade;
    }
    const int kind = record->Kind();
    if (!isProgramKind(kind) || record->Index() == kNoIndex) {
        return db_result::Rejected;
    }
    // The satellite and TP locks stay held too: a redisplay reaches up to
    // the program's TP, and locks are only ever taken top down.
    std::lock_guard satelliteLock(m_satelliteLock);
    std::lock_guard tpLock(m_tpLock);
    std::lock_guard listLock(ProgramLock(kind));
    auto& list = m_programs[programSlot(kind)];

    if (ProgramRecord* held = FindProgram(kind, record->Index())) {
        held->wire = record->wire;
        held->name = record->name;
        held->label = record->label;
        if (refresh && held->node != kNoTreeNode) {
            ShowItem(kind, held);
        }
        return db_result::Ok;
    }

    m_programFlags[programSlot(kind)].complete = false;
    const uint8_t index = record->Index();
    auto after = std::find_if(list.begin(), list.end(),
                              [index](const auto& held) { return held->Index() > index; });
    if (after != list.begin()) {
        ProgramRecord& previous = **std::prev(after);
        if (previous.NextLink() == kNoIndex) {
            previous.SetNextLink(record->LinkNumber());
        }
    }
    list.insert(after, std::move(record));
    return db_result::Ok;
}

// --- the playing program ---

int ListManager::StorePlaying(const uint8_t* payload, size_t length)
{
    if (payload == nullptr) {
        return db_result::Ok;
    }
    if (length == kNothingPlaysLength) {
        std::lock_guard lock(m_stateLock);
        m_playing.wire[0] = kNoIndex;
        m_playingKnown = true;
        return db_result::Ok;
    }
    // Only the index and the kind byte are read: a record cut short after the
    // kind is taken with the rest zero-filled, a shorter one is dropped.
    if (length <= kPlayingKindOffset) {
        return db_result::Rejected;
    }
    PlayingRecord fresh;
    fresh.wire.fill(0);
    std::memcpy(fresh.wire.data(), payload, std::min(length, fresh.wire.size()));
    {
        std::lock_guard lock(m_stateLock);
        if (!m_playingKnown) {
            m_playingKnown = true;
            m_playingChanged = true;
        }
        if (fresh.Index() != m_playing.Index()) {
            m_playingChanged = true;
        }
        m_playing = fresh;
    }
    // Read the signal again for the new program.
    m_host.PauseFor(kSignalQueryDelayMs);
    m_host.SendRequest(msg::QuerySignal, 0, 0, {});
    return db_result::Ok;
}

int ListManager::ReplacePlaying(const uint8_t* payload, size_t length)
{
    if (payload == nullptr) {
        return db_result::Ok;
    }
    if (length != kNothingPlaysLength && length <= kPlayingKindOffset) {
        return db_result::Rejected;
    }
    const PlayingRecord held = Playing();
    int result = db_result::Ok;
    if (held.Index() != kNoIndex) {
        const int kind = held.Kind();
        bool fullRefresh = false;
        if (isProgramKind(kind)) {
            std::lock_guard satelliteLock(m_satelliteLock);
            std::lock_guard tpLock(m_tpLock);
            std::lock_guard listLock(ProgramLock(kind));
            ProgramRecord* program = FindProgram(kind, held.Index());
            if (program == nullptr) {
                result = db_result::Inconsistent;
            } else if (!liveNode(treeOf(kind), program->node)) {
                fullRefresh = true;
            } else {
                SetNodeIcon(treeOf(kind), kIconNoState, program->node);
            }
        } else {
            result = db_result::Inconsistent;
        }
        if (fullRefresh) {
            m_host.StartFullRefresh();
            return db_result::Ok;
        }
    }
    StorePlaying(payload, length);
    return result;
}

PlayingRecord ListManager::Playing() const
{
    std::lock_guard lock(m_stateLock);
    return m_playing;
}

bool ListManager::PlayingKnown() const
{
    std::lock_guard lock(m_stateLock);
    return m_playingKnown;
}

bool ListManager::HasPlayingProgram() const
{
    std::lock_guard lock(m_stateLock);
    return m_playing.Index() != kNoIndex;
}

bool ListManager::PlayingChangedPending() const
{
    std::lock_guard lock(m_stateLock);
    return m_playingChanged;
}

} // namespace vireo
