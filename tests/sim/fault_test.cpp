// Fault injection and the simulator's life cycle: threads, stopping, clients.

#include "sim/database_generator.h"
#include "sim/ird_responder.h"
#include "sim/simulator.h"
#include "sim_client.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <mutex>

using namespace vireo;
using namespace vireo::sim;
using namespace simtest;

namespace {

DeviceDatabase smallDb()
{
    return GenerateDatabase({3, 8, 10, 4}, nullptr).value();
}

SimulatorOptions withFaults(FaultOptions faults, uint32_t seed = 1)
{
    SimulatorOptions options;
    options.faults = std::move(faults);
    options.seed = seed;
    options.log = [](const std::string&) {};
    return options;
}

// Starts on the test's address; returns the bound port.
uint16_t start(Simulator& sim, int addressNumber)
{
    std::string error;
    EXPECT_TRUE(sim.Start(TestAddress(addressNumber), 0, &error)) << error;
    return sim.Port();
}

// Asks for TV programs 0 to count - 1, one request each, then reads until
// the simulator closes; returns the indices that were answered.
std::vector<uint8_t> answeredPrograms(uint16_t port, int count)
{
    SimClient c(TestAddress(12), port);
    for (int i = 0; i < count; ++i) {
        c.Send(msg::QueryProgram, i, kKindTv);
    }
    c.FinishSending();
    std::vector<uint8_t> answered;
    for (const Frame& f : c.ReadToEnd()) {
        answered.push_back(PayloadOf(f)[0]);
    }
    return answered;
}

} // namespace

TEST(SimulatorFaults, StatusOverrideReplacesTheAnswer)
{
    FaultOptions faults;
    faults.statusOverrides = {{msg::UpdateAll, 1}, {msg::QueryTp, 35}, {msg::Reboot, 175}};
    Simulator sim(smallDb(), withFaults(faults));
    SimClient c(TestAddress(10), start(sim, 10));
    c.Send(msg::UpdateAll);
    c.Send(msg::QueryTp, kNone, 0);
    c.Send(msg::Reboot);
    c.Send(msg::QueryVersion); // not overridden
    const Frames got = c.ReadCount(4);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_TRUE(IsStatus(got[0], msg::UpdateAll, 1));
    EXPECT_TRUE(IsStatus(got[1], msg::QueryTp, 35));
    EXPECT_TRUE(IsStatus(got[2], msg::Reboot, 175));
    EXPECT_EQ(CodeOf(got[3]), msg::VersionInfo);

    // Changed at run time: from the next request on.
    faults.statusOverrides = {{msg::QueryVersion, 4}};
    sim.SetFaults(faults);
    c.Send(msg::QueryVersion);
    const Frames later = c.ReadCount(1);
    ASSERT_EQ(later.size(), 1u);
    EXPECT_TRUE(IsStatus(later[0], msg::QueryVersion, 4));
}

TEST(SimulatorFaults, CloseAfterNFramesCutsTheBurstAndAcceptsTheNextClient)
{
    FaultOptions faults;
    faults.closeAfterFrames = 7;
    Simulator sim(smallDb(), withFaults(faults));
    const uint16_t port = start(sim, 11);
    for (int round = 0; round < 2; ++round) {
        SimClient c(TestAddress(11), port);
        c.Send(msg::UpdateAll);
        const Frames got = c.ReadToEnd();
        EXPECT_TRUE(c.PeerClosed());
        ASSERT_EQ(got.size(), 7u);
        EXPECT_EQ(CodeOf(got[0]), msg::SystemInfo);
        EXPECT_EQ(CodeOf(got[6]), msg::TpInfo); // 3 settings, 3 satellites, then cut
    }
    EXPECT_EQ(sim.Stats().connections, 2u);
    EXPECT_EQ(sim.Stats().sent, 14u);
}

TEST(SimulatorFaults, DropShareIsRepeatableWithTheSameSeed)
{
    FaultOptions faults;
    faults.dropShare = 0.3;
    constexpr int kRequests = 255;
    const DeviceDatabase db = GenerateDatabase({1, 1, kRequests, 0}, nullptr).value();
    std::vector<std::vector<uint8_t>> runs;
    for (int run = 0; run < 2; ++run) {
        Simulator sim(db, withFaults(faults, 1234));
        runs.push_back(answeredPrograms(start(sim, 12), kRequests));
        const SimulatorStats stats = sim.Stats();
        EXPECT_EQ(stats.received, static_cast<size_t>(kRequests));
        EXPECT_EQ(stats.sent, runs.back().size());
        EXPECT_EQ(stats.sent + stats.dropped, static_cast<size_t>(kRequests));
        EXPECT_GT(stats.dropped, kRequests * 0.2);
        EXPECT_LT(stats.dropped, kRequests * 0.4);
    }
    EXPECT_EQ(runs[0], runs[1]);

    // Another seed drops other replies.
    Simulator other(db, withFaults(faults, 99));
    EXPECT_NE(answeredPrograms(start(other, 12), kRequests), runs[0]);
}

TEST(SimulatorFaults, BurstDropSparesRepliesAndTheFinalStatus)
{
    FaultOptions faults;
    faults.burstDropShare = 1;
    Simulator sim(smallDb(), withFaults(faults));
    SimClient c(TestAddress(20), start(sim, 20));
    c.Send(msg::UpdateAll);
    c.Send(msg::QueryVersion);
    const Frames got = c.ReadCount(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE(IsStatus(got[0], msg::UpdateAll, 0));
    EXPECT_EQ(CodeOf(got[1]), msg::VersionInfo);
}

TEST(SimulatorFaults, CorruptedFramesFailTheirCrcAndAreSkipped)
{
    FaultOptions faults;
    faults.corruptShare = 1;
    Simulator sim(smallDb(), withFaults(faults));
    SimClient c(TestAddress(13), start(sim, 13));
    c.Send(msg::QueryVersion);
    c.Send(msg::QuerySystemInfo);
    c.FinishSending();
    EXPECT_TRUE(c.ReadToEnd().empty());
    EXPECT_EQ(c.RawBytes(), 10u + 26u); // both frames arrived, both unusable
    EXPECT_EQ(sim.Stats().corrupted, 2u);
}

TEST(SimulatorFaults, GarbageAndCutFramesStillSplitIntoTheWholeBurst)
{
    FaultOptions faults;
    faults.garbageShare = 0.5;
    faults.cutShare = 0.5;
    faults.cutPauseMs = 0;
    const DeviceDatabase db = smallDb();
    Simulator sim(db, withFaults(faults, 7));
    SimClient c(TestAddress(14), start(sim, 14));
    c.Send(msg::UpdateAll);
    const Frames burst = c.ReadUntilStatus(msg::UpdateAll, 0);
    EXPECT_EQ(DecodeBurst(burst), db);
    EXPECT_GT(c.RawBytes(), [&] {
        size_t clean = 0;
        for (const Frame& f : burst) {
            clean += f.size();
        }
        return clean;
    }());
}

TEST(SimulatorFaults, SilentSimulatorReceivesButNeverAnswers)
{
    FaultOptions faults;
    faults.silent = true;
    Simulator sim(smallDb(), withFaults(faults));
    SimClient c(TestAddress(15), start(sim, 15));
    c.Send(msg::QuerySignal);
    c.Send(msg::UpdateAll);
    ASSERT_TRUE(sim.WaitForReceived(2, 5s));
    c.FinishSending();
    EXPECT_TRUE(c.ReadToEnd().empty());
    EXPECT_EQ(c.RawBytes(), 0u);
    const auto received = sim.ReceivedFrames();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0], (Frame{0x88, 0x61, 0x02, 0x59, 0x18, 0x99}));
    EXPECT_EQ(received[1], (Frame{0x88, 0x6A, 0x02, 0xA3, 0xC4, 0x99}));
}

TEST(SimulatorFaults, SignalFloodFollowsTheRefreshAtItsRateBesideTheAnswers)
{
    FaultOptions faults;
    faults.floodSignalPerSecond = 2000;
    Simulator sim(smallDb(), withFaults(faults));
    std::string error;
    ASSERT_TRUE(sim.Start("127.0.140.7", 0, &error)) << error;
    SimClient c("127.0.140.7", sim.Port());
    c.Send(msg::QueryVersion); // before a refresh: answers only
    ASSERT_EQ(c.ReadCount(2, 300ms).size(), 1u);

    auto holds = [](const Frames& frames, auto match) {
        return std::any_of(frames.begin(), frames.end(), match);
    };
    const auto updated = [](const Frame& x) { return IsStatus(x, msg::UpdateAll, 0); };
    c.Send(msg::UpdateAll);
    ASSERT_TRUE(holds(c.ReadUntil([&](const Frames& f) { return holds(f, updated); }), updated));
    const auto start = std::chrono::steady_clock::now();
    Frames flood = c.ReadCount(100000, 400ms);
    c.Send(msg::QueryVersion); // still answered amid the flood
    const Frames more = c.ReadUntil([&](const Frames& f) {
        return holds(f, [](const Frame& x) { return CodeOf(x) == msg::VersionInfo; });
    });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    flood.insert(flood.end(), more.begin(), more.end());
    size_t signals = 0;
    for (const Frame& f : flood) {
        if (CodeOf(f) == msg::SignalStatus) {
            ++signals;
            EXPECT_EQ(PayloadOf(f)[0] & 0x80, 0x80); // locked
            EXPECT_EQ(PayloadOf(f)[1] & 0x80, 0x80); // playing
        }
    }
    EXPECT_TRUE(holds(more, [](const Frame& x) { return CodeOf(x) == msg::VersionInfo; }));
    EXPECT_GT(signals, 2000 * seconds * 0.5);
    EXPECT_LT(signals, 2000 * seconds * 1.5 + 250); // at most a tenth of a second ahead
}

TEST(SimulatorLifecycle, StopIsPromptWithAClientConnectedAndAnAnswerDelayed)
{
    FaultOptions faults;
    faults.delayMs = 60000;
    Simulator sim(smallDb(), withFaults(faults));
    SimClient idle(TestAddress(16), start(sim, 16));
    SimClient waiting(TestAddress(16), sim.Port());
    waiting.Send(msg::QuerySignal);
    ASSERT_TRUE(sim.WaitForReceived(1, 5s));
    ASSERT_TRUE(sim.WaitForConnections(2, 5s));

    const auto before = std::chrono::steady_clock::now();
    sim.Stop();
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_LT(took, 3s);
    EXPECT_FALSE(sim.Running());
    EXPECT_TRUE(waiting.ReadToEnd(2s).empty());
    EXPECT_TRUE(waiting.PeerClosed());
}

TEST(SimulatorLifecycle, StopIsPromptWhileAClientDoesNotRead)
{
    // The client never reads: the simulator's writes block until Stop().
    Simulator sim(GenerateDatabase({255, 255, 255, 255}, nullptr).value(), withFaults({}));
    SimClient c(TestAddress(17), start(sim, 17));
    for (int i = 0; i < 40; ++i) {
        c.Send(msg::UpdateAll);
    }
    ASSERT_TRUE(sim.WaitForReceived(2, 5s));
    const auto before = std::chrono::steady_clock::now();
    sim.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
}

TEST(SimulatorLifecycle, ServesSeveralClientsAtOnceAndOneAfterAnother)
{
    Simulator sim(smallDb(), withFaults({}));
    start(sim, 18);
    const std::string address = TestAddress(18);
    {
        SimClient a(address, sim.Port());
        SimClient b(address, sim.Port());
        b.Send(msg::QueryVersion);
        a.Send(msg::QuerySystemInfo);
        const Frames fromB = b.ReadCount(1);
        const Frames fromA = a.ReadCount(1);
        ASSERT_EQ(fromA.size(), 1u);
        ASSERT_EQ(fromB.size(), 1u);
        EXPECT_EQ(CodeOf(fromA[0]), msg::SystemInfo);
        EXPECT_EQ(CodeOf(fromB[0]), msg::VersionInfo);
    }
    for (int i = 0; i < 3; ++i) {
        SimClient again(address, sim.Port());
        again.Send(msg::QuerySignal);
        EXPECT_EQ(again.ReadCount(1).size(), 1u);
    }
    EXPECT_EQ(sim.Stats().connections, 5u);

    // Stopped, it can start again on the same address.
    sim.Stop();
    start(sim, 18);
    SimClient after(address, sim.Port());
    after.Send(msg::QuerySignal);
    EXPECT_EQ(after.ReadCount(1).size(), 1u);
}

TEST(SimulatorLifecycle, RefusesAddressesOutsideLoopbackAndABusyPort)
{
    Simulator sim(smallDb(), withFaults({}));
    std::string error;
    EXPECT_FALSE(sim.Start("192.168.1.10", 0, &error));
    EXPECT_NE(error.find("loopback"), std::string::npos);
    EXPECT_FALSE(sim.Start("not-an-address", 0, &error));

    ASSERT_TRUE(sim.Start(TestAddress(19), 0, &error)) << error;
    EXPECT_FALSE(sim.Start(TestAddress(19), 0, &error));
    Simulator second(smallDb(), withFaults({}));
    EXPECT_FALSE(second.Start(TestAddress(19), sim.Port(), &error));
}

TEST(SimulatorLifecycle, VerboseLogShowsEveryFrameInHex)
{
    std::mutex mutex;
    std::vector<std::string> lines;
    SimulatorOptions options = withFaults({});
    options.verbose = true;
    options.log = [&](const std::string& line) {
        std::lock_guard lock(mutex);
        lines.push_back(line);
    };
    Simulator sim(smallDb(), options);
    {
        SimClient c(TestAddress(21), start(sim, 21));
        c.Send(msg::QuerySignal);
        c.FinishSending();
        c.ReadToEnd();
    }
    sim.Stop();
    std::lock_guard lock(mutex);
    auto has = [&](const std::string& part) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.find(part) != std::string::npos; });
    };
    EXPECT_TRUE(has("<- QuerySignal  88 61 02 59 18 99"));
    EXPECT_TRUE(has("-> SignalStatus  88 61 04"));
    EXPECT_TRUE(has("connected"));
}
