#include "database/list_manager.h"

#include <algorithm>
#include <optional>

namespace vireo {

namespace {

template <class Record>
ptrdiff_t positionOf(const ListManager::List<Record>& list, const Record* record)
{
    auto found = std::find_if(list.begin(), list.end(),
                              [record](const auto& held) { return held.get() == record; });
    return found == list.end() ? -1 : found - list.begin();
}

// Takes `list[at]` out of a satellite or TP list and mends its neighbours'
// previous and next indices around the gap.
template <class Record>
std::unique_ptr<Record> unlinkAt(ListManager::List<Record>& list, ptrdiff_t at)
{
    const size_t position = static_cast<size_t>(at);
    Record& gone = *list[position];
    Record* before = position > 0 ? list[position - 1].get() : nullptr;
    Record* after = position + 1 < list.size() ? list[position + 1].get() : nullptr;
    if (before != nullptr && after != nullptr) {
        before->SetNextIndex(after->Index());
        after->SetPreviousIndex(before->Index());
    } else if (before != nullptr) {
        before->SetNextIndex(gone.NextIndex());
    } else if (after != nullptr) {
        after->SetPreviousIndex(gone.PreviousIndex());
    }
    std::unique_ptr<Record> record = std::move(list[position]);
    list.erase(list.begin() + at);
    return record;
}

} // namespace

// --- freeing records with their nodes ---

void ListManager::forgetSubtree(ProgramTree& tree, TreeNodeId node, bool tvTree)
{
    for (const TreeNodeId child : tree.Children(node)) {
        const TreeNode copy = tree.Node(child);
        if (copy.dataKind == TreeNodeData::Tp && copy.data != nullptr) {
            auto* tp = static_cast<TpRecord*>(copy.data);
            (tvTree ? tp->tvNode : tp->radioNode) = kNoTreeNode;
        } else if (copy.dataKind == TreeNodeData::Program && copy.data != nullptr) {
            static_cast<ProgramRecord*>(copy.data)->node = kNoTreeNode;
        }
        forgetSubtree(tree, child, tvTree);
    }
}

// Deletes `node` with its subtree. Records whose nodes hang below it (TPs of
// a satellite, programs of a TP) stay in their lists without a node and are
// shown again with their list.
void ListManager::deleteNode(ProgramTree& tree, TreeNodeId& node, bool tvTree)
{
    if (node == kNoTreeNode) {
        return;
    }
    auto treeLock = tree.Lock();
    forgetSubtree(tree, node, tvTree);
    tree.Remove(node);
    node = kNoTreeNode;
}

void ListManager::clearPending(const void* record)
{
    std::lock_guard lock(m_stateLock);
    if (m_pendingProgram == record) {
        m_pendingProgram = nullptr;
    }
    if (m_pendingTp == record) {
        m_pendingTp = nullptr;
    }
    if (m_pendingSatellite == record) {
        m_pendingSatellite = nullptr;
    }
}

void ListManager::discard(std::unique_ptr<SatelliteRecord> record)
{
    // The nodes below belong to TP and program records: their locks, top down.
    std::lock_guard tpLock(m_tpLock);
    std::lock_guard tvLock(m_programLocks[0]);
    std::lock_guard radioLock(m_programLocks[1]);
    deleteNode(m_host.TvTree(), record->tvNode, true);
    deleteNode(m_host.RadioTree(), record->radioNode, false);
    clearPending(record.get());
}

void ListManager::discard(std::unique_ptr<TpRecord> record)
{
    std::lock_guard tvLock(m_programLocks[0]);
    std::lock_guard radioLock(m_programLocks[1]);
    deleteNode(m_host.TvTree(), record->tvNode, true);
    deleteNode(m_host.RadioTree(), record->radioNode, false);
    clearPending(record.get());
}

void ListManager::discard(std::unique_ptr<ProgramRecord> record, int kind)
{
    deleteNode(treeOf(kind), record->node, kind == item_kind::Tv);
    clearPending(record.get());
}

// --- removal after a confirmed delete ---

int ListManager::RemoveProgram(ProgramRecord* record, bool bracket)
{
    if (record == nullptr) {
        record = PendingProgram();
    }
    if (record == nullptr) {
        return db_result::Inconsistent;
    }
    // The record is looked for by address before it is read: a record that
    // is in neither list is not touched.
    for (const int kind : {item_kind::Tv, item_kind::Radio}) {
        std::lock_guard lock(ProgramLock(kind));
        if (positionOf(m_programs[programSlot(kind)], record) >= 0) {
            std::optional<TreeUpdateScope> scope;
            if (bracket) {
                scope.emplace(treeOf(kind));
            }
            return removeProgramLocked(record);
        }
    }
    return db_result::Inconsistent;
}

// The caller holds the record's list lock.
int ListManager::removeProgramLocked(ProgramRecord* record)
{
    const int kind = record->Kind();
    if (kind != item_kind::Tv && kind != item_kind::Radio) {
        return db_result::NotProgramKind;
    }
    auto& list = m_programs[programSlot(kind)];
    const ptrdiff_t at = positionOf(list, static_cast<const ProgramRecord*>(record));
    if (at < 0) {
        return db_result::Inconsistent;
    }
    const size_t position = static_cast<size_t>(at);
    ProgramRecord* before = position > 0 ? list[position - 1].get() : nullptr;
    ProgramRecord* after = position + 1 < list.size() ? list[position + 1].get() : nullptr;
    if (before != nullptr) {
        before->SetNextLink(after != nullptr ? after->LinkNumber() : record->NextLink());
    }
    std::unique_ptr<ProgramRecord> gone = std::move(list[position]);
    list.erase(list.begin() + at);
    discard(std::move(gone), kind);
    m_programFlags[programSlot(kind)].renumberNeeded = true;
    return db_result::Ok;
}

int ListManager::RemoveTp(TpRecord* record, bool bracket)
{
    if (record == nullptr) {
        record = PendingTp();
    }
    if (record == nullptr) {
        return db_result::Inconsistent;
    }
    std::lock_guard lock(m_tpLock);
    if (positionOf(m_tps, static_cast<const TpRecord*>(record)) < 0) {
        return db_result::Inconsistent;
    }
    std::optional<TreeUpdateScope> tvScope;
    std::optional<TreeUpdateScope> radioScope;
    if (bracket) {
        tvScope.emplace(m_host.TvTree());
        radioScope.emplace(m_host.RadioTree());
    }
    return removeTpLocked(record);
}

// The caller holds the TP lock and knows the record is in the list.
int ListManager::removeTpLocked(TpRecord* record)
{
    // Its programs go first: those shown under its nodes, and those that
    // name it but have no node yet (left behind, they would later ask the
    // device for a TP it no longer has).
    for (const int kind : {item_kind::Tv, item_kind::Radio}) {
        std::lock_guard listLock(ProgramLock(kind));
        ProgramTree& tree = treeOf(kind);
        const TreeNodeId tpNode = kind == item_kind::Tv ? record->tvNode : record->radioNode;
        std::vector<ProgramRecord*> doomed;
        for (const auto& program : m_programs[programSlot(kind)]) {
            const bool below = program->node != kNoTreeNode && tpNode != kNoTreeNode &&
                               tree.Parent(program->node) == tpNode;
            if (below || program->TpIndex() == record->Index()) {
                doomed.push_back(program.get());
            }
        }
        for (ProgramRecord* program : doomed) {
            removeProgramLocked(program);
        }
    }
    const ptrdiff_t at = positionOf(m_tps, static_cast<const TpRecord*>(record));
    if (at < 0) {
        return db_result::Inconsistent;
    }
    discard(unlinkAt(m_tps, at));
    return db_result::Ok;
}

int ListManager::RemoveSatellite(SatelliteRecord* record, bool bracket)
{
    if (record == nullptr) {
        record = PendingSatellite();
    }
    if (record == nullptr) {
        return db_result::Inconsistent;
    }
    std::lock_guard satelliteLock(m_satelliteLock);
    if (positionOf(m_satellites, static_cast<const SatelliteRecord*>(record)) < 0) {
        return db_result::Inconsistent;
    }
    std::optional<TreeUpdateScope> tvScope;
    std::optional<TreeUpdateScope> radioScope;
    if (bracket) {
        tvScope.emplace(m_host.TvTree());
        radioScope.emplace(m_host.RadioTree());
    }
    {
        std::lock_guard tpLock(m_tpLock);
        ProgramTree& tv = m_host.TvTree();
        ProgramTree& radio = m_host.RadioTree();
        std::vector<TpRecord*> doomed;
        for (const auto& tp : m_tps) {
            const bool belowTv = tp->tvNode != kNoTreeNode && record->tvNode != kNoTreeNode &&
                                 tv.Parent(tp->tvNode) == record->tvNode;
            const bool belowRadio = tp->radioNode != kNoTreeNode &&
                                    record->radioNode != kNoTreeNode &&
                                    radio.Parent(tp->radioNode) == record->radioNode;
            if (belowTv || belowRadio || tp->SatelliteIndex() == record->Index()) {
                doomed.push_back(tp.get());
            }
        }
        for (TpRecord* tp : doomed) {
            removeTpLocked(tp);
        }
    }
    const ptrdiff_t at = positionOf(m_satellites, static_cast<const SatelliteRecord*>(record));
    discard(unlinkAt(m_satellites, at));
    return db_result::Ok;
}

void ListManager::RenumberPrograms()
{
    for (const int kind : {item_kind::Tv, item_kind::Radio}) {
        ListFlags& flags = m_programFlags[programSlot(kind)];
        if (!flags.renumberNeeded) {
            continue;
        }
        std::lock_guard satelliteLock(m_satelliteLock);
        std::lock_guard tpLock(m_tpLock);
        std::lock_guard listLock(ProgramLock(kind));
        TreeUpdateScope scope(treeOf(kind));
        auto& list = m_programs[programSlot(kind)];
        for (size_t position = 0; position < list.size(); ++position) {
            ProgramRecord& record = *list[position];
            const auto index = static_cast<uint8_t>(position);
            if (record.Index() == index) {
                continue;
            }
            {
                std::lock_guard stateLock(m_stateLock);
                if (m_playing.Index() == record.Index() && m_playing.Kind() == kind) {
                    m_playing.wire[0] = index;
                }
            }
            record.SetIndex(index);
            record.BuildLabel();
            if (record.node != kNoTreeNode) {
                ShowItem(kind, &record);
            }
        }
        flags.renumberNeeded = false;
    }
}

// --- pending removals ---

void ListManager::SetPendingProgram(ProgramRecord* record)
{
    std::lock_guard lock(m_stateLock);
    m_pendingProgram = record;
}

void ListManager::SetPendingTp(TpRecord* record)
{
    std::lock_guard lock(m_stateLock);
    m_pendingTp = record;
}

void ListManager::SetPendingSatellite(SatelliteRecord* record)
{
    std::lock_guard lock(m_stateLock);
    m_pendingSatellite = record;
}

ProgramRecord* ListManager::PendingProgram() const
{
    std::lock_guard lock(m_stateLock);
    return m_pendingProgram;
}

TpRecord* ListManager::PendingTp() const
{
    std::lock_guard lock(m_stateLock);
    return m_pendingTp;
}

SatelliteRecord* ListManager::PendingSatellite() const
{
    std::lock_guard lock(m_stateLock);
    return m_pendingSatellite;
}

} // namespace vireo
