// Applying one device's snapshot to others, simulated IRDs on loopback.

#include "link/message_code.h"
#include "sim/database_edits.h"
#include "sim/database_generator.h"
#include "sim/database_json.h"
#include "sim/simulator.h"
#include "snapshot/apply_runner.h"
#include "snapshot/fleet_apply.h"
#include "snapshot/headless_device.h"

#include <gtest/gtest.h>

using namespace vireo;
using namespace std::chrono_literals;

namespace {

sim::DeviceDatabase generated(sim::DatabaseSize size,
                              sim::Numbering numbering = sim::Numbering::Gaps)
{
    return sim::GenerateDatabase(size, nullptr, numbering).value();
}

Snapshot snapshotOf(const sim::DeviceDatabase& db)
{
    return ReadSnapshot(sim::DatabaseToJson(db), nullptr).value();
}

std::vector<std::vector<uint8_t>> framesOf(const sim::Simulator& irb, uint8_t code)
{
    std::vector<std::vector<uint8_t>> out;
    for (const auto& f : irb.ReceivedFrames()) {
        if (f[1] == code) {
            out.push_back(f);
        }
    }
    return out;
}

ApplyResult applyTo(const std::string& address, const Snapshot& wanted, unsigned sections)
{
    HeadlessDevice device(address, false);
    if (!device.Connect()) {
        ADD_FAILURE() << "cannot connect to " << address;
        return {};
    }
    std::shared_ptr<ListManager> db;
    EXPECT_EQ(device.ReadFirst(std::chrono::steady_clock::now() + 30s, &db),
              DeviceRead::Outcome::Complete);
    return ApplyRunner(device.Reader()).Run(wanted, sections, db);
}

} // namespace

TEST(SnapshotApply, OneDeviceOntoAnotherLeavesNothingToDiffAndNoNetworkSettingsSent)
{
    sim::DeviceDatabase source = generated({6, 40, 60, 20});
    // Other A/V, TS and polling settings, and an address, MAC and signal
    // source that must stay the target's own.
    source.system = {0xF2, 0x06, 0x48, 0x01, 10, 9, 8, 7, 255, 0, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0};
    sim::Simulator target(generated({4, 20, 10, 5}, sim::Numbering::Dense), sim::QuietOptions());
    ASSERT_TRUE(target.Start("127.0.180.11", 8888));
    const std::array<uint8_t, 20> before = target.Database().system;

    const Snapshot wanted = snapshotOf(source);
    const ApplyResult result = applyTo("127.0.180.11", wanted, apply_section::All);
    EXPECT_TRUE(result.matches) << result.stopped << DiffText(result.remaining, "a", "b");
    EXPECT_TRUE(result.stopped.empty());
    EXPECT_EQ(result.done.size(), result.initialPlan.steps.size());

    // What the device holds now, read straight from it.
    DiffOptions chosen;
    chosen.sections = diff_section::Satellites | diff_section::Transponders | diff_section::System;
    chosen.appliedSystemOnly = true;
    EXPECT_TRUE(DiffSnapshots(wanted, snapshotOf(target.Database()), chosen).Empty());

    const auto sets = framesOf(target, msg::SetSystemInfo);
    ASSERT_EQ(sets.size(), 1u);
    const uint8_t* sent = sets[0].data() + 3;
    EXPECT_EQ(sent[0] & 0x11, before[0] & 0x11); // reset and signal source as they were
    EXPECT_TRUE(std::equal(sent + 4, sent + 18, before.begin() + 4)); // address, mask, MAC
    EXPECT_EQ(sent[18], 0);
    const std::array<uint8_t, 20> after = target.Database().system;
    EXPECT_TRUE(std::equal(after.begin() + 4, after.begin() + 19, before.begin() + 4));
    EXPECT_EQ(after[0] & 0x10, before[0] & 0x10);
}

TEST(SnapshotApply, DevicesThatRenumberOrRepeatThemselvesAreFollowed)
{
    struct Case
    {
        const char* what;
        const char* address;
        bool renumber;
        double repeatShare;
    };
    for (const Case& c : {Case{"renumbers after adds and deletes", "127.0.180.12", true, 0},
                          Case{"sends some answers twice", "127.0.180.13", false, 0.3}}) {
        SCOPED_TRACE(c.what);
        sim::SimulatorOptions options = sim::QuietOptions();
        options.faults.renumber = c.renumber;
        options.faults.repeatShare = c.repeatShare;
        sim::DeviceDatabase held = generated({6, 40, 20, 5});
        if (c.renumber) {
            sim::RenumberDatabase(held);
        }
        sim::Simulator target(held, options);
        ASSERT_TRUE(target.Start(c.address, 8888));

        // Satellites and TPs to delete below and above others, changed ones
        // and new ones.
        sim::DeviceDatabase source = generated({3, 9, 0, 0});
        for (auto& t : source.transponders) {
            t.symbolRate = static_cast<uint16_t>(t.symbolRate + 1);
        }
        uint8_t free = 0;
        while (sim::FindSatellite(source, free) != nullptr || sim::FindTransponder(source, free)) {
            ++free;
        }
        source.satellites.push_back({free, 0, 0, 0, 10750, 9750, "New East"});
        source.transponders.push_back({free, free, 0, 0, 11111, 27500, 2, 0, 1, 3});
        sim::RelinkDatabase(source);
        const Snapshot wanted = snapshotOf(source);
        const ApplyResult r =
            applyTo(c.address, wanted, apply_section::Satellites | apply_section::Transponders);
        EXPECT_TRUE(r.matches) << r.stopped << DiffText(r.remaining, "a", "b");
        DiffOptions chosen;
        chosen.sections = diff_section::Satellites | diff_section::Transponders;
        EXPECT_TRUE(DiffSnapshots(wanted, snapshotOf(target.Database()), chosen).Empty());
        EXPECT_EQ(framesOf(target, msg::AddTp).size() + framesOf(target, msg::DeleteTp).size() +
                      framesOf(target, msg::AddSatellite).size() +
                      framesOf(target, msg::DeleteSatellite).size() +
                      framesOf(target, msg::ModifyTp).size() +
                      framesOf(target, msg::SetSatellite).size(),
                  r.done.size()); // each step sent once, none guessed at a stale index
    }
}

TEST(SnapshotApply, RefusedStepStopsTheDeviceAndTheRestOfTheFleet)
{
    sim::SimulatorOptions refusing = sim::QuietOptions();
    refusing.faults.statusOverrides[msg::AddTp] = 7;
    sim::Simulator first(generated({2, 4, 0, 0}), refusing);
    sim::Simulator second(generated({2, 4, 0, 0}), sim::QuietOptions());
    ASSERT_TRUE(first.Start("127.0.180.21", 8888));
    ASSERT_TRUE(second.Start("127.0.180.22", 8888));

    HeadlessTargets targets({"127.0.180.21", "127.0.180.22"}, false, 30s);
    const FleetApplyResult fleet =
        ApplyToDevices(snapshotOf(generated({3, 9, 0, 0})), apply_section::All, targets, {});
    ASSERT_EQ(fleet.devices.size(), 1u);
    EXPECT_FALSE(fleet.AllMatch());
    const ApplyResult& r = fleet.devices[0].result;
    EXPECT_EQ(r.failedStep.rfind("Add TP ", 0), 0u) << r.failedStep;
    EXPECT_NE(r.stopped.find("Such request is out of the manage of IRD (status 7)"),
              std::string::npos)
        << r.stopped;
    EXPECT_TRUE(r.remainingKnown);
    EXPECT_FALSE(r.remaining.Empty());
    // The refusal was the answer: the request was not sent again.
    EXPECT_EQ(framesOf(first, msg::AddTp).size(), 1u);
    EXPECT_EQ(second.Stats().connections, 0u);
}

TEST(SnapshotApply, FullSatelliteListOnADeviceWithLessRoomIsReportedNotRetried)
{
    sim::SimulatorOptions options = sim::QuietOptions();
    options.faults.satelliteRoom = 3;
    const sim::DeviceDatabase held = generated({2, 0, 0, 0});
    const sim::DeviceDatabase full = generated({255, 0, 0, 0});
    sim::Simulator target(held, options);
    ASSERT_TRUE(target.Start("127.0.180.31", 8888));
    size_t kept = 0; // held satellites the snapshot has too
    for (const auto& s : held.satellites) {
        for (const auto& w : full.satellites) {
            kept += s.name == w.name ? 1 : 0;
        }
    }

    const ApplyResult r = applyTo("127.0.180.31", snapshotOf(full), apply_section::Satellites);
    EXPECT_FALSE(r.matches);
    EXPECT_EQ(r.failedStep.rfind("Add satellite ", 0), 0u) << r.failedStep;
    EXPECT_NE(r.stopped.find("(status 7)"), std::string::npos) << r.stopped;
    // Those that found room, and the one refused: no more.
    EXPECT_EQ(framesOf(target, msg::AddSatellite).size(), 3 - kept + 1);
    EXPECT_EQ(target.Database().satellites.size(), 3u);
    EXPECT_EQ(r.remaining.entries.size(), 252u); // every satellite that found no room
}
