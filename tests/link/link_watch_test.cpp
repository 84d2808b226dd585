// A window's session whose device goes away: the single reconnect and its
// log lines as always, then a background watch with bounded attempts and
// log lines, observers that keep seeing the link lost, and the device back
// and refreshed without anyone asking.

#include "lang/language_table.h"
#include "link/message_code.h"
#include "link/outage_rows.h"
#include "session_harness.h"
#include "sim/database_generator.h"
#include "sim/simulator.h"

#include <gtest/gtest.h>

using namespace vireo;
using namespace vireo::test;
using namespace std::chrono_literals;

namespace {

class EventLog : public DeviceObserver
{
public:
    void OnEvent(const DeviceEvent& event) override
    {
        std::lock_guard lock(m_mutex);
        m_kinds.push_back(event.kind);
    }
    int Count(DeviceEvent::Kind kind) const
    {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(std::count(m_kinds.begin(), m_kinds.end(), kind));
    }

private:
    mutable std::mutex m_mutex;
    std::vector<DeviceEvent::Kind> m_kinds;
};

int linesStartingWith(const RecordingPane& pane, const std::string& start)
{
    int n = 0;
    for (const std::string& line : pane.Lines()) {
        n += line.rfind(start, 0) == 0 ? 1 : 0;
    }
    return n;
}

} // namespace

TEST(LinkWatch, AGivenUpDeviceIsWatchedBoundedAndComesBackRefreshed)
{
    using K = DeviceEvent::Kind;
    const auto database = sim::GenerateDatabase({2, 4, 6, 2}, nullptr).value();
    auto ird = std::make_unique<sim::Simulator>(database, sim::QuietOptions());
    ASSERT_TRUE(ird->Start("127.23.7.1", 8888));
    // One protocol ms lasts 20 us: the watch's 1 s is 20 ms, its 60 s cap 1.2 s.
    LinkTiming timing{std::chrono::microseconds(20)};
    timing.watchAfterGivingUp = true;
    SessionHarness h("127.23.7.1:Watched", timing);
    auto events = std::make_shared<EventLog>();
    h.session.Observers().Add(events);
    ASSERT_TRUE(h.session.ConnectAndStart());
    ASSERT_TRUE(h.pane.WaitFor("Begin monitoring"));

    // The device goes away: the specified lines (a failed reconnect, or a
    // link the device reset), the window disconnected...
    ird.reset();
    ASSERT_TRUE(h.pane.WaitFor("Disconnect successfully"));
    ASSERT_TRUE(WaitUntil([&] { return h.session.watching.load(); }));
    const auto lines = h.pane.Lines();
    const auto end = std::find(lines.begin(), lines.end(), "Disconnect successfully");
    ASSERT_NE(end, lines.begin());
    EXPECT_TRUE(*(end - 1) == "Re-connect Communication Port fail!" ||
                *(end - 1) == "Communication has failed, exit connection")
        << *(end - 1);
    EXPECT_FALSE(h.session.everConnected);
    ASSERT_TRUE(h.view.WaitFor("machineState 1 1"));

    // ...and the watch after it: attempts 20, 40, 80... ms apart up to the
    // cap, a line when the watch starts and one for the way it fails, and
    // the observers still see the link lost, never a disconnect.
    const int before = h.session.reconnects;
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(2500ms);
    const double elapsedCaps =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / 1.2;
    const int attempts = h.session.reconnects - before;
    EXPECT_GE(attempts, 5);
    EXPECT_LE(attempts, 7 + static_cast<int>(elapsedCaps));
    EXPECT_EQ(h.pane.Count(GetLangText(outage_rows::Watching)), 1);
    EXPECT_LE(linesStartingWith(h.pane, GetLangText(142)), 2); // the reconnect's, the watch's
    EXPECT_LE(events->Count(K::ConnectFailed), 2);
    EXPECT_EQ(events->Count(K::LinkLost), 1);
    EXPECT_EQ(events->Count(K::Disconnected), 0);

    // The device is back: found at the next attempt, the window refreshed.
    ird = std::make_unique<sim::Simulator>(database, sim::QuietOptions());
    ASSERT_TRUE(ird->Start("127.23.7.1", 8888));
    ASSERT_TRUE(WaitUntil([&] { return h.session.linked && !h.session.watching; }, 5s));
    EXPECT_TRUE(h.session.everConnected);
    ASSERT_TRUE(ird->WaitForReceived(1, 5s));
    EXPECT_EQ(ird->ReceivedFrames().front()[1], msg::UpdateAll);
    ASSERT_TRUE(h.view.WaitFor("machineState 2 1"));
    EXPECT_EQ(events->Count(K::Reconnected), 1);
    EXPECT_EQ(events->Count(K::Disconnected), 0);
    EXPECT_EQ(h.session.linksRestored, 1);
    // It closed the link and refused connections meanwhile: it restarted.
    EXPECT_EQ(events->Count(K::Restarted), 1);

    // Gone again and given up by the operator: the watch ends, and with it
    // the outage (a disconnect for the observers).
    ird.reset();
    ASSERT_TRUE(WaitUntil([&] { return h.session.watching.load(); }, 5s));
    EXPECT_EQ(events->Count(K::LinkLost), 2);
    h.session.RequestDisconnect();
    ASSERT_TRUE(WaitUntil([&] { return !h.session.watching && h.session.threadEnded; }, 2s));
    ASSERT_TRUE(WaitUntil([&] { return events->Count(K::Disconnected) == 1; }, 2s));
    EXPECT_FALSE(h.session.linked);
}

TEST(LinkWatch, AWatchedDeviceIsTriedAtOnceWhenAskedAndAClosingWindowEndsTheWatch)
{
    const auto database = sim::GenerateDatabase({2, 4, 6, 2}, nullptr).value();
    auto ird = std::make_unique<sim::Simulator>(database, sim::QuietOptions());
    ASSERT_TRUE(ird->Start("127.23.7.2", 8888));
    // Real seconds: a watch left to itself would not try again within the test.
    LinkTiming timing{std::chrono::microseconds(1000)};
    timing.watchAfterGivingUp = true;
    timing.watchMaxMs = 60000;
    auto h = std::make_unique<SessionHarness>("127.23.7.2:Asked", timing);
    ASSERT_TRUE(h->session.ConnectAndStart());
    ird.reset();
    ASSERT_TRUE(WaitUntil([&] { return h->session.watching.load(); }, 15s));

    // The operator's connect while watched, between the attempts at 1 s and
    // 3 s: tried now, with its lines.
    std::this_thread::sleep_for(1500ms);
    ird = std::make_unique<sim::Simulator>(database, sim::QuietOptions());
    ASSERT_TRUE(ird->Start("127.23.7.2", 8888));
    const int connectLines = h->pane.Count("Connect successfully");
    ASSERT_TRUE(h->session.WatchNow());
    ASSERT_TRUE(WaitUntil([&] { return h->session.linked.load(); }, 700ms));
    EXPECT_TRUE(h->pane.WaitFor("Connect successfully", connectLines + 1));
    EXPECT_TRUE(h->pane.WaitFor("Begin connect remote port", 2));
    EXPECT_FALSE(h->session.WatchNow()); // no longer watching

    // Gone again, then the window closes while it is watched: at once.
    ird.reset();
    ASSERT_TRUE(WaitUntil([&] { return h->session.watching.load(); }, 15s));
    const auto closing = std::chrono::steady_clock::now();
    h->session.RequestStop();
    h.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - closing, 1s);
}
