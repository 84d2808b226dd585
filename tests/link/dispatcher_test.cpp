#include "database/list_manager.h"
#include "device/device_core.h"
#include "device/reply_dispatcher.h"
#include "link/message_code.h"
#include "link/request_frame.h"
#include "session_harness.h"
#include "sim/database_generator.h"
#include "sim/database_json.h"
#include "sim/ird_responder.h"
#include "sim/simulator.h"
#include "snapshot/device_dump.h"
#include "snapshot_head.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace vireo;
using namespace vireo::test;
using namespace std::chrono_literals;

namespace {

constexpr LinkTiming kNoWait{std::chrono::microseconds(0)};
constexpr LinkTiming kFast{std::chrono::microseconds(20)};

std::vector<uint8_t> frameOf(uint8_t code, std::vector<uint8_t> payload)
{
    std::vector<uint8_t> f(payload.size() + 6);
    std::copy(payload.begin(), payload.end(), f.begin() + 3);
    FinishFrame(f.data(), code, static_cast<uint8_t>(payload.size() + 2));
    return f;
}

// A device core with no connection: replies are fed to it directly.
struct OfflineDevice
{
    OfflineDevice() : core(context, view, "10.9.9.9:Test", kNoWait, "no-logs")
    {
        SetLanguageFlag(1);
        BuildLanguageTable();
        core.LogPane().SetObserver(&pane);
        core.Content().CreateDatabase();
    }
    ~OfflineDevice() { core.LogPane().SetObserver(nullptr); }

    void feed(uint8_t current, const std::vector<uint8_t>& frame)
    {
        core.Content().Dispatch(core.Session(), current, frame.data(), frame[2]);
    }
    void status(uint8_t current, uint8_t status)
    {
        feed(current, frameOf(msg::StatusReply, {current, status}));
    }
    bool called(const std::string& call) const
    {
        const auto calls = view.Calls();
        return std::find(calls.begin(), calls.end(), call) != calls.end();
    }

    SessionContext context;
    RecordingView view;
    RecordingPane pane;
    DeviceCore core;
};

} // namespace

TEST(Dispatcher, StatusAnswersLogTheirTexts)
{
    const struct
    {
        uint8_t current;
        uint8_t status;
        int scanState;
        std::vector<std::string> lines;
    } table[] = {
        {msg::DeleteTp, 5, 2, {"Delete TP Error: 5"}},
        {msg::DeleteSatellite, 3, 2, {"Delete Satellite Error: 3"}},
        {msg::AddSatellite, 0, 2, {"Add SatelliteOK"}},
        {msg::AddSatellite, 9, 2, {"Add Satellite Error: 9"}},
        {msg::MultiDescramble, 39, 2, {"No CI Card has been inserted!"}},
        {msg::ScanSatellite, 0, 2, {"Scan complete"}},
        {msg::StopScan, 33, 2, {"Scan: No new Programs"}},
        {msg::ScanTp, 34, 2, {"Scan: No Programs"}},
        {msg::ScanTp, 36, 1, {"IRD has terminate scanning"}},
        {msg::ScanSatellite, 37, 2, {"IRD doesn't start scanning"}},
        {msg::ScanTp,
         12,
         1,
         {"Can't find the matched to sacn!", "You'd better upgrade IRD's information!"}},
        {msg::QueryVersion, 4, 2, {"IRD is in the status, while IRD can't respond message!"}},
        {msg::QueryVersion, 7, 2, {"Such request is out of the manage of IRD"}},
        {msg::QueryVersion, 35, 2, {"Auto re-send message"}},
        {msg::QuerySatellite, 0, 2, {}},
    };
    for (const auto& row : table) {
        OfflineDevice d;
        d.core.Session().scanState = row.scanState;
        d.status(row.current, row.status);
        EXPECT_EQ(d.pane.Lines(), row.lines) << int(row.current) << "/" << int(row.status);
        if (row.current == msg::ScanTp || row.current == msg::ScanSatellite ||
            row.current == msg::StopScan) {
            if (row.status == 36 || row.status == 37 || row.status == 12) {
                EXPECT_EQ(d.core.Session().scanState, DeviceSession::kNoScan);
            }
            EXPECT_EQ(d.called("postRefresh 1"),
                      row.status == 0 || row.status == 33 || row.status == 34);
        }
    }
}

TEST(Dispatcher, ProgramNotFoundStartsAFullRefresh)
{
    OfflineDevice d;
    const auto before = d.core.Database();
    d.status(msg::DeleteProgram, 29);
    const auto lines = d.pane.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Can't find the program you want to delete!");
    EXPECT_EQ(lines[1], "Update IRD Information");
    EXPECT_NE(d.core.Database(), before); // a fresh database
}

TEST(Dispatcher, TheEndOfARefreshMarksOnlyTheDatabaseItDescribes)
{
    OfflineDevice d;
    sim::DeviceDatabase device = sim::GenerateDatabase({1, 2, 2, 1}, nullptr).value();
    const auto request = ComposeRequest(msg::UpdateAll).value();
    const std::vector<sim::ReplyFrame> burst = sim::AnswerRequest(device, request.view(), {});
    ASSERT_GE(burst.size(), 2u);
    const std::shared_ptr<ListManager> refreshed = d.core.Database();
    for (size_t i = 0; i + 1 < burst.size(); ++i) {
        d.feed(msg::UpdateAll, burst[i].bytes);
    }
    // The operator renews the lists while the refresh's final status is
    // being handled: the new database replaces the one that status ends.
    const std::vector<uint8_t>& end = burst.back().bytes;
    d.core.Content().CreateDatabase();
    const std::shared_ptr<ListManager> renewed = d.core.Database();
    ReplyDispatcher dispatcher;
    dispatcher.Dispatch(d.core.Content(), *refreshed, msg::UpdateAll, end.data(), end[2]);
    EXPECT_TRUE(refreshed->Loaded());
    EXPECT_FALSE(renewed->Loaded());
    EXPECT_FALSE(d.core.Loaded());
    // A second end for the replaced database leaves the new one alone.
    dispatcher.Dispatch(d.core.Content(), *refreshed, msg::UpdateAll, end.data(), end[2]);
    EXPECT_EQ(d.core.Database(), renewed);
    EXPECT_FALSE(d.core.Loaded());
}

TEST(Dispatcher, SignalReportsBeforeAndAfterTheFirstRefresh)
{
    OfflineDevice d;
    d.core.Session().refreshed = false;
    d.feed(0, frameOf(msg::SignalStatus, {0x80 | 50, 0x80 | 60}));
    EXPECT_TRUE(d.called("postRefresh 1"));
    EXPECT_FALSE(d.called("signal 50 60 1"));

    d.core.Session().refreshed = true;
    d.core.Session().dataOk = true;
    d.feed(msg::QuerySignal, frameOf(msg::SignalStatus, {0x80 | 50, 0x80 | 60}));
    EXPECT_TRUE(d.called("signal 50 60 1"));
    EXPECT_TRUE(d.called("machineState 4 1"));
    EXPECT_EQ(d.core.Database()->PlayingDisplayCode(), item_kind::PlayingLocked);
    const auto lines = d.pane.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Signal Source Unknow Locked"), lines.end());

    // Not locked: grey gauges; after a time-out the icon shows red even when locked.
    d.feed(0, frameOf(msg::SignalStatus, {50, 60}));
    EXPECT_TRUE(d.called("signal grey 1"));
    EXPECT_TRUE(d.called("machineState 5 1"));
    EXPECT_EQ(d.pane.Count("Signal Source Unknow Unlocked"), 1);
}

TEST(Dispatcher, ProgramsAreNotTakenWhileAScanRuns)
{
    OfflineDevice d;
    std::vector<uint8_t> program(20, 0);
    program[6] = 1; // TV
    program.insert(program.end(), {'N', 'e', 'w', 's', 0});
    d.core.Session().scanState = 1;
    d.feed(0, frameOf(msg::ProgramInfo, program));
    {
        const auto db = d.core.Database();
        std::lock_guard lock(db->ProgramLock(item_kind::Tv));
        EXPECT_TRUE(db->Programs(item_kind::Tv).empty());
    }
    d.core.Session().scanState = DeviceSession::kNoScan;
    d.feed(0, frameOf(msg::ProgramInfo, program));
    const auto db = d.core.Database();
    std::lock_guard lock(db->ProgramLock(item_kind::Tv));
    EXPECT_EQ(db->Programs(item_kind::Tv).size(), 1u);
}

TEST(Dispatcher, ShortAndUnknownFramesChangeNothing)
{
    OfflineDevice d;
    d.feed(msg::QueryVersion, frameOf(msg::StatusReply, {msg::QueryVersion}));
    d.feed(0, frameOf(0x77, {1, 2, 3}));
    d.feed(0, frameOf(msg::SignalStatus, {0x85}));
    d.feed(0, frameOf(msg::SatelliteInfo, {1, 0xFF}));
    EXPECT_TRUE(d.pane.Lines().empty());
    EXPECT_TRUE(d.view.Calls().empty());
}

// --- against the simulator ---

struct LiveDevice
{
    explicit LiveDevice(const std::string& address)
        : core(context, view, address + ":Live", kFast, "no-logs")
    {
        SetLanguageFlag(1);
        BuildLanguageTable();
        core.LogPane().SetObserver(&pane);
    }
    ~LiveDevice()
    {
        core.Teardown();
        core.LogPane().SetObserver(nullptr);
    }
    bool refreshed()
    {
        return WaitUntil([&] {
            const auto db = core.Database();
            return core.Loaded() && db && core.Session().CurrentCode() == 0 &&
                   db->IsComplete(item_kind::Tv) && db->IsComplete(item_kind::Radio);
        });
    }

    SessionContext context;
    RecordingView view;
    RecordingPane pane;
    DeviceCore core;
};

TEST(DispatcherLive, DeletedTpLeavesBothTreesAndTheListsMatchTheDevice)
{
    sim::Simulator irb(sim::GenerateDatabase({2, 6, 24, 12}, nullptr).value(), sim::QuietOptions());
    ASSERT_TRUE(irb.Start("127.0.62.1", 8888));
    LiveDevice d("127.0.62.1");
    ASSERT_TRUE(d.core.Session().ConnectAndStart());
    ASSERT_TRUE(d.refreshed());
    EXPECT_EQ(DatabaseJson(*d.core.Database()), sim::DatabaseToJson(irb.Database()));

    const auto db = d.core.Database();
    std::vector<uint8_t> tpWire;
    size_t tvNodesBefore = d.core.TvTree().Size();
    size_t radioNodesBefore = d.core.RadioTree().Size();
    {
        std::lock_guard lock(db->TpLock());
        TpRecord* tp = db->Tps()[1].get();
        tpWire.assign(tp->wire.begin(), tp->wire.end());
        db->SetPendingTp(tp);
    }
    d.core.Session().SendRequest(msg::DeleteTp, 0, 0, tpWire);
    ASSERT_TRUE(d.pane.WaitFor("Delete TPOK"));
    ASSERT_TRUE(WaitUntil([&] { return d.core.Session().CurrentCode() == 0; }));
    EXPECT_EQ(DatabaseJson(*d.core.Database()), sim::DatabaseToJson(irb.Database()));
    EXPECT_LT(d.core.TvTree().Size(), tvNodesBefore);
    EXPECT_LT(d.core.RadioTree().Size(), radioNodesBefore);
}

TEST(DispatcherLive, PidLineKeepsItsFormatWhenTheProgramIsShownAgain)
{
    sim::Simulator irb(sim::GenerateDatabase({1, 2, 4, 0}, nullptr).value(), sim::QuietOptions());
    ASSERT_TRUE(irb.Start("127.0.62.2", 8888));
    LiveDevice d("127.0.62.2");
    d.context.hexShowing = 2;
    ASSERT_TRUE(d.core.Session().ConnectAndStart());
    ASSERT_TRUE(d.refreshed());
    auto pidLine = [&] {
        const auto db = d.core.Database();
        std::lock_guard lock(db->ProgramLock(item_kind::Tv));
        const TreeNodeId node = db->Programs(item_kind::Tv)[0]->node;
        return d.core.TvTree().Text(d.core.TvTree().FirstChild(node));
    };
    const std::string hex = pidLine();
    ASSERT_GE(hex.size(), 3u);
    EXPECT_EQ(hex[hex.size() - 3], 'h');

    d.context.hexShowing = 1; // the next PID lines would be decimal
    d.core.Session().numberMode = 1;
    d.core.Session().SendRequest(msg::QueryProgram, 0, 1);
    ASSERT_TRUE(irb.WaitForReceived(2, 5s));
    ASSERT_TRUE(WaitUntil([&] { return d.core.Session().CurrentCode() == 0; }));
    EXPECT_EQ(pidLine(), hex);
}

TEST(DeviceDump, MaximalDatabaseIsPrintedExactly)
{
    sim::Simulator irb(sim::GenerateDatabase({255, 255, 255, 255}, nullptr).value(),
                       sim::QuietOptions());
    ASSERT_TRUE(irb.Start("127.0.62.3", 8888));
    DumpOptions options;
    options.address = "127.0.62.3";
    const DumpResult result = RunDeviceDump(options);
    ASSERT_EQ(result.exitCode, 0) << result.reason;
    EXPECT_EQ(WithoutSnapshotHead(result.json), sim::DatabaseToJson(irb.Database()));
    const auto head = nlohmann::json::parse(result.json);
    EXPECT_EQ(head["format"], 1);
    EXPECT_EQ(head["device"]["address"], "127.0.62.3");
    EXPECT_EQ(head["taken_at"].get<std::string>().size(), 20u); // 2026-12-09T02:11:35Z
}

TEST(DeviceDump, LostBurstFramesCutFramesAndNoiseStillGiveTheExactDatabase)
{
    sim::SimulatorOptions options = sim::QuietOptions();
    options.seed = 11;
    options.faults.burstDropShare = 0.10;
    options.faults.cutShare = 0.5;
    options.faults.garbageShare = 0.2;
    sim::Simulator irb(sim::GenerateDatabase({255, 255, 255, 255}, nullptr).value(), options);
    ASSERT_TRUE(irb.Start("127.0.62.4", 8888));
    DumpOptions dump;
    dump.address = "127.0.62.4";
    dump.timeLimit = 120s;
    const DumpResult result = RunDeviceDump(dump);
    ASSERT_EQ(result.exitCode, 0) << result.reason;
    EXPECT_EQ(WithoutSnapshotHead(result.json), sim::DatabaseToJson(irb.Database()));
    EXPECT_GT(irb.Stats().dropped, 0u);
}

TEST(DeviceDump, UnreachableAndBadAddresses)
{
    DumpOptions options;
    options.address = "127.0.62.5"; // nothing listens
    DumpResult result = RunDeviceDump(options);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.reason.find("System error, exit connection23"), std::string::npos);

    options.address = "not-an-address";
    result = RunDeviceDump(options);
    EXPECT_EQ(result.exitCode, 1);
}

TEST(Dispatcher, SettingsThatArrivedInTheBackgroundEnableTheirTabOnActivation)
{
    OfflineDevice d;
    d.core.Content().SetWindowState(false, DatabaseContent::kTabPrograms);
    const std::vector<uint8_t> system = {0x00, 0x80, 0x0C, 0x00, 10, 0, 0, 1, 255, 0,
                                         0,    0,    0,    1,    2,  3, 4, 5, 0,   0};
    d.feed(msg::QuerySystemInfo, frameOf(msg::SystemInfo, system));
    EXPECT_FALSE(d.called("systemTab 1")); // not the active window, not its tab
    d.core.Content().SetWindowState(true, DatabaseContent::kTabPrograms);
    EXPECT_TRUE(d.called("systemTab 1"));
}
