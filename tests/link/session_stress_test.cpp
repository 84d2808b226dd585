// Two device windows share the process-wide event pool and talk to one
// simulated IRD that answers a maximal database with faults, while a second
// thread plays the operator: Renew, scans and StopScan, deletes, disconnects
// and reconnects, as fast as it can. Runs under ThreadSanitizer and
// AddressSanitizer in CI; what it checks at the end would also catch a lost
// or doubly freed event, a torn request on the wire or a wedged session.

#include "database/list_manager.h"
#include "database/program_commands.h"
#include "device/device_core.h"
#include "link/message_code.h"
#include "session_harness.h"
#include "sim/database_generator.h"
#include "sim/simulator.h"

#include <gtest/gtest.h>
#include <random>

using namespace vireo;
using namespace vireo::test;
using namespace std::chrono_literals;

namespace {

constexpr LinkTiming kFast{std::chrono::microseconds(20)};
constexpr auto kStormLength = 3s;

struct Window
{
    Window(SessionContext& context, const std::string& caption)
        : core(context, view, caption, kFast, "no-logs"), commands(core.Content())
    {}
    ~Window() { core.Teardown(); }

    // A TV program's node, or its TP's or satellite's (`level` 0, 1, 2).
    TreeNodeId someNode(std::mt19937& random, int level)
    {
        const auto db = core.Database();
        if (!db) {
            return kNoTreeNode;
        }
        TreeNodeId node;
        {
            std::lock_guard lock(db->ProgramLock(item_kind::Tv));
            const auto& programs = db->Programs(item_kind::Tv);
            if (programs.empty()) {
                return kNoTreeNode;
            }
            node = programs[random() % programs.size()]->node;
        }
        for (int i = 0; i < level && node != kNoTreeNode; ++i) {
            node = core.TvTree().Parent(node);
        }
        return node;
    }

    // One thing the operator does to this window, drawn by weight: StopScan
    // and Renew (which release the request in flight), scans, deletes and
    // Play, and once in a while a disconnect and reconnect.
    void act(std::mt19937& random, bool disconnects)
    {
        DeviceSession& session = core.Session();
        ProgramTree& tv = core.TvTree();
        const unsigned draw = random() % 1000;
        if (draw < 100) {
            // Renew, clicked more than once: each release lands while the
            // session thread takes up and sends the UpdateAll of the one before.
            for (unsigned clicks = 1 + random() % 3; clicks > 0; --clicks) {
                session.RefreshIrd();
            }
        } else if (draw < 400) {
            commands.StopScan();
        } else if (draw < 550) {
            tv.SetSelected(someNode(random, 1));
            commands.ScanTp(false);
        } else if (draw < 700) {
            tv.SetSelected(someNode(random, 0));
            commands.DeleteProgram(false);
        } else if (draw < 800) {
            tv.SetSelected(someNode(random, 1));
            commands.DeleteTp(false);
        } else if (draw < 850) {
            tv.SetSelected(someNode(random, 2));
            commands.DeleteSatellite(false);
        } else if (draw < 995 || !disconnects) {
            tv.SetSelected(someNode(random, 0));
            commands.Play(false);
        } else {
            if (session.everConnected) {
                session.RequestDisconnect();
                // The window's Connect is offered again once the clean-up is done.
                WaitUntil([&] { return !session.everConnected && session.threadEnded; }, 5s);
            }
            if (!session.everConnected && session.threadEnded) {
                session.ConnectAndStart();
            }
        }
    }

    RecordingView view;
    DeviceCore core;
    ProgramCommands commands;
};

} // namespace

TEST(SessionStress, OperatorAndDeviceAtFullPaceLeaveThePoolWholeAndTheWireClean)
{
    SetLanguageFlag(1);
    BuildLanguageTable();
    sim::SimulatorOptions options = sim::QuietOptions();
    options.faults.dropShare = 0.02;
    options.faults.burstDropShare = 0.02;
    options.faults.corruptShare = 0.02;
    options.faults.cutShare = 0.02;
    options.faults.garbageShare = 0.02;
    options.faults.reorder = true;
    options.faults.scanMs = 5;
    sim::Simulator irb(sim::GenerateDatabase({255, 255, 255, 255}, nullptr).value(), options);
    ASSERT_TRUE(irb.Start("127.0.130.1", 8888));

    SessionContext context; // one pool for both windows, as in the program
    {
        Window first(context, "127.0.130.1:First");
        Window second(context, "127.0.130.1:Second");
        ASSERT_TRUE(first.core.Session().ConnectAndStart());
        ASSERT_TRUE(second.core.Session().ConnectAndStart());

        std::atomic<bool> done{false};
        std::thread operatorThread([&] {
            std::mt19937 random(11);
            while (!done) {
                first.act(random, true);
                if (random() % 3 == 0) {
                    second.act(random, false);
                }
                std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
            }
        });
        std::this_thread::sleep_for(kStormLength);
        done = true;
        operatorThread.join();

        // Neither window is wedged: disconnected (which also drops the
        // answers still on their way to the Renews of the storm) and
        // connected again, without faults, both complete a refresh.
        irb.SetFaults({});
        for (Window* w : {&first, &second}) {
            DeviceSession& session = w->core.Session();
            if (session.everConnected || !session.threadEnded) {
                session.RequestDisconnect();
            }
            ASSERT_TRUE(WaitUntil([&] { return !session.everConnected && session.threadEnded; }));
            ASSERT_TRUE(session.ConnectAndStart());
        }
        for (Window* w : {&first, &second}) {
            EXPECT_TRUE(WaitUntil(
                [&] { return w->core.Loaded() && w->core.Session().CurrentCode() == 0; }, 60s))
                << w->core.LogPane().Caption();
        }
    }
    EXPECT_TRUE(context.pool.AllReturned())
        << "free " << context.pool.FreeCount() << ", handed out " << context.pool.LiveCount();
    const sim::SimulatorStats stats = irb.Stats();
    EXPECT_EQ(stats.malformed, 0u);
    // The storm reached the device: reconnects, and more than their refreshes.
    EXPECT_GT(stats.connections, 2u);
    EXPECT_GT(stats.received, stats.connections);
}
