// Applying one device's snapshot to others, simulated IRDs on loopback.

#include "link/message_code.h"
#include "sim/database_edits.h"
#include "sim/database_generator.h"
#include "sim/database_json.h"
#include "sim/simulator.h"
#include "snapshot/apply_journal.h"
#include "snapshot/apply_runner.h"
#include "snapshot/apply_verify.h"
#include "snapshot/fleet_apply.h"
#include "snapshot/headless_device.h"
#include "snapshot/snapshot_document.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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

ApplyResult applyTo(const std::string& address, const Snapshot& wanted, unsigned sections,
                    const ApplyRunOptions& options = {})
{
    // The session's waits shortened in proportion: a loopback device answers at once.
    HeadlessDevice device(address, false, LinkTiming{std::chrono::microseconds(250)});
    if (!device.Connect()) {
        ADD_FAILURE() << "cannot connect to " << address;
        return {};
    }
    std::shared_ptr<ListManager> db;
    EXPECT_EQ(device.ReadFirst(std::chrono::steady_clock::now() + 30s, &db),
              DeviceRead::Outcome::Complete);
    ApplyRunner::Limits limits;
    limits.answerLimit = 3s;
    limits.readLimit = 20s;
    ApplyRunOptions own = options;
    own.address = address;
    return ApplyRunner(device.Reader(), limits).Run(wanted, sections, db, nullptr, own);
}

ApplyRunOptions mayLose()
{
    ApplyRunOptions options;
    options.allowProgramLoss = true;
    return options;
}

// A fresh folder for one test's saved states and journals.
std::string recordFolder(const std::string& name)
{
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("vireo-apply-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder.string();
}

size_t writesReceived(const sim::Simulator& irb)
{
    size_t count = 0;
    for (uint8_t code : {msg::AddSatellite, msg::SetSatellite, msg::DeleteSatellite, msg::AddTp,
                         msg::ModifyTp, msg::DeleteTp, msg::SetSystemInfo}) {
        count += framesOf(irb, code).size();
    }
    return count;
}

void dropProgramsOn(sim::DeviceDatabase& db, const std::vector<uint8_t>& tps)
{
    for (uint8_t kind : {sim::kKindTv, sim::kKindRadio}) {
        for (bool again = true; again;) {
            again = false;
            for (const sim::Program& p : db.Programs(kind)) {
                if (std::find(tps.begin(), tps.end(), p.tp) != tps.end()) {
                    sim::DeleteProgram(db, kind, p.index);
                    again = true;
                    break;
                }
            }
        }
    }
}

// A device and a target that shares most of its TPs: two TPs retuned, a new
// satellite with two TPs, one TP more on the first satellite, other A/V
// settings, two TPs and the last satellite gone: ten writes. With
// `lossless`, nothing the target drops carries programs.
struct Scenario
{
    sim::DeviceDatabase before;
    sim::DeviceDatabase target;
};

Scenario tenWrites(bool lossless)
{
    Scenario s{generated({4, 20, 40, 12}), {}};
    const uint8_t first = s.before.satellites.front().index;
    const uint8_t last = s.before.satellites.back().index;
    std::vector<uint8_t> ofFirst, doomed;
    for (const auto& t : s.before.transponders) {
        if (t.satellite == first) {
            ofFirst.push_back(t.index);
        } else if (t.satellite == last) {
            doomed.push_back(t.index);
        }
    }
    doomed.push_back(ofFirst.at(2));
    doomed.push_back(ofFirst.at(3));
    if (lossless) {
        dropProgramsOn(s.before, doomed);
    }
    s.target = s.before;
    sim::DeviceDatabase& t = s.target;
    for (sim::Transponder& tp : t.transponders) {
        if (tp.index == ofFirst.at(0) || tp.index == ofFirst.at(1)) {
            tp.symbolRate = static_cast<uint16_t>(tp.symbolRate + 100);
        }
    }
    sim::DeleteTransponder(t, ofFirst.at(2));
    sim::DeleteTransponder(t, ofFirst.at(3));
    sim::DeleteSatellite(t, last);
    const uint8_t added = sim::AddSatellite(t, {0, 0, 0, 0, 11300, 10000, "New 7.0E"}).value();
    sim::AddTransponder(t, {0, added, 0, 0, 12100, 27500, 2, 0, 1, 3});
    sim::AddTransponder(t, {0, added, 0, 0, 12200, 27500, 2, 0, 0, 3});
    sim::AddTransponder(t, {0, first, 0, 0, 12999, 30000, 2, 0, 1, 3});
    t.system[1] = static_cast<uint8_t>(t.system[1] ^ 0x01);
    return s;
}

// Lists in another order than their indices, on a device that numbers them
// 0, 1, 2... in list order after every add and delete.
void unsorted(sim::DeviceDatabase& db)
{
    std::reverse(db.satellites.begin(), db.satellites.end());
    std::stable_sort(db.transponders.begin(), db.transponders.end(),
                     [&db](const sim::Transponder& a, const sim::Transponder& b) {
                         const auto at = [&db](uint8_t sat) {
                             for (size_t i = 0; i < db.satellites.size(); ++i) {
                                 if (db.satellites[i].index == sat) {
                                     return i;
                                 }
                             }
                             return db.satellites.size();
                         };
                         return at(a.satellite) < at(b.satellite);
                     });
    sim::RelinkDatabase(db);
}

// Runs the apply tool; `killAt`: kill it once the device has received that
// many writes (it never exits by itself then). Its output goes to `out`.
int runTool(const std::vector<std::string>& args, const std::string& out,
            const sim::Simulator* irb = nullptr, size_t killAt = 0)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> argv{const_cast<char*>(VIREO_APPLY_PATH)};
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        std::freopen(out.c_str(), "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        ::execv(VIREO_APPLY_PATH, argv.data());
        ::_exit(127);
    }
    if (killAt > 0) {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (writesReceived(*irb) < killAt && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

std::string fileText(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string onlyJournalIn(const std::string& folder)
{
    std::string found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == ".journal") {
            EXPECT_TRUE(found.empty()) << "two journals in " << folder;
            found = entry.path().string();
        }
    }
    return found;
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
    const ApplyResult result = applyTo("127.0.180.11", wanted, apply_section::All, mayLose());
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
        const ApplyResult r = applyTo(
            c.address, wanted, apply_section::Satellites | apply_section::Transponders, mayLose());
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
        ApplyToDevices(snapshotOf(generated({3, 9, 0, 0})), apply_section::All, targets, {},
                       nullptr, nullptr, mayLose());
    ASSERT_EQ(fleet.devices.size(), 1u);
    EXPECT_FALSE(fleet.AllMatch());
    const ApplyResult& r = fleet.devices[0].result;
    EXPECT_EQ(r.failedStep.rfind("Add TP ", 0), 0u) << r.failedStep;
    EXPECT_EQ(r.stopped, "refused by the device: Such request is out of the manage of IRD "
                         "(status 7)");
    EXPECT_TRUE(r.PartlyApplied()); // the new satellite went first
    EXPECT_FALSE(r.stepsLeft.empty());
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
    EXPECT_EQ(r.stepsLeft.size(), 252u); // every satellite that found no room
}

// The link dropped after write k of the plan, for every k: the run stops at
// once with its journal naming the steps done and the one in doubt, the
// services both sides share are all still on the device, and from there a
// resume reaches the target and a roll back the state before, by content.
TEST(SnapshotApplyInterrupted, DroppedAfterEveryWriteResumesOrRollsBackExactly)
{
    const Scenario s = tenWrites(true);
    const Snapshot before = snapshotOf(s.before);
    const Snapshot target = snapshotOf(s.target);
    const size_t shared = SharedProgramsHeld(target, before, before);
    ASSERT_GT(shared, 20u);
    const ApplyPlan plan = PlanApply(target, before, apply_section::All);
    ASSERT_EQ(plan.steps.size(), 10u) << PlanText(plan);
    const std::string folder = recordFolder("drop");
    int address = 1;
    for (size_t k = 1; k <= plan.steps.size(); ++k) {
        for (const bool back : {false, true}) {
            SCOPED_TRACE("dropped at write " + std::to_string(k) + (back ? ", rolled back" : ""));
            sim::SimulatorOptions options = sim::QuietOptions();
            options.faults.writeFault = sim::FaultOptions::WriteFault::Drop;
            options.faults.faultAtWrite = static_cast<unsigned>(k);
            sim::Simulator irb(s.before, options);
            const std::string at = "127.0.227." + std::to_string(address++);
            ASSERT_TRUE(irb.Start(at, 8888));
            ApplyRunOptions run;
            run.recordFolder = folder;
            const ApplyResult r = applyTo(at, target, apply_section::All, run);
            EXPECT_TRUE(r.PartlyApplied()) << r.stopped;
            EXPECT_EQ(r.stopped, "the connection to the device was lost");
            EXPECT_TRUE(r.failedStepInDoubt);
            EXPECT_EQ(r.done.size(), k - 1);
            EXPECT_EQ(r.done.size() + r.stepsLeft.size(), plan.steps.size());
            EXPECT_EQ(writesReceived(irb), k); // stopped at once, nothing sent again
            const Snapshot cut = snapshotOf(irb.Database());
            EXPECT_EQ(SharedProgramsHeld(target, cut, before), shared);

            std::string error;
            const std::optional<JournalRecord> journal = ReadApplyJournal(r.journalPath, &error);
            ASSERT_TRUE(journal) << error;
            EXPECT_EQ(journal->done, r.done);
            ASSERT_EQ(journal->inDoubt.size(), 1u);
            EXPECT_EQ(journal->inDoubt[0], r.failedStep);
            EXPECT_EQ(journal->end.rfind("stopped: ", 0), 0u) << journal->end;
            EXPECT_EQ(journal->head.plan.size(), plan.steps.size());
            const std::optional<Snapshot> saved =
                ReadSnapshotFile(journal->head.beforeState, &error);
            ASSERT_TRUE(saved) << error;
            ASSERT_TRUE(VerifyApplied(before, *saved, before, apply_section::All).Empty());

            const Snapshot goal =
                back ? *saved : *ReadSnapshot(journal->head.targetDocument, &error);
            ApplyRunOptions on = run;
            on.origin = &*saved;
            on.originPath = journal->head.beforeState;
            const ApplyResult r2 = applyTo(at, goal, journal->head.sections, on);
            EXPECT_TRUE(r2.matches) << r2.stopped << DiffText(r2.remaining, "goal", "device");
            const Snapshot now = snapshotOf(irb.Database());
            EXPECT_TRUE(
                VerifyApplied(back ? before : target, now, before, apply_section::All).Empty());
            EXPECT_EQ(SharedProgramsHeld(target, now, before), shared);
            // The first request of a run going on is never the one that was in doubt, repeated
            // blindly: what the device took was read.
            EXPECT_EQ(writesReceived(irb), k + r2.done.size());
        }
    }
    std::filesystem::remove_all(folder);
}

// A device that numbers its lists anew after each add and delete, starting
// from lists out of index order, and one that refuses a write half way.
TEST(SnapshotApplyInterrupted, RenumberingDeviceAndARefusalHalfWay)
{
    const Scenario s = tenWrites(false);
    const std::string folder = recordFolder("renumber");
    {
        sim::DeviceDatabase held = s.before;
        unsorted(held);
        sim::SimulatorOptions options = sim::QuietOptions();
        options.faults.renumber = true;
        sim::Simulator irb(held, options);
        ASSERT_TRUE(irb.Start("127.0.227.101", 8888));
        const Snapshot before = snapshotOf(held);
        const Snapshot target = snapshotOf(s.target);
        ApplyRunOptions run;
        run.recordFolder = folder;
        run.allowProgramLoss = true;
        const ApplyResult r = applyTo("127.0.227.101", target, apply_section::All, run);
        EXPECT_TRUE(r.matches) << r.stopped << DiffText(r.remaining, "target", "device");
        EXPECT_EQ(r.done.size(), 10u);
        EXPECT_EQ(writesReceived(irb), 10u); // each once, none at a stale index
        const Snapshot now = snapshotOf(irb.Database());
        EXPECT_TRUE(VerifyApplied(target, now, before, apply_section::All).Empty());
        EXPECT_EQ(SharedProgramsHeld(target, now, before),
                  SharedProgramsHeld(target, before, before));
    }
    {
        sim::SimulatorOptions options = sim::QuietOptions();
        options.faults.writeFault = sim::FaultOptions::WriteFault::Refuse;
        options.faults.faultAtWrite = 5;
        sim::Simulator irb(s.before, options);
        ASSERT_TRUE(irb.Start("127.0.227.102", 8888));
        ApplyRunOptions run;
        run.recordFolder = folder;
        run.allowProgramLoss = true;
        const ApplyResult r =
            applyTo("127.0.227.102", snapshotOf(s.target), apply_section::All, run);
        EXPECT_TRUE(r.PartlyApplied());
        EXPECT_FALSE(r.failedStepInDoubt);
        EXPECT_EQ(r.done.size(), 4u);
        EXPECT_EQ(r.stopped, "refused by the device (status 30)");
        EXPECT_EQ(writesReceived(irb), 5u);
        std::string error;
        const std::optional<JournalRecord> journal = ReadApplyJournal(r.journalPath, &error);
        ASSERT_TRUE(journal) << error;
        EXPECT_EQ(journal->end, "stopped: " + r.failedStep + ": " + r.stopped);
    }
    std::filesystem::remove_all(folder);
}

// One simulated IRD's line-up onto another sharing most of its TPs: refused
// while it would drop programs, with nothing sent; allowed, every program of
// a TP both keep is still there afterwards, and the before-state is on disk.
TEST(SnapshotApplyInterrupted, ProgramsOfSharedTpsStayAndLossNeedsConsent)
{
    const Scenario s = tenWrites(false);
    const Snapshot before = snapshotOf(s.before);
    const Snapshot target = snapshotOf(s.target);
    const ApplyPlan plan = PlanApply(target, before, apply_section::All);
    ASSERT_GT(plan.ProgramsLost(), 0u);
    sim::Simulator irb(s.before, sim::QuietOptions());
    ASSERT_TRUE(irb.Start("127.0.227.111", 8888));
    const std::string folder = recordFolder("loss");
    ApplyRunOptions run;
    run.recordFolder = folder;
    const ApplyResult refused = applyTo("127.0.227.111", target, apply_section::All, run);
    EXPECT_TRUE(refused.programLossRefused);
    EXPECT_FALSE(refused.PartlyApplied());
    EXPECT_EQ(writesReceived(irb), 0u);
    EXPECT_TRUE(refused.journalPath.empty());

    run.allowProgramLoss = true;
    const ApplyResult r = applyTo("127.0.227.111", target, apply_section::All, run);
    EXPECT_TRUE(r.matches) << r.stopped << DiffText(r.remaining, "target", "device");
    const Snapshot now = snapshotOf(irb.Database());
    const size_t shared = SharedProgramsHeld(target, before, before);
    EXPECT_EQ(SharedProgramsHeld(target, now, before), shared);
    EXPECT_EQ(now.tv.size() + now.radio.size(),
              before.tv.size() + before.radio.size() - plan.ProgramsLost());
    std::string error;
    const std::optional<Snapshot> saved = ReadSnapshotFile(r.beforeStatePath, &error);
    ASSERT_TRUE(saved) << error;
    EXPECT_TRUE(VerifyApplied(before, *saved, before, apply_section::All).Empty());
    std::filesystem::remove_all(folder);
}

// The tool itself: a run killed between a write and its answer leaves a
// journal naming that write as in doubt, and --resume finishes the apply;
// a dropped link ends with status 4 and the two ways on.
TEST(SnapshotApplyInterrupted, ToolKilledOrCutOffTellsTheWayOn)
{
    const Scenario s = tenWrites(true);
    const std::string folder = recordFolder("tool");
    const std::string targetFile = folder + "/target.json";
    std::ofstream(targetFile) << sim::DatabaseToJson(s.target);
    const std::string out = folder + "/out.txt";
    {
        sim::SimulatorOptions options = sim::QuietOptions();
        options.faults.writeFault = sim::FaultOptions::WriteFault::Hold;
        options.faults.faultAtWrite = 6;
        sim::Simulator irb(s.before, options);
        ASSERT_TRUE(irb.Start("127.0.227.121", 8888));
        const std::string dir = folder + "/killed";
        std::filesystem::create_directories(dir);
        EXPECT_EQ(
            runTool({targetFile, "127.0.227.121", "--yes", "--journal-dir", dir}, out, &irb, 6),
            -SIGKILL);
        const std::string journalPath = onlyJournalIn(dir);
        std::string error;
        const std::optional<JournalRecord> journal = ReadApplyJournal(journalPath, &error);
        ASSERT_TRUE(journal) << error;
        EXPECT_EQ(journal->done.size(), 5u);
        EXPECT_EQ(journal->inDoubt.size(), 1u);
        EXPECT_TRUE(journal->end.empty());
        EXPECT_NE(fileText(out).find(journalPath), std::string::npos);

        EXPECT_EQ(runTool({"--resume", journalPath}, out), 0) << fileText(out);
        EXPECT_NE(fileText(out).find("matches the snapshot"), std::string::npos) << fileText(out);
        EXPECT_TRUE(VerifyApplied(snapshotOf(s.target), snapshotOf(irb.Database()),
                                  snapshotOf(s.before), apply_section::All)
                        .Empty());
    }
    {
        sim::SimulatorOptions options = sim::QuietOptions();
        options.faults.writeFault = sim::FaultOptions::WriteFault::Drop;
        options.faults.faultAtWrite = 3;
        sim::Simulator irb(s.before, options);
        ASSERT_TRUE(irb.Start("127.0.227.122", 8888));
        const std::string dir = folder + "/dropped";
        std::filesystem::create_directories(dir);
        EXPECT_EQ(runTool({targetFile, "127.0.227.122", "--yes", "--journal-dir", dir}, out), 4);
        const std::string text = fileText(out);
        const std::string journalPath = onlyJournalIn(dir);
        EXPECT_NE(text.find("vireo-apply --resume " + journalPath), std::string::npos) << text;
        EXPECT_NE(text.find("vireo-apply --rollback " + journalPath), std::string::npos) << text;
        EXPECT_EQ(text.find("lost; then"), std::string::npos) << text; // one reason, once
        EXPECT_EQ(runTool({"--rollback", journalPath}, out), 0) << fileText(out);
        EXPECT_TRUE(VerifyApplied(snapshotOf(s.before), snapshotOf(irb.Database()),
                                  snapshotOf(s.before), apply_section::All)
                        .Empty());
    }
    std::filesystem::remove_all(folder);
}
