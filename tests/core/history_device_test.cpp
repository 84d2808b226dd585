#include "history/history_query.h"
#include "history/history_service.h"
#include "temp_dir.h"
#include "wait_for.h"

#include <gtest/gtest.h>

namespace vireo {
namespace {

constexpr int64_t kT0 = 1'800'000'000'000;
constexpr int64_t kS = kMsPerSecond;

// A device given a new address goes on as the same device: its reports,
// periods and active alarm follow it; a device the program no longer has
// loses the alarms it left; a device never reached is an outage.
TEST(HistoryDevices, AddressChangesAndDevicesThatGo)
{
    using K = DeviceEvent::Kind;
    TempDir dir;
    ManualClock clock(kT0);
    HistoryService::Options options;
    options.file = dir.path() / kHistoryFileName;
    options.clock = &clock;
    options.writer.batchMs = 5;
    options.writer.tickMs = 5;
    options.writer.syncMs = 5;
    HistoryService service(options);
    ASSERT_TRUE(service.Ok());
    auto moving = service.MakeRecorder({"10.0.0.7", "Uplink"});
    auto leaving = service.MakeRecorder({"10.0.0.8", "Spare"});
    auto unreachable = service.MakeRecorder({"10.0.0.9", "Far"});
    for (auto* r : {moving.get(), leaving.get()}) {
        r->OnEvent({K::Connected, kT0, 0, {}});
    }
    unreachable->OnEvent({K::ConnectFailed, kT0, 0, "refused"});
    for (int s = 0; s <= 10; ++s) {
        clock.Set(kT0 + s * kS);
        moving->OnSignal({clock.NowMs(), false, true, 40, 30}); // unlocked: an alarm
        leaving->OnSignal({clock.NowMs(), false, true, 40, 30});
    }
    service.Alarms().Tick();
    ASSERT_EQ(service.Alarms().Active().size(), 3u); // two unlocked, one link lost

    moving->OnEvent({K::AddressChanged, clock.NowMs(), 0, "10.0.1.7"});
    EXPECT_EQ(moving->Key().address, "10.0.1.7");
    clock.Advance(kS);
    moving->OnSignal({clock.NowMs(), false, true, 41, 31});
    leaving.reset();                                          // the operator deleted it
    service.Alarms().RetainDevices({"10.0.1.7", "10.0.0.9"}); // at the next lease answer
    ASSERT_TRUE(waitFor([&] { return service.Alarms().Active().size() == 2; }));
    const auto active = service.Alarms().Active();
    ASSERT_EQ(active.size(), 2u);
    for (const Alarm& a : active) {
        EXPECT_NE(a.address, "10.0.0.8");
        EXPECT_EQ(a.address == "10.0.1.7", a.rule == AlarmRuleKind::Unlocked) << a.address;
    }
    unreachable->OnEvent({K::ConnectFailed, clock.NowMs(), 0, "refused"});

    service.Writer().Flush();
    auto q = service.OpenQuery();
    const TimeRange all{kT0, kT0 + 60 * kS};
    std::vector<std::string> addresses;
    for (const auto& d : q->Devices()) {
        addresses.push_back(d.address);
    }
    std::sort(addresses.begin(), addresses.end());
    EXPECT_EQ(addresses, (std::vector<std::string>{"10.0.0.8", "10.0.0.9", "10.0.1.7"}));
    EXPECT_EQ(q->Samples("10.0.1.7", all).size(), 12u);
    EXPECT_EQ(q->Periods("10.0.1.7", all, PeriodKind::Connected).size(), 1u);
    ASSERT_EQ(q->Alarms("10.0.1.7", all).size(), 1u);
    EXPECT_TRUE(q->Alarms("10.0.1.7", all)[0].Active());
    ASSERT_EQ(q->Alarms("10.0.0.8", all).size(), 1u);
    EXPECT_FALSE(q->Alarms("10.0.0.8", all)[0].Active());
    const auto far = q->Periods("10.0.0.9", all, PeriodKind::LinkLost);
    ASSERT_EQ(far.size(), 1u);
    EXPECT_EQ(far[0].beginMs, kT0);
    EXPECT_TRUE(far[0].open);
}

} // namespace
} // namespace vireo
