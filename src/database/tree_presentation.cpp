#include "database/list_manager.h"
#include "database/pid_line.h"
#include "lang/language_table.h"

namespace vireo {

namespace {

constexpr int kRowPlayingTv = 195;    // " TV: "
constexpr int kRowPlayingRadio = 196; // " Radio: "
constexpr const char* kAsiTpLabel = "ASI TP";

// SetNodeIcon code for a program node's image.
int programIconCode(int moduleState, bool radioTree)
{
    switch (ProgramImage(moduleState, radioTree)) {
    case kProgImageModuleUp:
        return kIconModuleUp;
    case kProgImageModuleDown:
        return kIconModuleDown;
    default:
        return radioTree ? kIconRadioProgram : kIconTvProgram;
    }
}

} // namespace

// A record's node id counts only while the tree still has that node (the
// window may have cleared its tree); a stale id is forgotten.
bool ListManager::liveNode(ProgramTree& tree, TreeNodeId& node)
{
    if (node == kNoTreeNode) {
        return false;
    }
    if (!tree.Exists(node)) {
        node = kNoTreeNode;
        return false;
    }
    return true;
}

int ListManager::ShowItem(int kind, RecordRef record, bool force)
{
    if (m_host.IsClosing()) {
        return db_result::Closing;
    }
    // Locks top down, held for the whole display.
    if (auto* program = std::get_if<ProgramRecord*>(&record); program && *program) {
        // A program is only ever shown in the tree of its own list.
        if ((kind != item_kind::Tv && kind != item_kind::Radio) || (*program)->Kind() != kind) {
            return db_result::Inconsistent;
        }
        std::lock_guard satelliteLock(m_satelliteLock);
        std::lock_guard tpLock(m_tpLock);
        std::lock_guard listLock(ProgramLock(kind));
        return showProgram(**program, kind);
    }
    if (auto* satellite = std::get_if<SatelliteRecord*>(&record); satellite && *satellite) {
        std::lock_guard satelliteLock(m_satelliteLock);
        return showSatellite(**satellite);
    }
    if (auto* tp = std::get_if<TpRecord*>(&record); tp && *tp) {
        std::lock_guard satelliteLock(m_satelliteLock);
        std::lock_guard tpLock(m_tpLock);
        return showTp(**tp);
    }
    switch (kind) {
    case item_kind::Tv:
    case item_kind::Radio:
        return showPrograms(kind, force);
    case item_kind::Satellites:
        return showSatellites();
    case item_kind::Tps:
        return showTps();
    case item_kind::PlayingUnlocked:
    case item_kind::PlayingLocked:
        return showPlaying(kind);
    case item_kind::System:
    case item_kind::Volume:
        return m_host.ShowSystemItem(kind, force);
    default:
        return db_result::Inconsistent;
    }
}

// Satellite, TP and program lists are locked by the caller.
int ListManager::showProgram(ProgramRecord& record, int kind)
{
    ProgramTree& tree = treeOf(kind);
    const bool radio = kind == item_kind::Radio;
    if (liveNode(tree, record.node)) {
        tree.SetText(record.node, record.label);
    } else {
        TpRecord* tp = FindTp(record.TpIndex());
        if (tp == nullptr) {
            RequestMissing(item_kind::Tps, record.TpIndex());
            return db_result::ParentRequested;
        }
        TreeNodeId& tpNode = radio ? tp->radioNode : tp->tvNode;
        if (!liveNode(tree, tpNode)) {
            // The TP is held but not shown yet: show it first, so the
            // program never lands outside its TP.
            const int result = showTp(*tp);
            if (!liveNode(tree, tpNode)) {
                return result == db_result::ParentRequested ? result : db_result::NodeNotMade;
            }
        }
        record.node = tree.Add(tpNode, record.label, TreeNodeData::Program, &record);
        if (record.node == kNoTreeNode) {
            return db_result::NodeNotMade;
        }
    }
    SetNodeIcon(tree, programIconCode(record.ModuleState(), radio), record.node);

    // A line already shown keeps its format; a new one takes the window's.
    const TreeNodeId pidNode = tree.FirstChild(record.node);
    const std::string shown = pidNode != kNoTreeNode ? tree.Text(pidNode) : std::string();
    const int format = shown.size() >= 3 ? PidLineFormat(shown) : m_host.NumberMode();
    if (format != kPidFormatDecimal && format != kPidFormatHex) {
        return db_result::Inconsistent;
    }
    std::string line = BuildPidLine(record.wire.data(), format);
    if (pidNode != kNoTreeNode) {
        tree.SetText(pidNode, std::move(line));
        return db_result::Ok;
    }
    const TreeNodeId added = tree.Add(record.node, std::move(line));
    if (added == kNoTreeNode) {
        return db_result::NodeNotMade;
    }
    SetNodeIcon(tree, kIconPidLine, added);
    return db_result::Ok;
}

// The satellite list is locked by the caller.
int ListManager::showSatellite(SatelliteRecord& record)
{
    const std::string name = record.DisplayName();
    for (const bool radio : {false, true}) {
        ProgramTree& tree = radio ? m_host.RadioTree() : m_host.TvTree();
        TreeNodeId& node = radio ? record.radioNode : record.tvNode;
        if (liveNode(tree, node)) {
            tree.SetText(node, name);
            continue;
        }
        node = tree.Add(kNoTreeNode, name, TreeNodeData::Satellite, &record);
        if (node == kNoTreeNode) {
            return db_result::NodeNotMade;
        }
        SetNodeIcon(tree, kIconSatellite, node);
    }
    return db_result::Ok;
}

// The satellite and TP lists are locked by the caller.
int ListManager::showTp(TpRecord& record)
{
    ProgramTree& tv = m_host.TvTree();
    ProgramTree& radio = m_host.RadioTree();
    SatelliteRecord* satellite = nullptr;
    if (!liveNode(tv, record.tvNode) || !liveNode(radio, record.radioNode)) {
        satellite = FindSatellite(record.SatelliteIndex());
        if (satellite == nullptr) {
            RequestMissing(item_kind::Satellites, record.SatelliteIndex());
            return db_result::ParentRequested;
        }
        if (!liveNode(tv, satellite->tvNode) || !liveNode(radio, satellite->radioNode)) {
            if (showSatellite(*satellite) != db_result::Ok) {
                return db_result::NodeNotMade;
            }
        }
    }
    if (m_host.SignalSourceIsAsi()) {
        record.label = kAsiTpLabel;
    }
    for (const bool inRadio : {false, true}) {
        ProgramTree& tree = inRadio ? radio : tv;
        TreeNodeId& node = inRadio ? record.radioNode : record.tvNode;
        if (liveNode(tree, node)) {
            tree.SetText(node, record.label);
            continue;
        }
        if (satellite == nullptr) {
            return db_result::NodeNotMade; // the tree lost the node meanwhile
        }
        const TreeNodeId parent = inRadio ? satellite->radioNode : satellite->tvNode;
        node = tree.Add(parent, record.label, TreeNodeData::Tp, &record);
        if (node == kNoTreeNode) {
            return db_result::NodeNotMade;
        }
        SetNodeIcon(tree, kIconTp, node);
    }
    return db_result::Ok;
}

void ListManager::refreshNodes(SatelliteRecord& record)
{
    if (liveNode(m_host.TvTree(), record.tvNode) ||
        liveNode(m_host.RadioTree(), record.radioNode)) {
        showSatellite(record);
    }
}

void ListManager::refreshNodes(TpRecord& record)
{
    if (liveNode(m_host.TvTree(), record.tvNode) ||
        liveNode(m_host.RadioTree(), record.radioNode)) {
        showTp(record);
    }
}

int ListManager::showPrograms(int kind, bool force)
{
    std::lock_guard satelliteLock(m_satelliteLock);
    std::lock_guard tpLock(m_tpLock);
    std::lock_guard listLock(ProgramLock(kind));
    ListFlags& flags = m_programFlags[programSlot(kind)];
    auto& list = m_programs[programSlot(kind)];
    if (!force && !(flags.complete && !list.empty())) {
        return db_result::NotReady;
    }
    ProgramTree& tree = treeOf(kind);
    TreeUpdateScope scope(tree);
    for (auto& record : list) {
        if (liveNode(tree, record->node)) {
            continue;
        }
        if (const int result = showProgram(*record, kind); result != db_result::Ok) {
            return result;
        }
    }
    flags.shown = true;
    flags.renumberNeeded = false;
    return db_result::Ok;
}

int ListManager::showSatellites()
{
    std::lock_guard satelliteLock(m_satelliteLock);
    if (!m_satelliteFlags.complete || m_satellites.empty()) {
        return db_result::NotReady;
    }
    TreeUpdateScope tvScope(m_host.TvTree());
    TreeUpdateScope radioScope(m_host.RadioTree());
    for (auto& record : m_satellites) {
        if (liveNode(m_host.TvTree(), record->tvNode) &&
            liveNode(m_host.RadioTree(), record->radioNode)) {
            continue;
        }
        if (const int result = showSatellite(*record); result != db_result::Ok) {
            return result;
        }
    }
    m_satelliteFlags.shown = true;
    m_satelliteFlags.changed = false;
    return db_result::Ok;
}

int ListManager::showTps()
{
    std::lock_guard satelliteLock(m_satelliteLock);
    std::lock_guard tpLock(m_tpLock);
    if (!m_tpFlags.complete || m_tps.empty()) {
        return db_result::NotReady;
    }
    TreeUpdateScope tvScope(m_host.TvTree());
    TreeUpdateScope radioScope(m_host.RadioTree());
    for (auto& record : m_tps) {
        if (liveNode(m_host.TvTree(), record->tvNode) &&
            liveNode(m_host.RadioTree(), record->radioNode)) {
            continue;
        }
        if (const int result = showTp(*record); result != db_result::Ok) {
            return result;
        }
    }
    m_tpFlags.shown = true;
    m_tpFlags.changed = false;
    return db_result::Ok;
}

int ListManager::showPlaying(int kind)
{
    PlayingRecord playing;
    bool changed;
    {
        std::lock_guard lock(m_stateLock);
        playing = m_playing;
        changed = m_playingChanged;
        m_playingChanged = false;
    }
    if (playing.Index() != kNoIndex && m_programFlags[0].complete && m_programFlags[1].complete) {
        const int programKind = playing.Kind();
        if (programKind != item_kind::Tv && programKind != item_kind::Radio) {
            return db_result::Inconsistent;
        }
        std::lock_guard satelliteLock(m_satelliteLock);
        std::lock_guard tpLock(m_tpLock);
        std::lock_guard listLock(ProgramLock(programKind));
        ProgramRecord* record = FindProgram(programKind, playing.Index());
        if (record == nullptr) {
            return db_result::Inconsistent;
        }
        ProgramTree& tree = treeOf(programKind);
        if (liveNode(tree, record->node)) {
            if (programKind == item_kind::Radio) {
                m_host.SetShowRadio();
            }
            TreeUpdateScope scope(tree);
            SetNodeIcon(tree, kind == item_kind::PlayingUnlocked ? kIconPlaying : kIconPlayingGood,
                        record->node);
            const TreeNodeId tpNode = tree.Parent(record->node);
            const TreeNodeId satelliteNode = tree.Parent(tpNode);
            tree.SetExpanded(satelliteNode, true);
            tree.SetExpanded(tpNode, true);
            tree.SetExpanded(record->node, true);
        }
    }
    if (changed) {
        m_host.PlayingChanged();
    }
    return db_result::Ok;
}

std::string ListManager::PlayingText()
{
    const PlayingRecord playing = Playing();
    const int kind = playing.Kind();
    if (playing.Index() == kNoIndex || (kind != item_kind::Tv && kind != item_kind::Radio)) {
        return {};
    }
    std::lock_guard listLock(ProgramLock(kind));
    ProgramRecord* record = FindProgram(kind, playing.Index());
    ProgramTree& tree = treeOf(kind);
    if (record == nullptr || !liveNode(tree, record->node)) {
        return {};
    }
    return GetLangText(kind == item_kind::Tv ? kRowPlayingTv : kRowPlayingRadio) +
           tree.Text(record->node) + " ";
}

bool ListManager::SwitchPidFormat(ProgramTree& tree, int format)
{
    int kind;
    if (&tree == &m_host.TvTree()) {
        kind = item_kind::Tv;
    } else if (&tree == &m_host.RadioTree()) {
        kind = item_kind::Radio;
    } else {
        return false;
    }
    std::lock_guard satelliteLock(m_satelliteLock);
    std::lock_guard tpLock(m_tpLock);
    std::lock_guard listLock(ProgramLock(kind));
    const TreeNode parent = tree.Node(tree.Parent(tree.Selected()));
    if (parent.dataKind != TreeNodeData::Program || parent.data == nullptr) {
        return false;
    }
    const auto* record = static_cast<const ProgramRecord*>(parent.data);
    return vireo::SwitchPidFormat(tree, format, record->wire.data());
}

int DisplayProgramEntry(DatabaseHost& host, ListManager* database, int kind, bool force)
{
    if (database == nullptr) {
        return db_result::NoDatabase;
    }
    if (kind < item_kind::Tv || kind > item_kind::Volume) {
        return db_result::Ok;
    }
    if (!host.ShouldDisplay(kind)) {
        return db_result::NotNow;
    }
    database->ShowItem(kind, {}, force);
    return db_result::Ok;
}

} // namespace vireo
