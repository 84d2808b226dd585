#include "core/loopback.h"
#include "link/message_code.h"
#include "session_harness.h"
#include "sim/database_generator.h"
#include "sim/simulator.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace vireo;
using namespace vireo::test;
using namespace std::chrono_literals;

namespace {

// One protocol millisecond lasts 20 µs: the 2 s reply limit becomes 40-60 ms.
constexpr LinkTiming kFast{std::chrono::microseconds(20)};

sim::DeviceDatabase smallDatabase()
{
    return sim::GenerateDatabase({2, 4, 6, 2}, nullptr).value();
}

size_t countCode(const std::vector<std::vector<uint8_t>>& frames, uint8_t code)
{
    return static_cast<size_t>(std::count_if(frames.begin(), frames.end(),
                                             [code](const auto& f) { return f[1] == code; }));
}

std::vector<uint8_t> codesOf(const std::vector<std::vector<uint8_t>>& frames)
{
    std::vector<uint8_t> codes;
    for (const auto& f : frames) {
        codes.push_back(f[1]);
    }
    return codes;
}

// Waits until the session has no request in flight.
bool waitIdle(DeviceSession& s, std::chrono::milliseconds timeout = 5s)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (s.CurrentCode() == 0 && s.Queue() != nullptr && s.Queue()->IsEmpty()) {
            return true;
        }
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

} // namespace

TEST(Session, ConnectRefreshAndARequestWithItsReply)
{
    sim::Simulator irb(smallDatabase(), sim::QuietOptions());
    ASSERT_TRUE(irb.Start("127.0.61.1", 8888));
    SessionHarness h("127.0.61.1:Studio", kFast);
    ASSERT_TRUE(h.session.ConnectAndStart());
    EXPECT_TRUE(h.session.everConnected);
    EXPECT_TRUE(h.session.linked);
    ASSERT_TRUE(h.pane.WaitFor("Begin monitoring"));
    ASSERT_TRUE(waitIdle(h.session)); // UpdateAll answered by its final status

    h.session.SendRequest(msg::QueryVersion);
    ASSERT_TRUE(irb.WaitForReceived(2, 5s));
    ASSERT_TRUE(waitIdle(h.session));
    EXPECT_EQ(codesOf(irb.ReceivedFrames()),
              (std::vector<uint8_t>{msg::UpdateAll, msg::QueryVersion}));

    const auto lines = h.pane.Lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Begin connect remote port");
    EXPECT_EQ(lines[1], "Connect successfully");
    EXPECT_EQ(h.pane.Count("IRD doesn't respond message"), 0);
    const auto calls = h.view.Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "machineState 2 1"), calls.end());
    EXPECT_NE(std::find(calls.begin(), calls.end(), "toolbarLinked 1"), calls.end());
}

TEST(Session, UnansweredRequestIsSentTwiceThenDropped)
{
    sim::SimulatorOptions options = sim::QuietOptions();
    options.faults.silent = true;
    sim::Simulator irb(smallDatabase(), options);
    ASSERT_TRUE(irb.Start("127.0.61.2", 8888));
    SessionHarness h("127.0.61.2:Silent", kFast);
    ASSERT_TRUE(h.session.ConnectIrd());
    ASSERT_TRUE(h.session.StartSession());

    h.session.SendRequest(msg::QuerySystemInfo);
    h.session.SendRequest(msg::Reboot); // waits for the first to be dropped
    ASSERT_TRUE(h.pane.WaitFor("IRD doesn't respond message", 1));
    EXPECT_EQ(countCode(irb.ReceivedFrames(), msg::Reboot), 0u);

    ASSERT_TRUE(h.pane.WaitFor("IRD doesn't respond message", 6));
    ASSERT_TRUE(waitIdle(h.session));
    const auto frames = irb.ReceivedFrames();
    EXPECT_EQ(codesOf(frames),
              (std::vector<uint8_t>{msg::QuerySystemInfo, msg::QuerySystemInfo, msg::Reboot}));
    EXPECT_EQ(h.pane.Count("IRD doesn't respond message"), 6); // four, then two
    EXPECT_EQ(h.pane.Count("Reboot"), 1);
}

TEST(Session, StopScanOvertakesAScanAtOnce)
{
    sim::SimulatorOptions options = sim::QuietOptions();
    options.faults.silent = true;
    sim::Simulator irb(smallDatabase(), options);
    ASSERT_TRUE(irb.Start("127.0.61.3", 8888));
    SessionHarness h("127.0.61.3:Scan"); // real time: the scan waits 30 s
    ASSERT_TRUE(h.session.ConnectIrd());
    ASSERT_TRUE(h.session.StartSession());
    h.session.scanCount = 1;

    h.session.SendRequest(msg::ScanSatellite, 0, 0, std::vector<uint8_t>(8, 0));
    ASSERT_TRUE(irb.WaitForReceived(1, 5s));
    h.session.SendRequest(msg::QueryVersion); // refused while the scan runs
    h.session.SendRequest(msg::StopScan);
    ASSERT_TRUE(irb.WaitForReceived(2, 5s)); // far sooner than the scan's 30 s
    EXPECT_TRUE(h.session.stopScanSent);
    EXPECT_EQ(codesOf(irb.ReceivedFrames()),
              (std::vector<uint8_t>{msg::ScanSatellite, msg::StopScan}));
    EXPECT_EQ(h.pane.Count("Satellite Scan"), 1);
    EXPECT_EQ(h.pane.Count("Stop Scan"), 1);

    // Closing the window in the middle of the wait ends the thread at once,
    // without the disconnect clean-up.
    const auto start = std::chrono::steady_clock::now();
    h.session.RequestStop();
    h.session.Teardown();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(h.pane.Count("Disconnect successfully"), 0);
}

TEST(Session, LinkLossWithFailedReconnectDisconnects)
{
    // A bare listener plays the IRD: it takes the connection, then goes away
    // with an orderly close, and the port refuses from then on.
    auto listener = std::make_unique<LoopbackListener>("127.0.61.4", 8888);
    ASSERT_TRUE(listener->ok());
    SessionHarness h("127.0.61.4:Lost", kFast);
    ASSERT_TRUE(h.session.ConnectIrd());
    ASSERT_TRUE(h.session.StartSession());
    ASSERT_TRUE(h.pane.WaitFor("Begin monitoring"));
    const int peer = listener->accept();
    ASSERT_GE(peer, 0);
    listener.reset();
    ::shutdown(peer, SHUT_RDWR);
    ::close(peer);

    ASSERT_TRUE(h.view.WaitFor("machineState 1 1")); // the last step of the clean-up
    const auto lines = h.pane.Lines();
    const auto fail = std::find(lines.begin(), lines.end(), "Re-connect Communication Port fail!");
    ASSERT_NE(fail, lines.end());
    EXPECT_EQ(std::find(fail, lines.end(), "Disconnect successfully") - fail, 1);
    EXPECT_EQ(h.pane.Count("Communication has failed, exit connection"), 0);
    EXPECT_FALSE(h.session.everConnected);
    EXPECT_FALSE(h.session.linked);
    EXPECT_EQ(h.view.Calls().back(), "machineState 1 1");
}

// The operator disconnects while the session thread connects to a device
// that does not answer, which takes up to about 2.45 s. The window's calls
// never wait for the session lock the connect holds across its waits, and
// the connect gives up at once rather than running out its attempts.
TEST(Session, DisconnectDuringAConnectNeitherWaitsForItNorLetsItRunOut)
{
    // A listener whose backlog is full never completes a connection.
    LoopbackListener silent("127.0.130.2", 8888, 0);
    ASSERT_TRUE(silent.ok());
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(8888);
        a.sin_addr.s_addr = htonl(loopbackAddress("127.0.130.2"));
        ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    std::this_thread::sleep_for(20ms);           // let the fillers' handshakes settle
    SessionHarness h("127.0.130.2:Unreachable"); // real time: the attempts last 350, 700, 1400 ms

    ASSERT_TRUE(h.session.StartSession()); // not linked: the thread connects first
    ASSERT_TRUE(h.pane.WaitFor("Begin connect remote port"));
    ASSERT_TRUE(WaitUntil([&] { // the connect holds the session lock: it is waiting
        if (!h.session.SessionLock().try_lock()) {
            return true;
        }
        h.session.SessionLock().unlock();
        return false;
    }));
    h.session.RequestDisconnect();
    ASSERT_TRUE(h.pane.WaitFor("Disconnect successfully"));
    EXPECT_EQ(h.pane.Count("Re-connect Communication Port fail!"), 0);
    EXPECT_EQ(h.pane.Count("System error, exit connection24"), 0);
    EXPECT_FALSE(h.session.everConnected);

    // Whoever holds the session lock (a connect waiting on the network), the
    // window's calls return before it lets go.
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    std::atomic<bool> heldToTheEnd{false};
    std::thread holder([&] {
        std::lock_guard lock(h.session.SessionLock());
        held = true;
        heldToTheEnd = !WaitUntil([&] { return release.load(); }, 30s);
    });
    ASSERT_TRUE(WaitUntil([&] { return held.load(); }));
    h.session.RefreshIrd();
    h.session.SendRequest(msg::QueryVersion);
    h.session.RequestDisconnect();
    h.session.RequestStop();
    release = true;
    holder.join();
    EXPECT_FALSE(heldToTheEnd);
    for (int fd : fillers) {
        ::close(fd);
    }
}

// A refresh (a Renew, or one a reply asks for) that comes between a request
// to end the session and the loop's next check must not cancel it: the
// restart or upgrade would be lost and its flag fire at some later stop.
TEST(Session, ARefreshDoesNotUndoARequestToEndTheSession)
{
    for (void (DeviceSession::*request)() :
         {&DeviceSession::RequestDisconnect, &DeviceSession::RequestRestart,
          &DeviceSession::RequestUpgrade}) {
        SessionHarness h("127.0.130.3:Ending", kFast);
        (h.session.*request)();
        h.session.RefreshIrd();
        EXPECT_TRUE(h.session.stop);
    }
    SessionHarness h("127.0.130.3:Plain", kFast);
    h.session.stop = true; // stopped for no request: a refresh lets it go on
    h.session.RefreshIrd();
    EXPECT_FALSE(h.session.stop);
}

TEST(Session, TransportErrorPausesAndResends)
{
    sim::SimulatorOptions options = sim::QuietOptions();
    options.faults.statusOverrides[msg::QuerySystemInfo] = 1;
    sim::Simulator irb(smallDatabase(), options);
    ASSERT_TRUE(irb.Start("127.0.61.5", 8888));
    SessionHarness h("127.0.61.5:Busy", kFast);
    ASSERT_TRUE(h.session.ConnectIrd());
    ASSERT_TRUE(h.session.StartSession());

    h.session.SendRequest(msg::QuerySystemInfo);
    ASSERT_TRUE(h.pane.WaitFor("Transport error, Re-send auto", 2));
    EXPECT_GE(countCode(irb.ReceivedFrames(), msg::QuerySystemInfo), 2u);
    // A device that asks for the request again every time does not keep it
    // going forever: it is given up after a bounded number of sends.
    ASSERT_TRUE(WaitUntil([&] { return h.session.CurrentCode() == 0; }));
    // The last send lets the request go as it leaves: give it time to arrive.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const size_t sent = countCode(irb.ReceivedFrames(), msg::QuerySystemInfo);
    EXPECT_LE(sent, size_t(4 * (1 + OperEvent::kMaxResendRequests)));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(countCode(irb.ReceivedFrames(), msg::QuerySystemInfo), sent);
}

TEST(Session, RefusedHostAndBadCaptions)
{
    {
        SessionHarness h("127.0.61.6:Nobody", kFast);
        EXPECT_FALSE(h.session.ConnectIrd());
        EXPECT_EQ(h.pane.Lines(), (std::vector<std::string>{"Begin connect remote port",
                                                            "System error, exit connection23"}));
        EXPECT_FALSE(h.session.everConnected);
    }
    for (const char* caption :
         {"no-colon-in-this-caption", "127.0.61.256:X", "127.0.61:X", "0000127.0.0.0001:X"}) {
        SessionHarness h(caption, kFast);
        EXPECT_FALSE(h.session.ConnectIrd()) << caption;
        EXPECT_TRUE(h.pane.Lines().empty()) << caption;
    }
}

TEST(Session, SignalIsPolledOnlyWhileAProgramPlays)
{
    sim::Simulator irb(smallDatabase(), sim::QuietOptions());
    ASSERT_TRUE(irb.Start("127.0.61.7", 8888));
    SessionHarness h("127.0.61.7:Poll", kFast);
    h.session.querySignalTicked = true;
    ASSERT_TRUE(h.session.ConnectAndStart());
    ASSERT_TRUE(waitIdle(h.session));
    // Idle passes last one "second" (20 ms): a dozen of them, no poll.
    std::this_thread::sleep_for(250ms);
    EXPECT_EQ(countCode(irb.ReceivedFrames(), msg::QuerySignal), 0u);

    h.content.SetPlaying(true);
    ASSERT_TRUE(irb.WaitForReceived(3, 5s));
    EXPECT_GE(countCode(irb.ReceivedFrames(), msg::QuerySignal), 1u);
}

TEST(Session, AcceptedWithRestartStartsANewSessionOrHandsOverToTheUpgrade)
{
    sim::SimulatorOptions options = sim::QuietOptions();
    options.faults.statusOverrides[msg::Reboot] = 175;
    options.faults.statusOverrides[msg::StartUpgrade] = 175;
    sim::Simulator irb(smallDatabase(), options);
    ASSERT_TRUE(irb.Start("127.0.61.8", 8888));
    SessionHarness h("127.0.61.8:Restart", kFast);
    ASSERT_TRUE(h.session.ConnectIrd());
    ASSERT_TRUE(h.session.StartSession());

    h.session.SendRequest(msg::Reboot);
    ASSERT_TRUE(h.pane.WaitFor("Restart Communication!"));
    ASSERT_TRUE(h.pane.WaitFor("Begin monitoring", 2));
    EXPECT_FALSE(h.session.restartRequested);
    ASSERT_NE(h.session.Queue(), nullptr); // the new session has its own queue

    // The new session asks for everything by itself, once, and then works: a
    // request is sent and answered.
    ASSERT_TRUE(irb.WaitForReceived(2, 5s));
    ASSERT_TRUE(waitIdle(h.session));
    h.session.SendRequest(msg::QueryVersion);
    ASSERT_TRUE(irb.WaitForReceived(3, 5s));
    ASSERT_TRUE(waitIdle(h.session));
    EXPECT_EQ(codesOf(irb.ReceivedFrames()),
              (std::vector<uint8_t>{msg::Reboot, msg::UpdateAll, msg::QueryVersion}));
    EXPECT_EQ(h.pane.Count("Update IRD Information"), 1);

    std::mutex mutex;
    std::condition_variable handedOver;
    bool upgrading = false;
    h.session.SetUpgradeHandOver([&] {
        std::lock_guard lock(mutex);
        upgrading = true;
        handedOver.notify_all();
    });
    h.session.SendRequest(msg::StartUpgrade);
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(handedOver.wait_for(lock, 5s, [&] { return upgrading; }));
    }
    EXPECT_EQ(h.session.Queue(), nullptr);
    EXPECT_TRUE(h.session.threadEnded);
    EXPECT_EQ(h.pane.Count("Begin monitoring"), 2);
}
