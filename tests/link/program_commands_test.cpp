#include "database/list_manager.h"
#include "device/program_commands.h"
#include "link/message_code.h"
#include "live_device.h"
#include "sim/database_generator.h"
#include "sim/database_json.h"
#include "snapshot/device_dump.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace vireo;
using namespace vireo::test;
using namespace std::chrono_literals;

namespace {

constexpr LinkTiming kFast{std::chrono::microseconds(20)};

// A device refreshed from a simulator whose first TV program has audio choice
// 0xF1 and whose second sits on the upper descrambling module.
struct Device : LiveDevice
{
    explicit Device(const std::string& address)
        : LiveDevice(address, "Cmd", makeDatabase(), sim::QuietOptions(), kFast),
          commands(core.Content())
    {
        EXPECT_TRUE(started);
        EXPECT_TRUE(WaitUntil([&] {
            const auto db = core.Database();
            return db && db->IsComplete(item_kind::Tv) && db->IsShown(item_kind::Tv);
        }));
    }

    static sim::DeviceDatabase makeDatabase()
    {
        sim::DeviceDatabase db = sim::GenerateDatabase({2, 3, 6, 2}, nullptr).value();
        db.tv[0].audioChoice = 0xF1;
        db.tv[1].module = 2;
        db.radio[0].module = 0;
        return db;
    }
    // The node of the first program of `kind` and its satellite and TP.
    TreeNodeId programNode(int kind, int n = 0)
    {
        const auto db = core.Database();
        std::lock_guard lock(db->ProgramLock(kind));
        return db->Programs(kind)[n]->node;
    }

    ProgramCommands commands;
};

} // namespace

TEST(ProgramPopup, ItemsFollowTheNodeTheScanAndTheSignalSource)
{
    Device d("127.0.65.1");
    ProgramTree& tv = d.core.TvTree();
    const TreeNodeId program = d.programNode(item_kind::Tv);
    const TreeNodeId tp = tv.Parent(program);
    const TreeNodeId satellite = tv.Parent(tp);
    const TreeNodeId pidLine = tv.FirstChild(program);

    auto popup = ComputeProgramPopup(d.core.Content(), false, satellite);
    EXPECT_EQ(popup.visible,
              (std::set<std::string>{"S_Scan", "S_Set", "S_Add", "S_Delete", "T_Add"}));
    popup = ComputeProgramPopup(d.core.Content(), false, tp);
    EXPECT_EQ(popup.visible, (std::set<std::string>{"T_Delete", "T_Modify", "T_ScanTP"}));

    // Audio choice 0xF1: audio 2 and "all" are checked, captions in the line's format.
    popup = ComputeProgramPopup(d.core.Content(), false, program);
    EXPECT_TRUE(popup.Shows("P_Play") && popup.Shows("P_Delete") && popup.Shows("P_Multi"));
    EXPECT_TRUE(popup.Shows("P_Audio") && popup.Shows("P_Audio_All"));
    EXPECT_EQ(popup.checkedAudio, 1);
    EXPECT_TRUE(popup.allAudioChecked);
    ASSERT_FALSE(popup.audioCaptions[0].empty());
    EXPECT_EQ(popup.audioCaptions[0].back(), ' ');
    EXPECT_EQ(popup.audioCaptions[0][popup.audioCaptions[0].size() - 3], 'h');

    // The same captions in decimal once the PID line is decimal.
    tv.SetSelected(pidLine);
    d.commands.SwitchPidFormat(false, 1);
    popup = ComputeProgramPopup(d.core.Content(), false, program);
    EXPECT_EQ(popup.audioCaptions[0][popup.audioCaptions[0].size() - 3], 'd');
    popup = ComputeProgramPopup(d.core.Content(), false, pidLine);
    EXPECT_EQ(popup.visible, (std::set<std::string>{"C_Hex_show", "C_Dec_show"}));
    EXPECT_EQ(popup.decimalChecked, true);

    // A program on the upper module offers Un-MultiDescramble.
    popup = ComputeProgramPopup(d.core.Content(), false, d.programNode(item_kind::Tv, 1));
    EXPECT_TRUE(popup.Shows("P_DeMulti"));
    EXPECT_FALSE(popup.Shows("P_Multi"));
    popup = ComputeProgramPopup(d.core.Content(), true, d.programNode(item_kind::Radio));
    EXPECT_TRUE(popup.Shows("P_Multi"));

    // ASI: a transponder offers only Scan TP, a satellite nothing.
    d.core.Content().signalSource = DatabaseContent::kSourceAsi;
    EXPECT_EQ(ComputeProgramPopup(d.core.Content(), false, tp).visible,
              (std::set<std::string>{"T_ScanTP"}));
    EXPECT_TRUE(ComputeProgramPopup(d.core.Content(), false, satellite).visible.empty());
    d.core.Content().signalSource = DatabaseContent::kSourceSatellite;

    // While a scan runs, only Stop Scan.
    d.core.Session().scanState = 0;
    EXPECT_EQ(ComputeProgramPopup(d.core.Content(), false, program).visible,
              (std::set<std::string>{"ST_Stop"}));
    d.core.Session().scanState = DeviceSession::kNoScan;
}

TEST(ProgramCommands, RequestsCarryTheirRecordsAndArguments)
{
    Device d("127.0.65.2");
    ProgramTree& tv = d.core.TvTree();
    const TreeNodeId program = d.programNode(item_kind::Tv);
    const TreeNodeId satellite = tv.Parent(tv.Parent(program));

    // "All audio" while it is on sends a = 251: byte 18 0xF1 becomes 0x01.
    tv.SetSelected(program);
    d.commands.SelectAudio(false, 251);
    ASSERT_TRUE(d.irb.WaitForReceived(2, 5s));
    ASSERT_TRUE(WaitUntil([&] { return !d.framesOf(msg::SelectAudio).empty(); }));
    EXPECT_EQ(d.framesOf(msg::SelectAudio)[0][3 + 18], 0x01);

    // Play reads the program number from the label: P 001 plays index 0.
    tv.SetSelected(program);
    d.commands.Play(false);
    ASSERT_TRUE(WaitUntil([&] { return !d.framesOf(msg::PlayProgram).empty(); }));
    const auto play = d.framesOf(msg::PlayProgram).back();
    EXPECT_EQ(play[3], 0);
    EXPECT_EQ(play[3 + 6], 1);

    // A satellite scan covers the satellite's transponder nodes.
    ASSERT_TRUE(WaitUntil([&] { return d.core.Session().CurrentCode() == 0; }));
    tv.SetSelected(satellite);
    d.commands.ScanSatellite(false);
    EXPECT_EQ(d.core.Session().scanCount, static_cast<int>(tv.Children(satellite).size()));
    ASSERT_TRUE(WaitUntil([&] { return !d.framesOf(msg::ScanSatellite).empty(); }));
    EXPECT_EQ(d.framesOf(msg::ScanSatellite)[0][2], 10); // 8-byte payload
}

TEST(ProgramCommands, DeleteSatelliteRemovesEverythingBelowItFromBothTrees)
{
    Device d("127.0.65.3");
    ProgramTree& tv = d.core.TvTree();
    const TreeNodeId satellite = tv.Parent(tv.Parent(d.programNode(item_kind::Tv)));
    tv.SetSelected(satellite);
    const std::string question = d.commands.DeleteSatelliteQuestion(false);
    EXPECT_EQ(question.rfind("Delete Satellite: ", 0), 0u);
    d.commands.DeleteSatellite(false);
    // Until the answer the popup offers nothing.
    ASSERT_TRUE(d.pane.WaitFor("Delete SatelliteOK"));
    ASSERT_TRUE(WaitUntil([&] { return d.core.Session().CurrentCode() == 0; }));
    // The lists match the device's (which program plays is the device's to
    // report in its next answer).
    const auto mine = nlohmann::json::parse(DatabaseJson(*d.core.Database()));
    const auto device = nlohmann::json::parse(sim::DatabaseToJson(d.irb.Database()));
    for (const char* list : {"satellites", "transponders", "tv", "radio"}) {
        EXPECT_EQ(mine[list], device[list]) << list;
    }
    EXPECT_FALSE(tv.Exists(satellite));
}

TEST(ProgramCommands, ScanOffersOnlyStopScanAndAFullRefreshFollowsItsEnd)
{
    Device d("127.0.65.4");
    sim::FaultOptions faults;
    faults.scanMs = 300;
    d.irb.SetFaults(faults);
    ProgramTree& tv = d.core.TvTree();
    const TreeNodeId satellite = tv.Children(kNoTreeNode).front();
    tv.SetSelected(satellite);
    d.commands.ScanSatellite(false);
    EXPECT_EQ(d.core.Session().scanState, 0);
    EXPECT_EQ(ComputeProgramPopup(d.core.Content(), false, satellite).visible,
              (std::set<std::string>{"ST_Stop"}));

    ASSERT_TRUE(d.pane.WaitFor("Scan complete"));
    ASSERT_TRUE(d.view.WaitFor("postRefresh 1")); // the window runs the refresh
    d.core.Session().RefreshIrd();
    ASSERT_TRUE(WaitUntil([&] {
        const auto db = d.core.Database();
        return d.core.Loaded() && db && db->IsComplete(item_kind::Tv) &&
               d.core.Session().CurrentCode() == 0;
    }));
    EXPECT_EQ(d.core.Session().scanState, DeviceSession::kNoScan);
    EXPECT_EQ(DatabaseJson(*d.core.Database()), sim::DatabaseToJson(d.irb.Database()));
    const auto db = d.core.Database();
    std::lock_guard lock(db->ProgramLock(item_kind::Tv));
    EXPECT_EQ(db->Programs(item_kind::Tv).back()->name, "Scan Found 7");
}

TEST(ProgramCommands, StopScanEndsALongScanAtOnce)
{
    Device d("127.0.65.5");
    sim::FaultOptions faults;
    faults.scanMs = 60000;
    d.irb.SetFaults(faults);
    ProgramTree& tv = d.core.TvTree();
    const TreeNodeId tp = tv.Children(tv.Children(kNoTreeNode).front()).front();
    tv.SetSelected(tp);
    d.commands.ScanTp(false);
    EXPECT_EQ(d.core.Session().scanCount, 1);
    ASSERT_TRUE(WaitUntil([&] { return !d.framesOf(msg::ScanTp).empty(); }));
    d.commands.StopScan();
    ASSERT_TRUE(d.pane.WaitFor("Stop Scan"));
    ASSERT_TRUE(d.pane.WaitFor("Scan complete", 1, 5s)); // not after the 60 s scan
    EXPECT_TRUE(d.core.Session().stopScanSent);
    EXPECT_EQ(d.irb.Database().tv.size(), 6u); // stopped before it found anything
}

TEST(ProgramCommands, ProgramCommandsKeepTheListsInStepWithTheDevice)
{
    Device d("127.0.65.6");
    auto sameLists = [&] {
        const auto mine = nlohmann::json::parse(DatabaseJson(*d.core.Database()));
        const auto device = nlohmann::json::parse(sim::DatabaseToJson(d.irb.Database()));
        for (const char* list : {"satellites", "transponders", "tv", "radio"}) {
            if (mine[list] != device[list]) {
                return false;
            }
        }
        return true;
    };
    ProgramTree& tv = d.core.TvTree();
    auto idle = [&] { return WaitUntil([&] { return d.core.Session().CurrentCode() == 0; }); };

    // Module down: the record comes back with module 1 and its node's image.
    tv.SetSelected(d.programNode(item_kind::Tv, 2));
    d.commands.MultiDescramble(false, 1);
    ASSERT_TRUE(WaitUntil([&] { return d.irb.Database().tv[2].module == 1; }));
    ASSERT_TRUE(idle());
    ASSERT_TRUE(WaitUntil(sameLists));
    EXPECT_EQ(tv.Node(d.programNode(item_kind::Tv, 2)).image, 8);

    // Delete program 1 of 6: the rest are renumbered, "P 002:" moves down.
    tv.SetSelected(d.programNode(item_kind::Tv, 1));
    EXPECT_EQ(d.commands.DeleteProgramQuestion(false).rfind("Delete program: P 002:", 0), 0u);
    d.commands.DeleteProgram(false);
    ASSERT_TRUE(d.pane.WaitFor("Delete program: OK"));
    ASSERT_TRUE(idle());
    EXPECT_TRUE(sameLists());
    EXPECT_EQ(tv.Text(d.programNode(item_kind::Tv, 1)).rfind("P 002:", 0), 0u);

    // No CI card: the device refuses multi-descrambling.
    sim::FaultOptions faults;
    faults.noCiCard = true;
    d.irb.SetFaults(faults);
    tv.SetSelected(d.programNode(item_kind::Tv, 0));
    d.commands.MultiDescramble(false, 2);
    ASSERT_TRUE(d.pane.WaitFor("No CI Card has been inserted!"));
}

// However a delete ends, the program menus come back: the device answers
// with an error (or with 29, which refreshes), never answers, the operator
// renews the lists meanwhile, or the request is never queued (a scan is in
// flight, the pool refuses).
TEST(DeletePending, EveryEndOfADeleteGivesTheMenusBack)
{
    enum class Ends { Answer, Silence, Renew, ScanInFlight, PoolRefuses };
    enum Target { Program, Tp, Satellite };
    const struct
    {
        const char* name;
        Ends ends;
        Target target;
        uint8_t status; // the device's answer, for Ends::Answer
    } table[] = {
        {"TP error", Ends::Answer, Tp, 5},
        {"satellite error", Ends::Answer, Satellite, 3},
        {"program not found", Ends::Answer, Program, 29},
        {"program error", Ends::Answer, Program, 5},
        {"time-outs", Ends::Silence, Tp, 0},
        {"renewed meanwhile", Ends::Renew, Program, 0},
        {"scan in flight", Ends::ScanInFlight, Satellite, 0},
        {"pool refuses", Ends::PoolRefuses, Program, 0},
    };
    int n = 0;
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        Device d("127.0.130." + std::to_string(10 + n++));
        ProgramTree& tv = d.core.TvTree();
        // The target's node in the lists of now (a refresh makes new nodes).
        auto target = [&] {
            const auto db = d.core.Database();
            if (!db) {
                return kNoTreeNode;
            }
            std::lock_guard lock(db->ProgramLock(item_kind::Tv));
            if (db->Programs(item_kind::Tv).empty()) {
                return kNoTreeNode;
            }
            const TreeNodeId program = db->Programs(item_kind::Tv)[0]->node;
            return row.target == Program ? program
                   : row.target == Tp    ? tv.Parent(program)
                                         : tv.Parent(tv.Parent(program));
        };
        auto menuOffered = [&] {
            const TreeNodeId node = target();
            return node != kNoTreeNode &&
                   !ComputeProgramPopup(d.core.Content(), false, node).visible.empty();
        };
        ASSERT_TRUE(menuOffered());

        sim::FaultOptions faults;
        if (row.ends == Ends::Answer) {
            const uint8_t code = row.target == Program ? msg::DeleteProgram
                                 : row.target == Tp    ? msg::DeleteTp
                                                       : msg::DeleteSatellite;
            faults.statusOverrides[code] = row.status;
        } else if (row.ends == Ends::Silence || row.ends == Ends::Renew) {
            faults.silent = true;
        } else if (row.ends == Ends::ScanInFlight) {
            faults.scanMs = 60000;
        }
        d.irb.SetFaults(faults);
        if (row.ends == Ends::ScanInFlight) {
            d.core.Session().SendRequest(msg::ScanTp, 0, 0, std::vector<uint8_t>(12, 0));
            ASSERT_TRUE(WaitUntil([&] { return d.core.Session().CurrentCode() == msg::ScanTp; }));
        }
        if (row.ends == Ends::PoolRefuses) {
            d.context.pool.SetShuttingDown(true);
        }

        ComputeProgramPopup(d.core.Content(), false, target()); // selects the node
        switch (row.target) {
        case Program:
            d.commands.DeleteProgram(false);
            break;
        case Tp:
            d.commands.DeleteTp(false);
            break;
        case Satellite:
            d.commands.DeleteSatellite(false);
            break;
        }
        d.context.pool.SetShuttingDown(false);
        if (row.ends == Ends::Silence || row.ends == Ends::Renew) {
            EXPECT_FALSE(menuOffered()); // the delete awaits its answer
        }
        if (row.ends == Ends::Renew) {
            d.irb.SetFaults({});
            d.core.Session().RefreshIrd();
            EXPECT_FALSE(d.core.Session().deletePending); // before the new lists come in
        }
        EXPECT_TRUE(WaitUntil(menuOffered));
        if (row.ends == Ends::ScanInFlight) {
            EXPECT_TRUE(d.framesOf(msg::DeleteSatellite).empty());
        }
    }
}

TEST(ProgramCommands, ANodeWhoseRecordIsNotInTheDatabaseIsNeverRead)
{
    // A node still carrying a record of a database that a refresh replaced:
    // no command reads it or sends it, whatever the tree says.
    Device d("127.0.140.3");
    ProgramTree& tv = d.core.TvTree();
    const TreeNodeId program = d.programNode(item_kind::Tv);
    const TreeNodeId tp = tv.Parent(program);
    const TreeNodeId satellite = tv.Parent(tp);
    ProgramRecord stale;
    SatelliteRecord staleSatellite;
    TpRecord staleTp;
    {
        const auto db = d.core.Database();
        std::lock_guard lock(db->ProgramLock(item_kind::Tv));
        stale = *db->Programs(item_kind::Tv)[0];
        staleSatellite = *db->Satellites()[0];
        staleTp = *db->Tps()[0];
    }
    const TreeNodeId ghost = tv.Add(tp, "P 001:ghost", TreeNodeData::Program, &stale);
    tv.Add(ghost, "VID PID:200h; AUD PID:201h; ");
    const TreeNodeId ghostTp = tv.Add(satellite, "1 H 1", TreeNodeData::Tp, &staleTp);
    const TreeNodeId ghostSatellite =
        tv.Add(kNoTreeNode, "ghost", TreeNodeData::Satellite, &staleSatellite);
    tv.SetSelected(ghost);
    d.commands.Renew(false);
    d.commands.MultiDescramble(false, 2);
    d.commands.SelectAudio(false, 1);
    d.commands.DeleteProgram(false);
    EXPECT_EQ(d.commands.DeleteProgramQuestion(false), "");
    EXPECT_TRUE(ComputeProgramPopup(d.core.Content(), false, ghost).audioCaptions[0].empty());
    tv.SetSelected(ghostTp);
    d.commands.ScanTp(false);
    EXPECT_FALSE(d.commands.SelectedTp(false));
    EXPECT_EQ(d.commands.DeleteTpQuestion(false), "");
    tv.SetSelected(ghostSatellite);
    EXPECT_FALSE(d.commands.SelectedSatellite(false));
    EXPECT_EQ(d.commands.DeleteSatelliteQuestion(false), "");
    EXPECT_EQ(d.core.Session().scanState, DeviceSession::kNoScan);

    // The live record next to it works as ever, and is all the device gets.
    tv.SetSelected(program);
    d.commands.Renew(false);
    ASSERT_TRUE(WaitUntil([&] { return !d.framesOf(msg::QueryProgram).empty(); }));
    for (uint8_t code : {msg::MultiDescramble, msg::SelectAudio, msg::DeleteProgram, msg::ScanTp}) {
        EXPECT_TRUE(d.framesOf(code).empty()) << int(code);
    }
    EXPECT_EQ(d.framesOf(msg::QueryProgram).size(), 1u);
}
