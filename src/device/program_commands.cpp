#include "device/program_commands.h"

#include "database/list_manager.h"
#include "database/pid_line.h"
#include "device/database_content.h"
#include "lang/language_table.h"
#include "link/device_session.h"
#include "link/message_code.h"

#include <cstdlib>
#include <optional>
#include <type_traits>
#include <vector>

namespace vireo {

namespace {

constexpr int kRowDeleteSatellite = 35; // "Delete Satellite: "
constexpr int kRowDeleteTp = 36;        // "Delete TP: "
constexpr int kRowDeleteProgram = 37;   // "Delete program: "
constexpr int kRowPlayProgram = 73;
constexpr int kRowDoesNotExist = 169; // " doesn't exist!"
constexpr int kRowTv = 195;           // " TV: "
constexpr int kRowRadio = 196;        // " Radio: "
constexpr int kAsiLevelShift = 5;

int kindOf(bool radioTree)
{
    return radioTree ? item_kind::Radio : item_kind::Tv;
}

// A copy of the record a node carries, read only while `db` still holds it
// in its list: the node may carry a record of a database a refresh has
// replaced (and freed). `kind` names the program list.
template <class Record>
std::optional<Record> heldCopy(ListManager& db, const void* data, int kind = 0)
{
    const auto* record = static_cast<const Record*>(data);
    if constexpr (std::is_same_v<Record, ProgramRecord>) {
        std::lock_guard lock(db.ProgramLock(kind));
        return db.Holds(kind, record) ? std::optional<Record>(*record) : std::nullopt;
    } else {
        constexpr bool satellite = std::is_same_v<Record, SatelliteRecord>;
        std::lock_guard lock(satellite ? db.SatelliteLock() : db.TpLock());
        return db.Holds(record) ? std::optional<Record>(*record) : std::nullopt;
    }
}

// The format of a PID line read back from its text: 1 decimal, 2 hexadecimal.
int audioCaptionFormat(const std::string& pidLine)
{
    const char c = pidLine[pidLine.size() - 3];
    return c == 'd' || c == 'D' ? kPidFormatDecimal : kPidFormatHex;
}

} // namespace

ProgramPopup ComputeProgramPopup(DatabaseContent& content, bool radioTree, TreeNodeId nodeId)
{
    ProgramPopup popup;
    ProgramTree& tree = radioTree ? content.RadioTree() : content.TvTree();
    DeviceSession& session = content.Session();
    tree.SetSelected(nodeId);
    if (session.deletePending) {
        return popup; // a delete awaits its answer: nothing is offered
    }
    if (session.scanState != DeviceSession::kNoScan) {
        popup.visible = {"ST_Stop"};
        return popup;
    }
    const TreeNode node = tree.Node(nodeId);
    if (node.id == kNoTreeNode) {
        return popup;
    }
    const int level = tree.Level(nodeId) + (content.SignalSourceIsAsi() ? kAsiLevelShift : 0);
    switch (level) {
    case 0:
        popup.visible = {"S_Scan", "S_Set", "S_Add", "S_Delete", "T_Add"};
        return popup;
    case 1:
        popup.visible = {"T_Delete", "T_Modify", "T_ScanTP"};
        return popup;
    case 1 + kAsiLevelShift:
        popup.visible = {"T_ScanTP"};
        return popup;
    case 2:
    case 2 + kAsiLevelShift: {
        popup.visible = {"P_Renew", "P_Play", "P_Delete"};
        const int plain = radioTree ? kProgImageRadioProgram : kProgImageTvProgram;
        popup.visible.insert(node.image == plain ? "P_Multi" : "P_DeMulti");
        const std::shared_ptr<ListManager> db = content.Database();
        if (node.dataKind != TreeNodeData::Program || node.data == nullptr || !db) {
            return popup;
        }
        const std::string pidLine = tree.Text(tree.FirstChild(nodeId));
        if (pidLine.size() < 3) {
            return popup;
        }
        popup.visible.insert("P_Audio");
        popup.visible.insert("P_Audio_All");
        const int format = audioCaptionFormat(pidLine);
        std::lock_guard lock(db->ProgramLock(kindOf(radioTree)));
        // The record is read only while it is held: a refresh may have put a
        // new database in place and freed the node's old one.
        const auto* record = static_cast<const ProgramRecord*>(node.data);
        if (!db->Holds(kindOf(radioTree), record)) {
            return popup;
        }
        for (int n = 0; n < 3; ++n) {
            const uint16_t audio = record->Audio(n);
            if (PidPresent(audio)) {
                popup.audioCaptions[n] = FormatPid(format, audio >> 3, audio & 0x07);
                popup.visible.insert("P_Audio" + std::to_string(n + 1));
            }
        }
        const int choice = record->AudioChoice();
        if ((choice & 0x0F) <= 2) {
            popup.checkedAudio = choice & 0x0F;
        } else {
            popup.logLine =
                record->label + ": current audio pid wrong~" + std::to_string(choice) + "d";
        }
        popup.allAudioChecked = choice >= 0xF0;
        return popup;
    }
    case 3:
    case 3 + kAsiLevelShift:
        popup.visible = {"C_Hex_show", "C_Dec_show"};
        if (node.text.size() >= 3) {
            const char c = node.text[node.text.size() - 3];
            if (c == 'd' || c == 'D') {
                popup.decimalChecked = true;
            } else if (c == 'h' || c == 'H') {
                popup.decimalChecked = false;
            }
        }
        return popup;
    default:
        return popup; // a satellite in ASI mode offers nothing
    }
}

ProgramTree& ProgramCommands::tree(bool radioTree)
{
    return radioTree ? m_content.RadioTree() : m_content.TvTree();
}

TreeNode ProgramCommands::selected(bool radioTree)
{
    return tree(radioTree).Node(tree(radioTree).Selected());
}

void ProgramCommands::Play(bool radioTree)
{
    const TreeNode node = selected(radioTree);
    const std::shared_ptr<ListManager> db = m_content.Database();
    if (node.id == kNoTreeNode || !db) {
        return;
    }
    // The label's three digits (from position 2) name the program: index + 1.
    const int number = node.text.size() >= 5 ? std::atoi(node.text.substr(2, 3).c_str()) : 0;
    const int index = number - 1;
    const int kind = kindOf(radioTree);
    bool found;
    {
        std::lock_guard lock(db->ProgramLock(kind));
        found = index >= 0 && db->FindProgram(kind, index) != nullptr;
    }
    if (!found) {
        m_content.Log(node.text + GetLangText(kRowDoesNotExist));
        return;
    }
    m_content.SendRequest(msg::PlayProgram, index, kind, {});
    m_content.Log(GetLangText(kRowPlayProgram) + GetLangText(radioTree ? kRowRadio : kRowTv) +
                  node.text);
}

void ProgramCommands::Renew(bool radioTree)
{
    const TreeNode node = selected(radioTree);
    const std::shared_ptr<ListManager> db = m_content.Database();
    if (node.dataKind != TreeNodeData::Program || !db) {
        return;
    }
    if (const auto record = heldCopy<ProgramRecord>(*db, node.data, kindOf(radioTree))) {
        m_content.SendRequest(msg::QueryProgram, record->Index(), kindOf(radioTree), {});
    }
}

void ProgramCommands::MultiDescramble(bool radioTree, int module)
{
    const TreeNode node = selected(radioTree);
    const std::shared_ptr<ListManager> db = m_content.Database();
    if (node.dataKind != TreeNodeData::Program || !db) {
        return;
    }
    if (const auto record = heldCopy<ProgramRecord>(*db, node.data, kindOf(radioTree))) {
        m_content.SendRequest(msg::MultiDescramble, module, 0, record->wire);
    }
}

void ProgramCommands::SelectAudio(bool radioTree, int choice)
{
    const long position = tree(radioTree).AbsoluteIndex(tree(radioTree).Selected());
    if (position <= 0) {
        return;
    }
    SelectAudioAt(radioTree ? -position : position, choice);
}

void ProgramCommands::SelectAudioAt(long position, int choice)
{
    if (position == 0) {
        return;
    }
    const bool radioTree = position < 0;
    ProgramTree& t = tree(radioTree);
    const TreeNode node = t.Node(t.NodeAtAbsoluteIndex(std::labs(position)));
    const std::shared_ptr<ListManager> db = m_content.Database();
    if (node.dataKind != TreeNodeData::Program || !db) {
        return;
    }
    if (const auto record = heldCopy<ProgramRecord>(*db, node.data, kindOf(radioTree))) {
        m_content.SendRequest(msg::SelectAudio, choice, 0, record->wire);
    }
}

void ProgramCommands::StopScan()
{
    m_content.SendRequest(msg::StopScan, 0, 0, {});
}

void ProgramCommands::ScanSatellite(bool radioTree)
{
    const TreeNode node = selected(radioTree);
    const std::shared_ptr<ListManager> db = m_content.Database();
    if (node.dataKind != TreeNodeData::Satellite || tree(radioTree).Level(node.id) != 0 || !db) {
        return;
    }
    const auto record = heldCopy<SatelliteRecord>(*db, node.data);
    if (!record) {
        return;
    }
    DeviceSession& session = m_content.Session();
    session.scanCount = static_cast<int>(node.children.size());
    session.scanState = 0;
    m_content.SendRequest(msg::ScanSatellite, 0, 0, std::span(record->wire.data(), 8));
}

void ProgramCommands::ScanTp(bool radioTree)
{
    const TreeNode node = selected(radioTree);
    const std::shared_ptr<ListManager> db = m_content.Database();
    if (node.dataKind != TreeNodeData::Tp || tree(radioTree).Level(node.id) != 1 || !db) {
        return;
    }
    const auto record = heldCopy<TpRecord>(*db, node.data);
    if (!record) {
        return;
    }
    DeviceSession& session = m_content.Session();
    session.scanCount = 1;
    session.scanState = 1;
    m_content.SendRequest(msg::ScanTp, 0, 0, record->wire);
}

void ProgramCommands::SwitchPidFormat(bool radioTree, int format)
{
    if (const std::shared_ptr<ListManager> db = m_content.Database()) {
        db->SwitchPidFormat(tree(radioTree), format);
    }
}

std::optional<SatelliteRecord> ProgramCommands::SelectedSatellite(bool radioTree)
{
    const TreeNode node = selected(radioTree);
    const std::shared_ptr<ListManager> db = m_content.Database();
    if (node.dataKind != TreeNodeData::Satellite || !db) {
        return std::nullopt;
    }
    return heldCopy<SatelliteRecord>(*db, node.data);
}

std::optional<TpRecord> ProgramCommands::SelectedTp(bool radioTree)
{
    const TreeNode node = selected(radioTree);
    const std::shared_ptr<ListManager> db = m_content.Database();
    if (node.dataKind != TreeNodeData::Tp || !db) {
        return std::nullopt;
    }
    return heldCopy<TpRecord>(*db, node.data);
}

std::string ProgramCommands::DeleteProgramQuestion(bool radioTree)
{
    const TreeNode node = selected(radioTree);
    const std::shared_ptr<ListManager> db = m_content.Database();
    if (node.dataKind != TreeNodeData::Program || !db) {
        return {};
    }
    const auto record = heldCopy<ProgramRecord>(*db, node.data, kindOf(radioTree));
    return record ? GetLangText(kRowDeleteProgram) + record->label : std::string();
}

void ProgramCommands::DeleteProgram(bool radioTree)
{
    const TreeNode node = selected(radioTree);
    const std::shared_ptr<ListManager> db = m_content.Database();
    DeviceSession& session = m_content.Session();
    if (node.dataKind != TreeNodeData::Program || !db || !session.Queue()) {
        return;
    }
    std::array<uint8_t, ProgramRecord::kWireSize> wire;
    std::string question;
    {
        std::lock_guard lock(db->ProgramLock(kindOf(radioTree)));
        auto* record = static_cast<ProgramRecord*>(node.data);
        if (!db->Holds(kindOf(radioTree), record)) {
            return;
        }
        wire = record->wire;
        question = GetLangText(kRowDeleteProgram) + record->label;
        // Marked before the request goes out, so a quick answer finds it.
        db->SetPendingProgram(record);
    }
    session.deletePending = true;
    m_content.Log(question);
    m_content.SendRequest(msg::DeleteProgram, 0, 0, wire);
}

std::string ProgramCommands::DeleteSatelliteQuestion(bool radioTree)
{
    const TreeNode node = selected(radioTree);
    const std::shared_ptr<ListManager> db = m_content.Database();
    if (node.dataKind != TreeNodeData::Satellite || !db) {
        return {};
    }
    const auto record = heldCopy<SatelliteRecord>(*db, node.data);
    return record ? GetLangText(kRowDeleteSatellite) + record->DisplayName() : std::string();
}

void ProgramCommands::DeleteSatellite(bool radioTree)
{
    const TreeNode node = selected(radioTree);
    const std::shared_ptr<ListManager> db = m_content.Database();
    DeviceSession& session = m_content.Session();
    if (node.dataKind != TreeNodeData::Satellite || !db || !session.Queue()) {
        return;
    }
    std::array<uint8_t, SatelliteRecord::kWireSize> wire;
    std::string question;
    {
        std::lock_guard lock(db->SatelliteLock());
        auto* record = static_cast<SatelliteRecord*>(node.data);
        if (!db->Holds(record)) {
            return;
        }
        wire = record->wire;
        question = GetLangText(kRowDeleteSatellite) + record->DisplayName();
        db->SetPendingSatellite(record);
    }
    session.deletePending = true;
    m_content.LogRaw(question);
    m_content.SendRequest(msg::DeleteSatellite, 0, 0, std::span(wire.data(), 8));
}

std::string ProgramCommands::DeleteTpQuestion(bool radioTree)
{
    const TreeNode node = selected(radioTree);
    const std::shared_ptr<ListManager> db = m_content.Database();
    if (node.dataKind != TreeNodeData::Tp || !db) {
        return {};
    }
    const auto record = heldCopy<TpRecord>(*db, node.data);
    return record ? GetLangText(kRowDeleteTp) + record->label : std::string();
}

void ProgramCommands::DeleteTp(bool radioTree)
{
    const TreeNode node = selected(radioTree);
    const std::shared_ptr<ListManager> db = m_content.Database();
    DeviceSession& session = m_content.Session();
    if (node.dataKind != TreeNodeData::Tp || !db || !session.Queue()) {
        return;
    }
    std::array<uint8_t, TpRecord::kWireSize> wire;
    std::string question;
    {
        std::lock_guard lock(db->TpLock());
        auto* record = static_cast<TpRecord*>(node.data);
        if (!db->Holds(record)) {
            return;
        }
        wire = record->wire;
        question = GetLangText(kRowDeleteTp) + record->label;
        db->SetPendingTp(record);
    }
    session.deletePending = true;
    m_content.LogRaw(question);
    m_content.SendRequest(msg::DeleteTp, 0, 0, wire);
}

} // namespace vireo
