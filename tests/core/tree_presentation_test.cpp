#include "core/fake_database_host.h"
#include "database/list_manager.h"
#include "database/pid_line.h"
#include "link/message_code.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace vireo;
using namespace vireo::testing;
using Request = FakeDatabaseHost::Request;

namespace {

class TreePresentationTest : public ::testing::Test
{
protected:
    void Sat(uint8_t index, uint8_t previous, uint8_t next, const std::string& name = "Sat")
    {
        const auto payload = SatellitePayload(index, previous, next, name);
        db.LoadSatellite(payload.data(), payload.size());
    }
    void Tp(uint8_t index, uint8_t satellite, uint8_t previous, uint8_t next)
    {
        const auto payload = TpPayload(index, satellite, previous, next);
        db.LoadTp(payload.data(), payload.size());
    }
    int Merge(const ProgramFields& fields)
    {
        const auto payload = ProgramPayload(fields);
        return db.MergeProgram(payload.data(), payload.size());
    }
    // Satellite 0 "Astra" with TP 0, both complete and shown.
    void ShowSatelliteAndTp()
    {
        Sat(0, 0xFF, 0xFF, "Astra");
        db.LoadSatellite(nullptr, 0);
        Tp(0, 0, 0xFF, 0xFF);
        db.LoadTp(nullptr, 0);
        ASSERT_EQ(db.ShowItem(3), 0);
        ASSERT_EQ(db.ShowItem(4), 0);
    }
    // Shows the programs as a whole list once they are complete.
    void ShowPrograms(std::initializer_list<ProgramFields> programs)
    {
        for (const auto& fields : programs) {
            const auto payload = ProgramPayload(fields);
            db.LoadProgram(payload.data(), payload.size());
        }
        for (int kind : {1, 2}) {
            if (db.Programs(kind).empty()) {
                db.LoadProgram(nullptr, kind);
            }
            ASSERT_TRUE(db.CheckComplete(kind));
            db.ShowItem(kind);
        }
    }
    TreeNodeId PidLine(ProgramTree& tree, const ProgramRecord* record)
    {
        return tree.FirstChild(record->node);
    }

    LanguageScope language;
    FakeDatabaseHost host;
    ListManager db{host};
};

TEST_F(TreePresentationTest, NodesImagesAndTextsOfAFullDisplay)
{
    ShowSatelliteAndTp();
    ProgramFields news = Program(0);
    news.scrambled = 1;
    ProgramFields music = Program(0, 0, 2);
    music.name = "Music";
    ShowPrograms({news, music});

    for (ProgramTree* tree : {&host.tv, &host.radio}) {
        const auto roots = tree->Children(kNoTreeNode);
        ASSERT_EQ(roots.size(), 1u);
        const TreeNode satellite = tree->Node(roots[0]);
        EXPECT_EQ(satellite.text, "Astra");
        EXPECT_EQ(satellite.image, 0);
        EXPECT_EQ(satellite.stateImage, kNoTreeImage);
        EXPECT_EQ(satellite.data, db.FindSatellite(0));
        ASSERT_EQ(satellite.children.size(), 1u);
        const TreeNode tp = tree->Node(satellite.children[0]);
        EXPECT_EQ(tp.text, "3840 H 27500");
        EXPECT_EQ(tp.image, 1);
        EXPECT_EQ(tp.data, db.FindTp(0));
        ASSERT_EQ(tp.children.size(), 1u);
    }
    const ProgramRecord* tv = db.FindProgram(1, 0);
    const TreeNode program = host.tv.Node(tv->node);
    EXPECT_EQ(program.text, "P 001:$ News");
    EXPECT_EQ(program.image, 2);
    EXPECT_EQ(program.data, tv);
    const TreeNode line = host.tv.Node(PidLine(host.tv, tv));
    EXPECT_EQ(line.text, "VID PID:512d; AUD PID:650d; PCR PID:512d; ");
    EXPECT_EQ(line.image, 4);
    EXPECT_EQ(line.data, nullptr);
    EXPECT_EQ(host.radio.Node(db.FindProgram(2, 0)->node).image, 3);
    EXPECT_TRUE(db.IsShown(1));
    EXPECT_TRUE(db.IsShown(3));
    EXPECT_FALSE(db.IsChanged(3));
}

TEST_F(TreePresentationTest, ProgramImageFollowsItsModuleState)
{
    ShowSatelliteAndTp();
    struct Case
    {
        int kind;
        uint8_t module;
        int image;
    } cases[] = {{1, 0, 2}, {2, 0, 3}, {1, 1, 8}, {2, 1, 8}, {1, 2, 7}, {2, 2, 7}, {1, 5, 2}};
    uint8_t index = 0;
    for (const auto& c : cases) {
        ProgramFields fields = Program(index++, 0, c.kind);
        fields.module = c.module;
        Merge(fields);
        ProgramRecord* record = db.FindProgram(c.kind, fields.index);
        ASSERT_EQ(db.ShowItem(c.kind, record), 0);
        ProgramTree& tree = c.kind == 1 ? host.tv : host.radio;
        EXPECT_EQ(tree.Node(record->node).image, c.image) << c.kind << "/" << int{c.module};
    }
    // A radio program is never put into the TV tree.
    EXPECT_EQ(db.ShowItem(1, db.FindProgram(2, 1)), db_result::Inconsistent);
}

TEST_F(TreePresentationTest, MissingParentsAreQueriedInsteadOfShown)
{
    Sat(2, 0xFF, 0xFF);
    Merge(Program(0, 7));
    EXPECT_EQ(db.ShowItem(1, db.FindProgram(1, 0)), db_result::ParentRequested);
    EXPECT_EQ(db.FindProgram(1, 0)->node, kNoTreeNode);
    Tp(7, 5, 0xFF, 0xFF);
    EXPECT_EQ(db.ShowItem(4, db.FindTp(7)), db_result::ParentRequested);
    EXPECT_EQ(host.TakeRequests(),
              (std::vector<Request>{{msg::QueryTp, 7, 2}, {msg::QuerySatellite, 5, 0}}));
    EXPECT_EQ(host.tv.Size(), 0u);
    // A whole list shown by force stops at the first such program.
    EXPECT_EQ(db.ShowItem(1, {}, true), db_result::ParentRequested);
    EXPECT_FALSE(db.IsShown(1));
}

TEST_F(TreePresentationTest, ProgramOfAHeldButHiddenTpShowsItsTpFirst)
{
    Sat(0, 0xFF, 0xFF, "Astra");
    Tp(3, 0, 0xFF, 0xFF);
    Merge(Program(0, 3));
    ASSERT_EQ(db.ShowItem(1, db.FindProgram(1, 0)), 0);
    const TreeNodeId tpNode = host.tv.Parent(db.FindProgram(1, 0)->node);
    EXPECT_EQ(tpNode, db.FindTp(3)->tvNode);
    EXPECT_EQ(host.tv.Level(db.FindProgram(1, 0)->node), 2);
    EXPECT_EQ(host.tv.Text(host.tv.Parent(tpNode)), "Astra");
}

TEST_F(TreePresentationTest, AsiModeLabelsEveryTp)
{
    host.signalSource = 1;
    Sat(0, 0xFF, 0xFF);
    db.LoadSatellite(nullptr, 0);
    Tp(0, 0, 0xFF, 1);
    Tp(1, 0, 0, 0xFF);
    ASSERT_TRUE(db.CheckComplete(4));
    ASSERT_EQ(db.ShowItem(4), 0);
    for (ProgramTree* tree : {&host.tv, &host.radio}) {
        const TreeNodeId satellite = tree->Children(kNoTreeNode).at(0);
        for (TreeNodeId tp : tree->Children(satellite)) {
            EXPECT_EQ(tree->Text(tp), "ASI TP");
        }
        EXPECT_EQ(tree->Children(satellite).size(), 2u);
    }
}

TEST_F(TreePresentationTest, PidLineKeepsTheFormatItWasShownIn)
{
    ShowSatelliteAndTp();
    host.numberMode = 2;
    ProgramFields fields = Program(0);
    ShowPrograms({fields});
    const ProgramRecord* record = db.FindProgram(1, 0);
    EXPECT_EQ(host.tv.Text(PidLine(host.tv, record)), "VID PID:200h; AUD PID:28ah; PCR PID:200h; ");
    host.numberMode = 1;
    fields.teletext = 0x30;
    Merge(fields); // refreshes the shown program
    EXPECT_EQ(host.tv.Text(PidLine(host.tv, record)),
              "VID PID:200h; AUD PID:28ah; PCR PID:200h; TEL PID:30h; ");
    EXPECT_EQ(host.tv.Children(record->node).size(), 1u);
}

TEST_F(TreePresentationTest, ProgramWithoutPidsGetsAnEmptyPidLine)
{
    ShowSatelliteAndTp();
    ProgramFields bare = Program(0);
    bare.video = 0;
    bare.pcr = 0;
    bare.audio1 = 0x1FFF << 3 | 1;
    ShowPrograms({bare});
    const TreeNodeId line = PidLine(host.tv, db.FindProgram(1, 0));
    ASSERT_NE(line, kNoTreeNode);
    EXPECT_EQ(host.tv.Text(line), "");
    EXPECT_EQ(host.tv.Node(line).image, 4);
}

TEST_F(TreePresentationTest, InvalidNumberModeLeavesTheProgramWithoutPidLine)
{
    ShowSatelliteAndTp();
    host.numberMode = 0;
    Merge(Program(0));
    EXPECT_EQ(db.ShowItem(1, db.FindProgram(1, 0)), db_result::Inconsistent);
    EXPECT_EQ(PidLine(host.tv, db.FindProgram(1, 0)), kNoTreeNode);
}

TEST_F(TreePresentationTest, PlayingRadioProgramIsMarkedAndUnfolded)
{
    ShowSatelliteAndTp();
    ShowPrograms({Program(0), Program(0, 0, 2)});
    std::vector<uint8_t> playing(20, 0);
    playing[6] = 2;
    db.StorePlaying(playing.data(), playing.size());

    struct Case
    {
        int kind;
        int stateImage;
    } cases[] = {{5, 9}, {6, 5}};
    for (const auto& c : cases) {
        EXPECT_EQ(db.ShowItem(c.kind), 0);
        const ProgramRecord* record = db.FindProgram(2, 0);
        const TreeNode node = host.radio.Node(record->node);
        EXPECT_EQ(node.stateImage, c.stateImage);
        EXPECT_TRUE(node.expanded);
        const TreeNodeId tp = host.radio.Parent(record->node);
        EXPECT_TRUE(host.radio.Node(tp).expanded);
        EXPECT_TRUE(host.radio.Node(host.radio.Parent(tp)).expanded);
    }
    EXPECT_TRUE(host.showRadio);
    EXPECT_EQ(host.playingChanges, 1); // the change is told once
    EXPECT_EQ(db.PlayingText(), " Radio: P 001:  News ");

    // Another program starts: the old mark goes.
    playing[6] = 1;
    EXPECT_EQ(db.ReplacePlaying(playing.data(), playing.size()), 0);
    EXPECT_EQ(host.radio.Node(db.FindProgram(2, 0)->node).stateImage, kNoTreeImage);
    EXPECT_EQ(db.PlayingText(), " TV: P 001:  News ");

    const std::vector<uint8_t> nothing(6, 0);
    db.ReplacePlaying(nothing.data(), nothing.size());
    EXPECT_EQ(db.PlayingText(), "");
}

TEST_F(TreePresentationTest, PlayingProgramMissingFromItsListIsReported)
{
    ShowSatelliteAndTp();
    ShowPrograms({Program(0)});
    std::vector<uint8_t> playing(20, 0);
    playing[0] = 3;
    playing[6] = 1;
    db.StorePlaying(playing.data(), playing.size());
    EXPECT_EQ(db.ShowItem(5), db_result::Inconsistent);
    EXPECT_EQ(db.PlayingText(), "");
}

TEST_F(TreePresentationTest, WholeListsWaitUntilTheyAreReady)
{
    Sat(0, 0xFF, 1);
    EXPECT_EQ(db.ShowItem(3), db_result::NotReady);
    Merge(Program(0));
    EXPECT_EQ(db.ShowItem(1), db_result::NotReady);
    EXPECT_EQ(db.ShowItem(4), db_result::NotReady);
    EXPECT_EQ(host.tv.Size(), 0u);
    EXPECT_EQ(db.ShowItem(12), db_result::Inconsistent);
    host.closing = true;
    EXPECT_EQ(db.ShowItem(3), db_result::Closing);
}

TEST_F(TreePresentationTest, MergedSatelliteRenamesItsNodes)
{
    ShowSatelliteAndTp();
    const auto payload = SatellitePayload(0, 0xFF, 0xFF, "Hotbird");
    EXPECT_EQ(db.LoadSatellite(payload.data(), payload.size()), 0); // merged once shown
    EXPECT_EQ(SatelliteOrder(db), std::vector<int>{0});
    EXPECT_EQ(host.tv.Text(db.FindSatellite(0)->tvNode), "Hotbird");
    EXPECT_EQ(host.radio.Text(db.FindSatellite(0)->radioNode), "Hotbird");
    EXPECT_EQ(host.tv.Size(), 2u);
}

TEST_F(TreePresentationTest, DisplayProgramEntryDecides)
{
    EXPECT_EQ(DisplayProgramEntry(host, nullptr, 1, false), db_result::NoDatabase);
    EXPECT_TRUE(host.displayAsks.empty());

    Sat(0, 0xFF, 0xFF);
    db.LoadSatellite(nullptr, 0);
    host.display = false;
    EXPECT_EQ(DisplayProgramEntry(host, &db, 3, false), db_result::NotNow);
    EXPECT_EQ(host.tv.Size(), 0u);
    host.display = true;
    EXPECT_EQ(DisplayProgramEntry(host, &db, 3, false), 0);
    EXPECT_EQ(host.tv.Size(), 1u);

    EXPECT_EQ(DisplayProgramEntry(host, &db, 7, true), 0);
    EXPECT_EQ(DisplayProgramEntry(host, &db, 9, false), 0);
    EXPECT_EQ(host.displayAsks, (std::vector<int>{3, 3, 7}));
    EXPECT_EQ(host.systemShows, std::vector<int>{7});
}

TEST_F(TreePresentationTest, SwitchPidFormatRewritesTheSelectedLine)
{
    ShowSatelliteAndTp();
    ShowPrograms({Program(0)});
    const ProgramRecord* record = db.FindProgram(1, 0);
    const TreeNodeId line = PidLine(host.tv, record);
    host.tv.SetSelected(line);
    EXPECT_TRUE(db.SwitchPidFormat(host.tv, 2));
    EXPECT_EQ(host.tv.Text(line), "VID PID:200h; AUD PID:28ah; PCR PID:200h; ");
    EXPECT_TRUE(db.SwitchPidFormat(host.tv, 3));
    EXPECT_EQ(host.tv.Text(line), "");

    // A TP selected: its parent is no program, nothing changes.
    host.tv.SetSelected(db.FindTp(0)->tvNode);
    EXPECT_FALSE(db.SwitchPidFormat(host.tv, 1));
    EXPECT_EQ(host.tv.Text(db.FindTp(0)->tvNode), "3840 H 27500");
    ProgramTree elsewhere;
    EXPECT_FALSE(db.SwitchPidFormat(elsewhere, 1));
}

TEST_F(TreePresentationTest, ClearedTreeIsRebuiltOnTheNextDisplay)
{
    ShowSatelliteAndTp();
    ShowPrograms({Program(0)});
    host.tv.Clear();
    EXPECT_EQ(db.ShowItem(3), 0);
    EXPECT_EQ(db.ShowItem(4), 0);
    EXPECT_EQ(db.ShowItem(1), 0);
    EXPECT_EQ(host.tv.Size(), 4u);
    EXPECT_EQ(host.radio.Size(), 2u);
}

} // namespace
