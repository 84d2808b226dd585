#include "core/fake_database_host.h"
#include "database/list_manager.h"
#include "link/message_code.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using namespace vireo;
using namespace vireo::testing;

namespace {

class ListManagerTest : public ::testing::Test
{
protected:
    int Load(int (ListManager::*op)(const uint8_t*, size_t), const std::vector<uint8_t>& payload)
    {
        return (db.*op)(payload.data(), payload.size());
    }
    int LoadSat(uint8_t index, uint8_t previous, uint8_t next, const std::string& name = "Sat")
    {
        return Load(&ListManager::LoadSatellite, SatellitePayload(index, previous, next, name));
    }
    int MergeSat(uint8_t index, uint8_t previous, uint8_t next, const std::string& name = "Sat")
    {
        return Load(&ListManager::MergeSatellite, SatellitePayload(index, previous, next, name));
    }
    int StoreSystem(std::vector<uint8_t> bytes)
    {
        bytes.resize(20, 0);
        return db.StoreSystemRecord(bytes.data(), bytes.size());
    }

    LanguageScope language;
    FakeDatabaseHost host;
    ListManager db{host};
};

// --- system record, volume, version ---

TEST_F(ListManagerTest, SystemRecordIsStoredAndSelectsTheSignalSource)
{
    EXPECT_EQ(StoreSystem({0x00, 0x80, 0x0C, 0x00}), 0);
    ASSERT_TRUE(db.System());
    EXPECT_EQ(db.System()->PollingInterval(), 400u);
    EXPECT_EQ(host.signalSource, 0);
    EXPECT_FALSE(db.IsChanged(item_kind::System));
    EXPECT_EQ(host.disconnects, 0);
    EXPECT_TRUE(host.logLines.empty());

    EXPECT_EQ(StoreSystem({0x00, 0x80, 0x0C, 0x00}), 0);
    EXPECT_FALSE(db.IsChanged(item_kind::System)); // same bytes
    db.SetShown(item_kind::System, true);
    EXPECT_EQ(StoreSystem({0x02, 0x80, 0x0C, 0x00}), 0);
    EXPECT_TRUE(db.IsChanged(item_kind::System));
    EXPECT_FALSE(db.IsShown(item_kind::System));
}

TEST_F(ListManagerTest, SystemReportsThatEndTheSession)
{
    struct Case
    {
        const char* what;
        uint8_t before; // byte 0 of a record held first, or 0xFF for none
        uint8_t after;
        int result;
        int disconnects;
        const char* line;
        int source;
    } cases[] = {
        {"reset, nothing held", 0xFF, 0x01, 9, 1, "IRD has restarted, please update!", 0},
        {"reset beats a source change", 0x00, 0x11, 9, 1, "IRD has restarted, please update!", 1},
        {"satellite to ASI", 0x00, 0x10, 9, 1, "IRD signal has changed, please update!", 1},
        {"ASI to satellite", 0x10, 0x00, 9, 1, "IRD signal has changed, please update!", 0},
        {"same source", 0x10, 0x12, 0, 0, nullptr, 1},
    };
    for (const auto& c : cases) {
        FakeDatabaseHost caseHost;
        ListManager caseDb(caseHost);
        std::vector<uint8_t> bytes(20, 0);
        if (c.before != 0xFF) {
            bytes[0] = c.before;
            caseDb.StoreSystemRecord(bytes.data(), bytes.size());
        }
        bytes[0] = c.after;
        EXPECT_EQ(caseDb.StoreSystemRecord(bytes.data(), bytes.size()), c.result) << c.what;
        EXPECT_EQ(caseHost.disconnects, c.disconnects) << c.what;
        if (c.line != nullptr) {
            EXPECT_EQ(caseHost.logLines, std::vector<std::string>{c.line}) << c.what;
        } else {
            EXPECT_TRUE(caseHost.logLines.empty()) << c.what;
        }
        EXPECT_EQ(caseHost.signalSource, c.source) << c.what;
        EXPECT_EQ(caseDb.System()->wire[0], c.after) << c.what; // stored anyway
    }
}

TEST_F(ListManagerTest, AddressChangeIsLoggedFlushedAndPosted)
{
    EXPECT_EQ(StoreSystem({0, 0, 0, 0, 10, 0, 0, 7, 255, 0, 0, 0, 1, 2, 3, 4, 5, 6, 1}), 0);
    EXPECT_EQ(host.logLines, std::vector<std::string>{"IRD ip has changed, pleasr update!"});
    EXPECT_EQ(host.cacheFlushes, 1);
    ASSERT_EQ(host.postedAddresses.size(), 1u);
    EXPECT_EQ(host.postedAddresses[0], (std::array<uint8_t, 4>{10, 0, 0, 7}));
    EXPECT_EQ(host.disconnects, 0);
}

TEST_F(ListManagerTest, ShortSystemRecordIsDropped)
{
    const std::vector<uint8_t> bytes(19, 0x01); // the reset bit, but cut short
    EXPECT_EQ(db.StoreSystemRecord(bytes.data(), bytes.size()), db_result::Rejected);
    EXPECT_EQ(db.StoreSystemRecord(nullptr, 20), db_result::Rejected);
    EXPECT_FALSE(db.System());
    EXPECT_EQ(host.disconnects, 0);
}

TEST_F(ListManagerTest, VolumeReports)
{
    struct Case
    {
        std::vector<uint8_t> payload;
        int result;
        int volume;
        int mute;
    } cases[] = {
        {{0x85}, 0, 5, 1},
        {{0x0F}, 0, 15, 0},
        {{0x7A}, 0, 10, 0}, // bits 4-6 carry nothing
        {{0x85, 0x00}, 10, 10, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(db.StoreVolume(c.payload.data(), c.payload.size()), c.result);
        ASSERT_TRUE(db.Volume());
        EXPECT_EQ(db.Volume()->volume, c.volume);
        EXPECT_EQ(db.Volume()->mute, c.mute);
    }
    ListManager fresh(host);
    EXPECT_EQ(fresh.StoreVolume(nullptr, 0), 0); // an empty-list report
    EXPECT_TRUE(fresh.IsComplete(item_kind::Volume));
    EXPECT_FALSE(fresh.IsChanged(item_kind::Volume));
    EXPECT_EQ(fresh.StoreVolume(nullptr, 1), db_result::Rejected);
}

TEST_F(ListManagerTest, VersionNeedsFourBytes)
{
    const std::vector<uint8_t> bytes = {1, 2, 3, 4};
    EXPECT_EQ(db.StoreVersion(bytes.data(), 3), db_result::Rejected);
    EXPECT_FALSE(db.Version());
    EXPECT_EQ(db.StoreVersion(bytes.data(), 4), 0);
    EXPECT_EQ(db.Version()->bytes, (std::array<uint8_t, 4>{1, 2, 3, 4}));
}

// --- satellites and TPs ---

TEST_F(ListManagerTest, LoadFollowsTheDeviceOrderAndRestartsOnAFirstRecord)
{
    // Replies in any order line up along their links.
    LoadSat(9, 2, 0xFF);
    LoadSat(4, 0xFF, 2);
    LoadSat(2, 4, 9);
    EXPECT_EQ(SatelliteOrder(db), (std::vector<int>{4, 2, 9}));
    EXPECT_EQ(db.LowestSatellite(), 2);
    EXPECT_EQ(db.HighestSatellite(), 9);
    EXPECT_TRUE(db.IsReceived(item_kind::Satellites));
    EXPECT_TRUE(db.IsChanged(item_kind::Satellites));

    // A later first record starts the list anew.
    LoadSat(7, 0xFF, 0xFF, "Fresh");
    EXPECT_EQ(SatelliteOrder(db), std::vector<int>{7});
    EXPECT_EQ(db.LowestSatellite(), 7);
    EXPECT_EQ(db.HighestSatellite(), 7);
    EXPECT_EQ(db.FindSatellite(7)->Name(), "Fresh");
}

TEST_F(ListManagerTest, LoadReplacesAHeldIndexAndCutsTheTailAtALastRecord)
{
    LoadSat(0, 0xFF, 1);
    LoadSat(1, 0, 2);
    LoadSat(2, 1, 3);
    LoadSat(3, 2, 0xFF);
    SatelliteRecord* held = db.FindSatellite(1);
    LoadSat(1, 0, 2, "Renamed");
    EXPECT_EQ(SatelliteOrder(db), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(db.FindSatellite(1), held); // updated in place
    EXPECT_EQ(held->Name(), "Renamed");

    LoadSat(1, 0, 0xFF);
    EXPECT_EQ(SatelliteOrder(db), (std::vector<int>{0, 1}));

    EXPECT_EQ(db.LoadSatellite(nullptr, 0), 0);
    EXPECT_TRUE(db.IsComplete(item_kind::Satellites));
}

TEST_F(ListManagerTest, MergeLinksBetweenNeighbours)
{
    using Sat = std::array<uint8_t, 3>; // index, previous, next
    struct Case
    {
        const char* what;
        std::vector<Sat> held;
        Sat fresh;
        int result;
        std::vector<int> order;
    } cases[] = {
        {"empty list", {}, {5, 1, 6}, 0, {5}},
        {"first of the device", {{2, 0xFF, 3}}, {1, 0xFF, 2}, 0, {1, 2}},
        {"names the first as its successor", {{2, 7, 3}, {3, 2, 0xFF}}, {1, 0, 2}, 0, {1, 2, 3}},
        {"R names it as next", {{0, 0xFF, 1}, {1, 0, 2}, {3, 4, 0xFF}}, {2, 9, 8}, 0, {0, 1, 2, 3}},
        {"S names it as previous",
         {{0, 0xFF, 1}, {1, 0, 7}, {3, 2, 0xFF}},
         {2, 9, 8},
         0,
         {0, 1, 2, 3}},
        {"last, after a last that names a successor",
         {{0, 0xFF, 1}, {1, 0, 5}},
         {4, 8, 0xFF},
         0,
         {0, 1, 4}},
        {"last, following the last", {{0, 0xFF, 1}, {1, 0, 0xFF}}, {2, 1, 0xFF}, 0, {0, 1, 2}},
        {"claims to be last, fits nowhere", {{0, 0xFF, 1}, {1, 0, 0xFF}}, {6, 5, 0xFF}, 27, {0, 1}},
        {"outside a whole list", {{0, 0xFF, 1}, {1, 0, 0xFF}}, {6, 5, 7}, 27, {0, 1}},
        {"kept until its predecessor comes", {{0, 0xFF, 1}, {1, 0, 3}}, {6, 5, 7}, 0, {0, 1, 6}},
        {"added after the last", {{0, 0xFF, 1}, {1, 0, 0xFF}}, {8, 1, 0xFF}, 0, {0, 1, 8}},
        {"inserted in the middle",
         {{0, 0xFF, 1}, {1, 0, 2}, {2, 1, 0xFF}},
         {8, 1, 2},
         0,
         {0, 1, 8, 2}},
        {"follows a lone first record", {{0, 0xFF, 4}}, {9, 8, 7}, 0, {0, 9}},
        {"named by the first: the rest leaves",
         {{0, 0xFF, 2}, {1, 0, 5}, {5, 1, 0xFF}},
         {2, 0, 0xFF},
         0,
         {0, 2}},
    };
    for (const auto& c : cases) {
        FakeDatabaseHost caseHost;
        ListManager caseDb(caseHost);
        for (const Sat& s : c.held) {
            const auto payload = SatellitePayload(s[0], s[1], s[2]);
            caseDb.LoadSatellite(payload.data(), payload.size());
        }
        const auto payload = SatellitePayload(c.fresh[0], c.fresh[1], c.fresh[2]);
        EXPECT_EQ(caseDb.MergeSatellite(payload.data(), payload.size()), c.result) << c.what;
        EXPECT_EQ(SatelliteOrder(caseDb), c.order) << c.what;
    }
}

TEST_F(ListManagerTest, MergeKeepsOneRecordPerIndex)
{
    LoadSat(0, 0xFF, 1);
    LoadSat(1, 0, 0xFF);
    db.LoadSatellite(nullptr, 0);
    EXPECT_TRUE(db.IsComplete(item_kind::Satellites));
    SatelliteRecord* held = db.FindSatellite(1);
    EXPECT_EQ(MergeSat(1, 0, 0xFF, "Updated"), 0);
    EXPECT_EQ(SatelliteOrder(db), (std::vector<int>{0, 1}));
    EXPECT_EQ(db.FindSatellite(1), held);
    EXPECT_EQ(held->Name(), "Updated");
    EXPECT_TRUE(db.IsComplete(item_kind::Satellites)); // an update leaves the list whole

    EXPECT_EQ(MergeSat(2, 1, 0xFF), 0);
    EXPECT_FALSE(db.IsComplete(item_kind::Satellites));
    EXPECT_EQ(db.HighestSatellite(), 2);
}

TEST_F(ListManagerTest, MergeTpKeepsTpsUntilTheirListRunsWhole)
{
    const auto tp = [&](uint8_t index, uint8_t previous, uint8_t next) {
        const auto payload = TpPayload(index, 0, previous, next);
        return db.MergeTp(payload.data(), payload.size());
    };
    EXPECT_EQ(tp(5, 4, 0xFF), 0);
    EXPECT_EQ(tp(4, 3, 8), 0); // the first names it as its predecessor
    EXPECT_EQ(TpOrder(db), (std::vector<int>{4, 5}));
    EXPECT_EQ(tp(9, 8, 0xFF), 0); // kept until the TPs between come
    EXPECT_EQ(TpOrder(db), (std::vector<int>{4, 5, 9}));
    EXPECT_EQ(tp(3, 0xFF, 4), 0);
    EXPECT_EQ(tp(5, 4, 0xFF), 0); // now the list runs whole: TP 9 is gone
    EXPECT_EQ(TpOrder(db), (std::vector<int>{3, 4, 5}));
    EXPECT_EQ(tp(9, 8, 0xFF), 3);
    EXPECT_EQ(db.FindTp(4)->label, "3840 H 27500");
}

TEST_F(ListManagerTest, HostileLinkedRecordsAreDropped)
{
    const std::vector<uint8_t> shortSat = {1, 0xFF, 0xFF, 0, 0, 0, 0};
    const std::vector<uint8_t> shortTp = {1, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0};
    const auto noneSat = SatellitePayload(0xFF, 0xFF, 0xFF);
    const auto noneTp = TpPayload(0xFF, 0, 0xFF, 0xFF);
    for (auto op : {&ListManager::LoadSatellite, &ListManager::MergeSatellite}) {
        EXPECT_EQ((db.*op)(shortSat.data(), shortSat.size()), db_result::Rejected);
        EXPECT_EQ((db.*op)(noneSat.data(), noneSat.size()), db_result::Rejected);
        EXPECT_EQ((db.*op)(noneSat.data(), 0), db_result::Rejected); // not the empty marker
    }
    for (auto op : {&ListManager::LoadTp, &ListManager::MergeTp}) {
        EXPECT_EQ((db.*op)(shortTp.data(), shortTp.size()), db_result::Rejected);
        EXPECT_EQ((db.*op)(noneTp.data(), noneTp.size()), db_result::Rejected);
    }
    EXPECT_TRUE(SatelliteOrder(db).empty());
    EXPECT_TRUE(TpOrder(db).empty());
    EXPECT_FALSE(db.IsComplete(item_kind::Satellites));
    EXPECT_FALSE(db.IsReceived(item_kind::Tps));
}

TEST_F(ListManagerTest, NothingIsMadeWhileTheWindowCloses)
{
    host.closing = true;
    EXPECT_EQ(LoadSat(0, 0xFF, 0xFF), db_result::NotMade);
    EXPECT_EQ(MergeSat(0, 0xFF, 0xFF), db_result::NotMade);
    const auto tp = TpPayload(0, 0, 0xFF, 0xFF);
    EXPECT_EQ(db.LoadTp(tp.data(), tp.size()), db_result::NotMade);
    const auto program = ProgramPayload(Program(0));
    EXPECT_EQ(db.LoadProgram(program.data(), program.size()), db_result::NotMade);
    EXPECT_EQ(db.MergeProgram(program.data(), program.size()), db_result::NotMade);
    EXPECT_TRUE(SatelliteOrder(db).empty());
    EXPECT_TRUE(IndicesOf(db, 1).empty());
}

// --- programs ---

TEST_F(ListManagerTest, ProgramsAreKeptSortedByIndex)
{
    for (uint8_t index : {3, 0, 7, 1}) {
        const auto payload = ProgramPayload(Program(index, 0, 1, index + 1));
        EXPECT_EQ(db.LoadProgram(payload.data(), payload.size()), 0);
    }
    const auto radio = ProgramPayload(Program(0, 0, 2));
    db.LoadProgram(radio.data(), radio.size());
    EXPECT_EQ(IndicesOf(db, 1), (std::vector<int>{0, 1, 3, 7}));
    EXPECT_EQ(IndicesOf(db, 2), std::vector<int>{0});
    EXPECT_EQ(db.FindProgram(1, 3)->label, "P 004:  News");
    EXPECT_EQ(db.FindProgram(2, 3), nullptr);
    EXPECT_EQ(db.FindProgram(3, 0), nullptr);
}

TEST_F(ListManagerTest, AppendedProgramBecomesTheLastOnesSuccessor)
{
    for (uint8_t index : {0, 1}) {
        const auto payload = ProgramPayload(Program(index, 0, 1, index + 1));
        db.LoadProgram(payload.data(), payload.size());
    }
    const auto two = ProgramPayload(Program(2));
    db.LoadProgram(two.data(), two.size());
    ProgramFields three = Program(3);
    three.link = 9;
    const auto payload = ProgramPayload(three);
    EXPECT_EQ(db.MergeProgram(payload.data(), payload.size()), 0);
    EXPECT_EQ(IndicesOf(db, 1), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(db.FindProgram(1, 2)->NextLink(), 9);
    EXPECT_EQ(db.FindProgram(1, 1)->NextLink(), 2); // a set link stays
}

TEST_F(ListManagerTest, MergeUpdatesAProgramInPlace)
{
    ProgramFields fields = Program(4);
    auto payload = ProgramPayload(fields);
    db.LoadProgram(payload.data(), payload.size());
    ProgramRecord* held = db.FindProgram(1, 4);
    fields.name = "Sport";
    fields.scrambled = 1;
    payload = ProgramPayload(fields);
    EXPECT_EQ(db.MergeProgram(payload.data(), payload.size()), 0);
    EXPECT_EQ(IndicesOf(db, 1), std::vector<int>{4});
    EXPECT_EQ(db.FindProgram(1, 4), held);
    EXPECT_EQ(held->label, "P 005:$ Sport");
}

TEST_F(ListManagerTest, ProgramsOfOtherKindsAndBrokenRecordsAreDropped)
{
    const auto other = ProgramPayload(Program(0, 0, 3));
    EXPECT_EQ(db.LoadProgram(other.data(), other.size()), 0);
    EXPECT_EQ(db.MergeProgram(other.data(), other.size()), db_result::Inconsistent);
    const auto full = ProgramPayload(Program(0));
    EXPECT_EQ(db.MergeProgram(full.data(), 19), db_result::Rejected);
    EXPECT_EQ(db.LoadProgram(full.data(), 1), db_result::Rejected); // not an empty marker
    const auto none = ProgramPayload(Program(0xFF));
    EXPECT_EQ(db.MergeProgram(none.data(), none.size()), db_result::Rejected);
    EXPECT_TRUE(IndicesOf(db, 1).empty());
    EXPECT_FALSE(db.IsEmptyReported(1));

    EXPECT_EQ(db.LoadProgram(nullptr, 1), 0);
    EXPECT_TRUE(db.IsEmptyReported(1));
    EXPECT_TRUE(db.IsComplete(1));
    EXPECT_FALSE(db.IsComplete(2));
    EXPECT_EQ(db.LoadProgram(nullptr, 2), 0);
    EXPECT_TRUE(db.IsEmptyReported(2));
}

// --- the playing program ---

TEST_F(ListManagerTest, PlayingReports)
{
    EXPECT_FALSE(db.PlayingKnown());
    EXPECT_EQ(db.Playing().Index(), kNoIndex);

    const std::vector<uint8_t> nothing(6, 0);
    EXPECT_EQ(db.StorePlaying(nothing.data(), nothing.size()), 0);
    EXPECT_TRUE(db.PlayingKnown());
    EXPECT_FALSE(db.HasPlayingProgram());
    EXPECT_TRUE(host.requests.empty());

    std::vector<uint8_t> playing(20, 0);
    playing[0] = 3;
    playing[6] = 2;
    EXPECT_EQ(db.StorePlaying(playing.data(), playing.size()), 0);
    EXPECT_EQ(db.Playing().Index(), 3);
    EXPECT_EQ(db.Playing().Kind(), 2);
    EXPECT_TRUE(db.PlayingChangedPending());
    EXPECT_EQ(host.pausedMs, 150);
    EXPECT_EQ(host.TakeRequests(),
              (std::vector<FakeDatabaseHost::Request>{{msg::QuerySignal, 0, 0}}));

    // Cut after the kind byte: taken; cut before it: dropped.
    playing[0] = 5;
    EXPECT_EQ(db.StorePlaying(playing.data(), 7), 0);
    EXPECT_EQ(db.Playing().Index(), 5);
    EXPECT_EQ(db.StorePlaying(playing.data(), 5), db_result::Rejected);
    EXPECT_EQ(db.StorePlaying(nullptr, 20), 0);
    EXPECT_EQ(db.Playing().Index(), 5);
}

TEST_F(ListManagerTest, ReplacePlayingWhenTheOldProgramIsNotHeld)
{
    std::vector<uint8_t> playing(20, 0);
    playing[0] = 1;
    playing[6] = 1;
    db.StorePlaying(playing.data(), playing.size());
    playing[0] = 2;
    EXPECT_EQ(db.ReplacePlaying(playing.data(), playing.size()), db_result::Inconsistent);
    EXPECT_EQ(db.Playing().Index(), 2); // stored all the same

    // Held but never shown: a full refresh instead of storing.
    const auto program = ProgramPayload(Program(2));
    db.LoadProgram(program.data(), program.size());
    playing[0] = 0;
    EXPECT_EQ(db.ReplacePlaying(playing.data(), playing.size()), 0);
    EXPECT_EQ(host.fullRefreshes, 1);
    EXPECT_EQ(db.Playing().Index(), 2);
}

TEST_F(ListManagerTest, DestructionDeletesEveryNode)
{
    {
        ListManager shown(host);
        const auto sat = SatellitePayload(0, 0xFF, 0xFF);
        shown.LoadSatellite(sat.data(), sat.size());
        shown.LoadSatellite(nullptr, 0);
        const auto tp = TpPayload(0, 0, 0xFF, 0xFF);
        shown.LoadTp(tp.data(), tp.size());
        shown.LoadTp(nullptr, 0);
        for (int kind : {1, 2}) {
            const auto program = ProgramPayload(Program(0, 0, kind));
            shown.LoadProgram(program.data(), program.size());
            shown.CheckComplete(kind);
        }
        for (int kind : {3, 4, 1, 2}) {
            EXPECT_EQ(shown.ShowItem(kind), 0);
        }
        EXPECT_EQ(host.tv.Size(), 4u); // satellite, TP, program, PID line
        EXPECT_EQ(host.radio.Size(), 4u);
    }
    EXPECT_EQ(host.tv.Size(), 0u);
    EXPECT_EQ(host.radio.Size(), 0u);
}

} // namespace
