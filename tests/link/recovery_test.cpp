// Devices that are not our tidy simulator: indices with gaps, answers out of
// order or lost, answers that never complete a list, links that drop at once.

#include "link/message_code.h"
#include "live_device.h"
#include "sim/database_generator.h"
#include "sim/database_json.h"
#include "snapshot/device_dump.h"
#include "snapshot_head.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace vireo::test {
namespace {

using namespace std::chrono_literals;

sim::DeviceDatabase generated(sim::DatabaseSize size)
{
    return sim::GenerateDatabase(size, nullptr).value();
}

// Renumbers the satellites to `indices` (in list order), with their TPs.
sim::DeviceDatabase withSatellites(sim::DeviceDatabase db, const std::vector<uint8_t>& indices)
{
    for (auto& t : db.transponders) {
        for (size_t i = 0; i < db.satellites.size(); ++i) {
            if (t.satellite == db.satellites[i].index) {
                t.satellite = indices[i];
                break;
            }
        }
    }
    for (size_t i = 0; i < db.satellites.size(); ++i) {
        db.satellites[i].index = indices[i];
    }
    sim::RelinkDatabase(db);
    return db;
}

// Requests other than the signal poll.
size_t requestsBut(const sim::Simulator& irb, uint8_t code)
{
    size_t count = 0;
    for (const auto& f : irb.ReceivedFrames()) {
        count += f[1] != code ? 1 : 0;
    }
    return count;
}

DumpResult dumpOf(const std::string& address)
{
    DumpOptions options;
    options.address = address;
    options.timeLimit = 60s;
    return RunDeviceDump(options);
}

TEST(Recovery, ListsWithGapsLossesReorderingAndNoiseEqualTheDevice)
{
    struct Case
    {
        uint32_t seed;
        sim::DatabaseSize size;
        bool reorder;
    };
    const Case cases[] = {
        {3, {40, 200, 200, 60}, false},
        {5, {40, 200, 200, 60}, true},
        {8, {40, 200, 200, 60}, true},
        {7, {255, 255, 255, 255}, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("seed " + std::to_string(c.seed));
        sim::SimulatorOptions options = sim::QuietOptions();
        options.seed = c.seed;
        options.faults.burstDropShare = 0.10;
        options.faults.cutShare = 0.3;
        options.faults.garbageShare = 0.1;
        options.faults.reorder = c.reorder;
        sim::Simulator irb(generated(c.size), options);
        const std::string address = "127.0.110." + std::to_string(++n);
        ASSERT_TRUE(irb.Start(address, 8888));
        const DumpResult result = dumpOf(address);
        ASSERT_EQ(result.exitCode, 0) << result.reason;
        EXPECT_EQ(test::WithoutSnapshotHead(result.json), sim::DatabaseToJson(irb.Database()));
        const size_t lost = irb.Stats().dropped;
        EXPECT_GT(lost, 0u);
        EXPECT_LE(irb.SingleRecordQueries(), 3 * lost);
    }
}

TEST(Recovery, UnusualNumberingAndRecordsTheDeviceDoesNotHave)
{
    // One satellite at 200; satellites 0 and 254 only; a TP chain whose link
    // names a TP the device does not have (asked under every satellite, then
    // given up, the refresh completes); a program on a TP that does not exist.
    sim::DeviceDatabase lonely = withSatellites(generated({1, 5, 10, 0}), {200});
    sim::DeviceDatabase ends = withSatellites(generated({2, 6, 10, 4}), {0, 254});
    sim::DeviceDatabase brokenLink = generated({6, 12, 10, 0});
    brokenLink.transponders[4].next = 250; // as if TP 250 stood between them
    brokenLink.transponders[5].prev = 250;
    sim::DeviceDatabase orphanProgram = generated({3, 6, 10, 0});
    orphanProgram.tv[3].tp = 251;
    const std::pair<sim::DeviceDatabase, const char*> cases[] = {
        {lonely, nullptr},
        {ends, nullptr},
        {brokenLink, "TP can't find matched one: 250"},
        {orphanProgram, nullptr},
    };
    int n = 10;
    for (const auto& [db, line] : cases) {
        SCOPED_TRACE(n);
        sim::SimulatorOptions options = sim::QuietOptions();
        options.faults.burstDropShare = 0.2;
        options.seed = 4;
        const std::string address = "127.0.110." + std::to_string(++n);
        LiveDevice d(address, "Odd", db, options, LinkTiming{100us});
        ASSERT_TRUE(d.started);
        ASSERT_TRUE(WaitUntil([&] {
            auto database = d.core.Database();
            return database && database->IsComplete(item_kind::Tps) &&
                   database->IsComplete(item_kind::Tv) && d.core.Session().CurrentCode() == 0;
        }));
        if (line != nullptr) {
            EXPECT_TRUE(d.pane.WaitFor(line)) << ::testing::PrintToString(d.pane.Lines());
        }
        EXPECT_TRUE(d.core.Session().linked); // the session goes on
        auto database = d.core.Database();
        std::lock_guard lock(database->TpLock());
        EXPECT_EQ(database->Tps().size(), db.transponders.size());
    }
}

TEST(Recovery, AnswersThatNeverCompleteAListAndLinksThatDropStayBounded)
{
    // A device stuck on one record, one whose satellites link in a cycle,
    // and ones that accept and close (or half-close) every connection. In 60
    // protocol seconds (0.6 s here) the requests and connections stay few.
    struct Case
    {
        const char* what;
        sim::FaultOptions faults;
        bool cycle;
        size_t maxRequests;
        size_t maxConnections;
    };
    sim::FaultOptions same;
    same.sameAnswer = true;
    same.burstDropShare = 0.3;
    sim::FaultOptions closes;
    closes.hangUp = sim::FaultOptions::HangUp::Close;
    sim::FaultOptions halfCloses;
    halfCloses.hangUp = sim::FaultOptions::HangUp::HalfClose;
    const Case cases[] = {
        {"same answer", same, false, 4 * ListManager::kQueryBudget + 10, 1},
        {"cycle", {}, true, 50, 1},
        {"accept and close", closes, false, 0, 12},
        {"half-close", halfCloses, false, 12, 12},
    };
    int n = 20;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::DeviceDatabase db = generated({8, 40, 60, 20});
        if (c.cycle) {
            db.satellites[5].next = db.satellites[1].index;
            db.satellites[2].prev = db.satellites[6].index;
        }
        sim::SimulatorOptions options = sim::QuietOptions();
        options.faults = c.faults;
        sim::Simulator irb(db, options);
        const std::string address = "127.0.110." + std::to_string(++n);
        ASSERT_TRUE(irb.Start(address, 8888));
        SessionContext context;
        RecordingView view;
        RecordingPane pane;
        DeviceCore core(context, view, address + ":Odd", LinkTiming{10us}, "no-logs");
        core.LogPane().SetObserver(&pane);
        ASSERT_TRUE(core.Session().ConnectAndStart());
        std::this_thread::sleep_for(600ms);
        const size_t requests = requestsBut(irb, msg::QuerySignal);
        const size_t connections = irb.Stats().connections;
        const size_t lines = pane.Lines().size();
        // Once whatever the device allows is done, it is left alone.
        std::this_thread::sleep_for(300ms);
        const size_t later = requestsBut(irb, msg::QuerySignal) - requests;
        core.Teardown();
        core.LogPane().SetObserver(nullptr);
        EXPECT_LE(requests, c.maxRequests);
        EXPECT_LE(later, 2u);
        EXPECT_LE(connections, c.maxConnections);
        EXPECT_LE(lines, requests + 20) << ::testing::PrintToString(pane.Lines());
    }
}

} // namespace
} // namespace vireo::test
