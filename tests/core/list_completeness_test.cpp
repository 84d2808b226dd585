#include "core/fake_database_host.h"
#include "database/list_manager.h"
#include "link/message_code.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace vireo;
using namespace vireo::testing;
using Request = FakeDatabaseHost::Request;

namespace {

class ListCompletenessTest : public ::testing::Test
{
protected:
    void Sat(uint8_t index, uint8_t previous, uint8_t next)
    {
        const auto payload = SatellitePayload(index, previous, next);
        db.LoadSatellite(payload.data(), payload.size());
    }
    void Tp(uint8_t index, uint8_t satellite, uint8_t previous, uint8_t next)
    {
        const auto payload = TpPayload(index, satellite, previous, next);
        db.LoadTp(payload.data(), payload.size());
    }
    void Prog(const ProgramFields& fields)
    {
        const auto payload = ProgramPayload(fields);
        db.LoadProgram(payload.data(), payload.size());
    }
    // One satellite, TPs 0 and 1 on it, TV programs 0-2 on TP 0 and radio
    // program 0 on TP 1, all shown.
    void ShowSmallDatabase()
    {
        Sat(0, 0xFF, 0xFF);
        Tp(0, 0, 0xFF, 1);
        Tp(1, 0, 0, 0xFF);
        Prog(Program(0, 0, 1, 1));
        Prog(Program(1, 0, 1, 2));
        Prog(Program(2, 0, 1, 0xFF));
        Prog(Program(0, 1, 2));
        for (int kind : {3, 4, 1, 2}) {
            ASSERT_TRUE(db.CheckComplete(kind)) << kind;
            ASSERT_EQ(db.ShowItem(kind), 0) << kind;
        }
        host.TakeRequests();
    }
    std::vector<std::string> Texts(ProgramTree& tree, TreeNodeId parent)
    {
        std::vector<std::string> texts;
        for (TreeNodeId id : tree.Children(parent)) {
            texts.push_back(tree.Text(id));
        }
        return texts;
    }

    LanguageScope language;
    FakeDatabaseHost host;
    ListManager db{host};
};

TEST_F(ListCompletenessTest, ProgramListGaps)
{
    struct Case
    {
        const char* what;
        std::vector<ProgramFields> held;
        bool complete;
        std::vector<Request> sent;
    } cases[] = {
        {"0 and 2", {Program(0, 0, 1, 1), Program(2)}, false, {{msg::QueryProgram, 1, 1}}},
        {"0, 1, 2 ending", {Program(0, 0, 1, 1), Program(1, 0, 1, 2), Program(2)}, true, {}},
        {"last names a successor",
         {Program(0, 0, 1, 1), Program(1, 0, 1, 7)},
         false,
         {{msg::QueryProgram, 2, 1}}},
        {"first missing", {Program(1)}, false, {{msg::QueryProgram, 0, 1}}},
        {"empty, never reported", {}, false, {{msg::QueryProgram, 0xFF, 1}}},
    };
    for (const auto& c : cases) {
        FakeDatabaseHost caseHost;
        ListManager caseDb(caseHost);
        for (const auto& fields : c.held) {
            const auto payload = ProgramPayload(fields);
            caseDb.LoadProgram(payload.data(), payload.size());
        }
        EXPECT_EQ(caseDb.CheckComplete(1), c.complete) << c.what;
        EXPECT_EQ(caseDb.IsComplete(1), c.complete) << c.what;
        EXPECT_EQ(caseHost.requests, c.sent) << c.what;
    }
}

TEST_F(ListCompletenessTest, EmptyListMarkerCompletesAnEmptyList)
{
    db.LoadProgram(nullptr, 1);
    EXPECT_TRUE(db.CheckComplete(1));
    EXPECT_FALSE(db.CheckComplete(2));
    EXPECT_EQ(host.requests, (std::vector<Request>{{msg::QueryProgram, 0xFF, 2}}));
}

TEST_F(ListCompletenessTest, SatelliteChains)
{
    using S = std::array<uint8_t, 3>;
    struct Case
    {
        const char* what;
        std::vector<S> held;
        bool complete;
        std::vector<Request> sent;
    } cases[] = {
        {"0 then 2, linked", {{0, 0xFF, 2}, {2, 0, 0xFF}}, true, {}},
        {"1 missing between", {{0, 0xFF, 1}, {2, 1, 0xFF}}, false, {{msg::QuerySatellite, 1, 0}}},
        {"S names R although R does not name S", {{0, 0xFF, 1}, {2, 0, 0xFF}}, true, {}},
        {"the last names a successor",
         {{0, 0xFF, 1}, {1, 0, 4}},
         false,
         {{msg::QuerySatellite, 4, 0}}},
        {"empty", {}, false, {{msg::QuerySatellite, 0xFF, 0}}},
    };
    for (const auto& c : cases) {
        FakeDatabaseHost caseHost;
        ListManager caseDb(caseHost);
        for (const S& s : c.held) {
            const auto payload = SatellitePayload(s[0], s[1], s[2]);
            caseDb.LoadSatellite(payload.data(), payload.size());
        }
        EXPECT_EQ(caseDb.CheckComplete(3), c.complete) << c.what;
        EXPECT_EQ(caseHost.requests, c.sent) << c.what;
    }
}

TEST_F(ListCompletenessTest, SatelliteWithAMissingPredecessor)
{
    // Records whose links contradict each other: what the first one names
    // as its successor is asked for first.
    auto payload = SatellitePayload(3, 0xFF, 5);
    db.MergeSatellite(payload.data(), payload.size());
    payload = SatellitePayload(2, 1, 3);
    db.MergeSatellite(payload.data(), payload.size());
    EXPECT_FALSE(db.CheckComplete(3));
    EXPECT_EQ(host.requests, (std::vector<Request>{{msg::QuerySatellite, 5, 0}}));
}

TEST_F(ListCompletenessTest, TpsAreLookedForUnderHeldSatellitesNeighboursFirst)
{
    Sat(4, 0xFF, 200);
    Sat(200, 4, 0xFF);
    EXPECT_FALSE(db.CheckComplete(4)); // from the start: the first satellite held
    Tp(0, 200, 0xFF, 1);
    EXPECT_FALSE(db.CheckComplete(4)); // TP 1 follows a TP of satellite 200
    db.LoadTp(nullptr, 0);
    EXPECT_FALSE(db.CheckComplete(4)); // the marker does not fill the gap
    EXPECT_EQ(host.TakeRequests(),
              (std::vector<Request>{
                  {msg::QueryTp, 0xFF, 4}, {msg::QueryTp, 1, 200}, {msg::QueryTp, 1, 200}}));
    // Not under 200: then under 4; then nowhere left to look.
    EXPECT_EQ(db.NextTpSatellite(1, 200), 4);
    EXPECT_EQ(db.NextTpSatellite(1, 4), -1);
    db.NoteNotOnDevice(4, 1);
    EXPECT_TRUE(db.CheckComplete(4)); // complete without it
    EXPECT_TRUE(host.requests.empty());
}

TEST_F(ListCompletenessTest, AnswersThatFillNothingAreAskedForABoundedNumberOfTimes)
{
    // A device that answers every query with the record already held: the
    // gap is asked for kMaxAsks times, then the list stands without it.
    Sat(3, 0xFF, 17);
    for (int i = 0; i < 10; ++i) {
        db.CheckComplete(3);
        Sat(3, 0xFF, 17);
    }
    EXPECT_TRUE(db.CheckComplete(3));
    EXPECT_EQ(host.TakeRequests().size(), size_t(ListManager::kMaxAsks));
    EXPECT_FALSE(db.GaveUp());

    // Every program index missing in turn: the kind's budget ends the asking.
    FakeDatabaseHost caseHost;
    ListManager caseDb(caseHost);
    const auto last = ProgramPayload(Program(254));
    caseDb.LoadProgram(last.data(), last.size());
    for (int i = 0; i < 3 * 255 && !caseDb.CheckComplete(1); ++i) {
    }
    EXPECT_EQ(caseHost.TakeRequests().size(), size_t(ListManager::kQueryBudget));
    EXPECT_TRUE(caseDb.GaveUp());
    EXPECT_TRUE(caseDb.CheckComplete(1));
    EXPECT_TRUE(caseHost.requests.empty());
    EXPECT_TRUE(caseDb.TakeGaveUpNotice()); // told once
    EXPECT_FALSE(caseDb.TakeGaveUpNotice());
}

TEST_F(ListCompletenessTest, PlayingProgramAndSettings)
{
    EXPECT_TRUE(db.CheckComplete(5)); // nothing known, no programs
    Prog(Program(0));
    EXPECT_FALSE(db.CheckComplete(5));
    std::vector<uint8_t> playing(20, 0);
    playing[0] = 4;
    playing[6] = 1;
    db.StorePlaying(playing.data(), playing.size());
    host.TakeRequests();
    EXPECT_FALSE(db.CheckComplete(5)); // program 4 is not held
    Prog(Program(4));
    EXPECT_TRUE(db.CheckComplete(5));
    EXPECT_EQ(host.TakeRequests(), (std::vector<Request>{{msg::PlayProgram, 0xFF, 0}}));

    EXPECT_FALSE(db.CheckComplete(7));
    EXPECT_FALSE(db.CheckComplete(8));
    EXPECT_FALSE(db.CheckComplete(9));
    EXPECT_TRUE(db.CheckComplete(6));
    EXPECT_TRUE(db.CheckComplete(12));
    EXPECT_EQ(host.TakeRequests(), (std::vector<Request>{{msg::QuerySystemInfo, 0, 0},
                                                         {msg::SetVolume, 0x0A, 0},
                                                         {msg::QueryVersion, 0, 0}}));
    const std::vector<uint8_t> system(20, 0);
    db.StoreSystemRecord(system.data(), system.size());
    const uint8_t volume = 3;
    db.StoreVolume(&volume, 1);
    const std::vector<uint8_t> version = {1, 0, 2, 0};
    db.StoreVersion(version.data(), version.size());
    EXPECT_TRUE(db.CheckComplete(7));
    EXPECT_TRUE(db.CheckComplete(8));
    EXPECT_TRUE(db.CheckComplete(9));
    EXPECT_TRUE(host.requests.empty());
}

TEST_F(ListCompletenessTest, RequestMissingQueries)
{
    Sat(3, 0xFF, 0xFF);
    struct Case
    {
        int kind;
        int index;
        int result;
        std::vector<Request> sent;
    } cases[] = {
        {1, 6, 0, {{msg::QueryProgram, 6, 1}}},
        {2, ListManager::kFromStart, 0, {{msg::QueryProgram, 0xFF, 2}}},
        {3, 2, 0, {{msg::QuerySatellite, 2, 0}}},
        {4, 9, 0, {{msg::QueryTp, 9, 3}}},
        {4, ListManager::kFromStart, 0, {{msg::QueryTp, 0xFF, 3}}},
        {5, 1, 0, {{msg::PlayProgram, 0xFF, 0}}},
        {7, ListManager::kFromStart, 0, {{msg::QuerySystemInfo, 0, 0}}},
        {7, 1, 27, {}},
        {8, ListManager::kFromStart, 0, {{msg::SetVolume, 0x0A, 0}}},
        {9, 1, 0, {{msg::QueryVersion, 0, 0}}},
        {6, ListManager::kFromStart, 27, {}},
        {0, 1, 27, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(db.RequestMissing(c.kind, c.index), c.result) << c.kind;
        EXPECT_EQ(host.TakeRequests(), c.sent) << c.kind;
    }
}

// --- removal ---

TEST_F(ListCompletenessTest, RemovedProgramIsUnlinkedAndTheRestRenumbered)
{
    ShowSmallDatabase();
    // Program 1's own next link is not trusted: the successor's link number is.
    ProgramFields middle = Program(1, 0, 1, 0x42);
    const auto payload = ProgramPayload(middle);
    db.MergeProgram(payload.data(), payload.size());
    db.SetPendingProgram(db.FindProgram(1, 1));
    EXPECT_EQ(db.RemoveProgram(nullptr, true), 0);
    EXPECT_EQ(db.PendingProgram(), nullptr);
    EXPECT_EQ(db.FindProgram(1, 0)->NextLink(), 2); // now names the former program 2
    EXPECT_TRUE(db.IsRenumberNeeded(1));
    db.RenumberPrograms();
    EXPECT_FALSE(db.IsRenumberNeeded(1));
    EXPECT_EQ(IndicesOf(db, 1), (std::vector<int>{0, 1}));
    ProgramRecord* former = db.FindProgram(1, 1);
    EXPECT_EQ(former->label, "P 002:  News");
    EXPECT_EQ(host.tv.Text(former->node), "P 002:  News");
    const TreeNodeId tpNode = db.FindTp(0)->tvNode;
    EXPECT_EQ(Texts(host.tv, tpNode), (std::vector<std::string>{"P 001:  News", "P 002:  News"}));
}

TEST_F(ListCompletenessTest, RemovingTheLastOrFirstProgramMendsTheLinks)
{
    ShowSmallDatabase();
    EXPECT_EQ(db.RemoveProgram(db.FindProgram(1, 2), false), 0);
    EXPECT_EQ(db.FindProgram(1, 1)->NextLink(), 0xFF); // takes over the removed end
    EXPECT_EQ(db.RemoveProgram(db.FindProgram(1, 0), false), 0);
    EXPECT_EQ(IndicesOf(db, 1), std::vector<int>{1});
    db.RenumberPrograms();
    EXPECT_EQ(IndicesOf(db, 1), std::vector<int>{0});
    EXPECT_EQ(db.RemoveProgram(db.FindProgram(2, 0), false), 0);
    EXPECT_TRUE(IndicesOf(db, 2).empty());
    EXPECT_EQ(host.radio.Children(db.FindTp(1)->radioNode).size(), 0u);
}

TEST_F(ListCompletenessTest, RemovalWithoutARecordChangesNothing)
{
    ShowSmallDatabase();
    EXPECT_EQ(db.RemoveProgram(nullptr, true), 3);
    EXPECT_EQ(db.RemoveTp(nullptr, true), 3);
    EXPECT_EQ(db.RemoveSatellite(nullptr, true), 3);
    ProgramRecord stranger;
    stranger.wire[6] = 1;
    EXPECT_EQ(db.RemoveProgram(&stranger, true), 3);
    TpRecord strangerTp;
    EXPECT_EQ(db.RemoveTp(&strangerTp, true), 3);
    EXPECT_EQ(IndicesOf(db, 1).size(), 3u);
    EXPECT_EQ(TpOrder(db).size(), 2u);
    EXPECT_FALSE(db.IsRenumberNeeded(1));
}

TEST_F(ListCompletenessTest, RemovingATpRemovesItsProgramsFromBothTrees)
{
    ShowSmallDatabase();
    // A TV program on TP 1 that has no node yet goes too.
    Prog(Program(3, 1));
    // A radio program on TP 0 shown under it.
    Prog(Program(1, 0, 2));
    ASSERT_EQ(db.ShowItem(2, db.FindProgram(2, 1)), 0);

    db.SetPendingTp(db.FindTp(1));
    ASSERT_EQ(db.RemoveTp(nullptr, true), 0);
    EXPECT_EQ(db.PendingTp(), nullptr);
    EXPECT_EQ(TpOrder(db), std::vector<int>{0});
    EXPECT_EQ(db.FindTp(0)->NextIndex(), 0xFF);
    EXPECT_EQ(IndicesOf(db, 1), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(IndicesOf(db, 2), std::vector<int>{1});

    db.SetPendingTp(db.FindTp(0));
    ASSERT_EQ(db.RemoveTp(nullptr, true), 0);
    EXPECT_TRUE(IndicesOf(db, 1).empty());
    EXPECT_TRUE(IndicesOf(db, 2).empty());
    const TreeNodeId satellite = db.FindSatellite(0)->tvNode;
    EXPECT_TRUE(host.tv.Children(satellite).empty());
    EXPECT_EQ(host.tv.Size(), 1u);
    EXPECT_EQ(host.radio.Size(), 1u);
}

TEST_F(ListCompletenessTest, RemovingASatelliteRemovesEverythingBelowIt)
{
    ShowSmallDatabase();
    // A second satellite with its own TP stays.
    auto payload = SatellitePayload(1, 0, 0xFF);
    db.MergeSatellite(payload.data(), payload.size());
    payload = TpPayload(5, 1, 1, 0xFF);
    db.MergeTp(payload.data(), payload.size());
    db.SetPendingSatellite(db.FindSatellite(0));
    ASSERT_EQ(db.RemoveSatellite(nullptr, true), 0);
    EXPECT_EQ(SatelliteOrder(db), std::vector<int>{1});
    EXPECT_EQ(db.FindSatellite(1)->PreviousIndex(), 0xFF);
    EXPECT_EQ(TpOrder(db), std::vector<int>{5});
    EXPECT_TRUE(IndicesOf(db, 1).empty());
    EXPECT_EQ(host.tv.Size(), 0u); // the second satellite was never shown
    EXPECT_EQ(db.PendingSatellite(), nullptr);
}

TEST_F(ListCompletenessTest, RenumberingMovesThePlayingIndex)
{
    ShowSmallDatabase();
    std::vector<uint8_t> playing(20, 0);
    playing[0] = 2;
    playing[6] = 1;
    db.StorePlaying(playing.data(), playing.size());
    db.RemoveProgram(db.FindProgram(1, 0), true);
    db.RenumberPrograms();
    EXPECT_EQ(db.Playing().Index(), 1);
    EXPECT_EQ(db.FindProgram(1, 1)->label, "P 002:  News");
}

TEST_F(ListCompletenessTest, RecordsLeavingTheListTakeTheirNodesAndPendingMarkAlong)
{
    ShowSmallDatabase();
    db.SetPendingTp(db.FindTp(1));
    // TP 0 now names TP 9 as its successor, and TP 9 arrives: TP 1, which
    // followed TP 0, leaves the list.
    const auto first = TpPayload(0, 0, 0xFF, 9);
    db.MergeTp(first.data(), first.size());
    const auto ninth = TpPayload(9, 0, 0, 0xFF);
    db.MergeTp(ninth.data(), ninth.size());
    EXPECT_EQ(TpOrder(db), (std::vector<int>{0, 9}));
    EXPECT_EQ(db.PendingTp(), nullptr);
    EXPECT_EQ(db.RemoveTp(nullptr, true), 3);
    // The radio program shown under TP 1 stays, without a node.
    EXPECT_EQ(db.FindProgram(2, 0)->node, kNoTreeNode);
    // TP 9 is shown with the next display of the list.
    EXPECT_EQ(host.radio.Children(db.FindSatellite(0)->radioNode).size(), 1u);
}

} // namespace
