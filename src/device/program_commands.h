#pragma once

#include "database/program_tree.h"
#include "database/records.h"

#include <array>
#include <optional>
#include <set>
#include <string>

namespace vireo {

class DatabaseContent;
class ListManager;

// What the program trees' popup menu offers for the node the operator
// right-clicked, worked out from the tree models and the database alone.
struct ProgramPopup
{
    std::set<std::string> visible;            // item names: "P_Play", "S_Scan", ...
    std::array<std::string, 3> audioCaptions; // P_Audio1..3 (GBK), empty when hidden
    int checkedAudio = -1;                    // 0..2, or -1
    bool allAudioChecked = false;             // P_Audio_All
    std::optional<bool> decimalChecked;       // C_Dec_show (true) / C_Hex_show (false)
    std::string logLine; // "label: current audio pid wrong~Nd", written without prefix

    bool Shows(const std::string& item) const { return visible.count(item) != 0; }
};

// The popup for `node` of the TV (radioTree false) or radio tree.
ProgramPopup ComputeProgramPopup(DatabaseContent& content, bool radioTree, TreeNodeId node);

// The commands of the popup. Each acts on the node selected in the given tree
// and returns the confirmation question to ask first (empty: none), or runs
// the command. Texts are GBK.
class ProgramCommands
{
public:
    explicit ProgramCommands(DatabaseContent& content) : m_content(content) {}

    void Play(bool radioTree);
    void Renew(bool radioTree);
    // Module: 2 up, 1 down, 0 off.
    void MultiDescramble(bool radioTree, int module);
    // Audio choice 0-2, or the all-audio switch: a = 251 when it is on, else 250.
    void SelectAudio(bool radioTree, int choice);
    // Window message 2: the node at absolute position |position| of the tree
    // named by the sign (positive TV, negative radio; 0 sends nothing).
    void SelectAudioAt(long position, int choice);
    void StopScan();
    void ScanSatellite(bool radioTree);
    void ScanTp(bool radioTree);
    void SwitchPidFormat(bool radioTree, int format);

    // Copies, read under the list locks, of the selected satellite or TP for
    // the dialogs that open on them ("LNB Set", "Add TP", "Modify TP").
    std::optional<SatelliteRecord> SelectedSatellite(bool radioTree);
    std::optional<TpRecord> SelectedTp(bool radioTree);

    // Deletes: the question first, then the command once confirmed.
    std::string DeleteProgramQuestion(bool radioTree);
    void DeleteProgram(bool radioTree);
    std::string DeleteSatelliteQuestion(bool radioTree);
    void DeleteSatellite(bool radioTree);
    std::string DeleteTpQuestion(bool radioTree);
    void DeleteTp(bool radioTree);

private:
    ProgramTree& tree(bool radioTree);
    TreeNode selected(bool radioTree);

    DatabaseContent& m_content;
};

} // namespace vireo
