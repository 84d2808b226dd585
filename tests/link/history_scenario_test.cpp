// A device whose simulated IRD loses lock for 12 s, recorded by the history
// through a real session: reports, events, the outage and its alarm.

#include "core/temp_dir.h"
#include "device/device_core.h"
#include "history/history_service.h"
#include "session_harness.h"
#include "sim/database_generator.h"
#include "sim/simulator.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace vireo {
namespace {

using namespace std::chrono_literals;
using Kind = DeviceEvent::Kind;

struct AlarmLog : AlarmObserver
{
    std::mutex mutex;
    std::vector<Alarm> raised, cleared;
    void OnAlarmRaised(const Alarm& a) override
    {
        std::lock_guard lock(mutex);
        raised.push_back(a);
    }
    void OnAlarmCleared(const Alarm& a) override
    {
        std::lock_guard lock(mutex);
        cleared.push_back(a);
    }
    size_t Cleared()
    {
        std::lock_guard lock(mutex);
        return cleared.size();
    }
};

TEST(HistoryScenario, ScriptedOutageIsRecordedAlarmedAndCleared)
{
    const std::string address = "127.0.150.1";
    TempDir dir;
    HistoryService::Options historyOptions;
    historyOptions.file = dir.path() / kHistoryFileName;
    historyOptions.writer.batchMs = 50;
    historyOptions.writer.tickMs = 100;
    HistoryService history(historyOptions);
    ASSERT_TRUE(history.Ok()) << history.Error();
    auto alarms = std::make_shared<AlarmLog>();
    history.Alarms().AddObserver(alarms);

    sim::SimulatorOptions options = sim::QuietOptions();
    std::string why;
    auto script = sim::ParseSignalScript("# locked, 12 s without lock, locked\n"
                                         "2 70 60 1\n12 5 0 0\n600 72 61 1\n",
                                         &why);
    ASSERT_TRUE(script) << why;
    options.signalScript = *script;
    sim::Simulator irb(sim::GenerateDatabase({2, 4, 6, 2}, nullptr).value(), options);

    SetLanguageFlag(1);
    BuildLanguageTable();
    SessionContext context;
    test::RecordingView view;
    test::RecordingPane pane;
    auto recorder = history.MakeRecorder({address, "Scripted"});
    DeviceCore core(context, view, address + ":Scripted", LinkTiming{100us}, "no-logs",
                    DeviceSession::kIrdPort, recorder);
    core.LogPane().SetObserver(&pane);

    const int64_t begin = DeviceObservers::NowMs();
    ASSERT_TRUE(irb.Start(address, 8888));
    ASSERT_TRUE(core.Session().ConnectAndStart());
    ASSERT_TRUE(test::WaitUntil([&] { return alarms->Cleared() > 0; }, 40s));
    core.Teardown();
    core.LogPane().SetObserver(nullptr);
    const int64_t end = DeviceObservers::NowMs();

    // Raised once the lock had been gone 5 s, cleared 3 s after it came back.
    ASSERT_EQ(alarms->raised.size(), 1u);
    ASSERT_EQ(alarms->cleared.size(), 1u);
    EXPECT_EQ(alarms->raised[0].rule, AlarmRuleKind::Unlocked);
    EXPECT_TRUE(history.Alarms().Acknowledge(alarms->raised[0].id, "tester"));
    EXPECT_EQ(pane.Count("Alarm raised: signal unlocked"), 1);
    EXPECT_EQ(pane.Count("Alarm cleared: signal unlocked"), 1);

    history.Writer().Flush();
    auto q = history.OpenQuery();
    ASSERT_TRUE(q);
    const TimeRange range{begin - 1000, end + 1000};
    const auto samples = q->Samples(address, range);
    const auto unlocked =
        std::count_if(samples.begin(), samples.end(), [](auto& s) { return !s.locked; });
    EXPECT_GT(unlocked, 10);
    EXPECT_GT(static_cast<long>(samples.size()) - unlocked, 5);

    const auto outages = q->Outages(address, range);
    ASSERT_EQ(outages.size(), 1u);
    EXPECT_NEAR(outages[0].DurationMs(), 12000, 1500);
    EXPECT_FALSE(outages[0].open);
    const Availability availability = q->AvailabilityOf(address, range);
    EXPECT_NEAR(availability.connectedMs - availability.lockedMs, 12000, 1500);

    const int64_t raisedAfter = alarms->raised[0].raisedMs - outages[0].beginMs;
    EXPECT_GE(raisedAfter, 5000);
    EXPECT_LT(raisedAfter, 6500);

    std::vector<int> kinds;
    for (const auto& e : q->Events(address, range)) {
        kinds.push_back(e.kind);
    }
    for (Kind k :
         {Kind::Connected, Kind::VersionReported, Kind::RefreshComplete, Kind::Disconnected}) {
        EXPECT_NE(std::find(kinds.begin(), kinds.end(), static_cast<int>(k)), kinds.end())
            << static_cast<int>(k);
    }
    const auto stored = q->Alarms(address, range);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_NE(stored[0].clearedMs, 0);
    EXPECT_EQ(stored[0].acknowledgedBy, "tester");
}

} // namespace
} // namespace vireo
