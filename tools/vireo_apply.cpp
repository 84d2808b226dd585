// vireo-apply SNAPSHOT ADDRESS... [--only satellites,tps,system] [--yes]
//             [--allow-program-loss] [--journal-dir DIR]
// vireo-apply --resume JOURNAL | --rollback JOURNAL
// Makes devices' satellites, transponders and system settings match a
// snapshot: prints the plan, and with --yes runs it, one device at a time,
// saving each device's state and keeping a journal first.
#include "snapshot/apply_journal.h"
#include "snapshot/apply_plan.h"
#include "snapshot/fleet_apply.h"
#include "snapshot/headless_device.h"
#include "snapshot/snapshot.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace vireo;

// Exit statuses.
constexpr int kMatches = 0;
constexpr int kDiffers = 1;
constexpr int kUsage = 2;
constexpr int kUnreachable = 3; // nothing was sent
constexpr int kPartlyApplied = 4;

// Prints each step as it begins.
class Printer : public FleetApplyListener
{
public:
    void OnDevice(size_t i, size_t count, const std::string& name) override
    {
        if (count > 1) {
            std::printf("== %s (%zu of %zu)\n", name.c_str(), i + 1, count);
        }
    }
    void OnStep(size_t done, size_t total, const std::string& text) override
    {
        std::printf("[%zu/%zu] %s\n", done, total, text.c_str());
        std::fflush(stdout);
    }
    void OnReading() override
    {
        std::printf("reading the device...\n");
        std::fflush(stdout);
    }
    void OnRecorded(const std::string& beforeState, const std::string& journal) override
    {
        std::printf("the device's state before the apply: %s\njournal: %s\n", beforeState.c_str(),
                    journal.c_str());
        std::fflush(stdout);
    }
};

void printSteps(const char* what, const std::vector<std::string>& steps)
{
    std::printf("  %s (%zu):\n", what, steps.size());
    for (const std::string& s : steps) {
        std::printf("    %s\n", s.c_str());
    }
}

// The plan for one device, without running it: 0 nothing to do, 1 changes
// pending, 3 the device cannot be read.
int showPlan(const Snapshot& wanted, unsigned sections, const std::string& address,
             std::chrono::seconds limit, bool verbose, bool heading)
{
    HeadlessDevice device(address, verbose);
    if (!device.Connect()) {
        std::fprintf(stderr, "vireo-apply: cannot connect to %s: %s\n", address.c_str(),
                     device.LastLogLine().c_str());
        return kUnreachable;
    }
    std::shared_ptr<ListManager> db;
    const DeviceRead::Outcome outcome =
        device.ReadFirst(std::chrono::steady_clock::now() + limit, &db);
    if (outcome != DeviceRead::Outcome::Complete) {
        std::fprintf(stderr, "vireo-apply: %s\n", device.Reason(outcome, limit).c_str());
        return kUnreachable;
    }
    const ApplyPlan plan = PlanApply(wanted, SnapshotOf(*db), sections);
    if (heading) {
        std::printf("== %s\n", address.c_str());
    }
    std::printf("%s\n", SummaryText(plan.Summary()).c_str());
    std::fputs(PlanText(plan).c_str(), stdout);
    if (plan.ProgramsLost() > 0) {
        std::printf("%zu programs go with the TPs and satellites this plan deletes; they come "
                    "back only by scanning. --allow-program-loss runs it anyway.\n",
                    plan.ProgramsLost());
    }
    return plan.Empty() && plan.problems.empty() ? kMatches : kDiffers;
}

// What happened to one device, and the status it earns.
int report(const FleetApplyResult::Device& d)
{
    const char* name = d.name.c_str();
    if (!d.unreachable.empty()) {
        std::fprintf(stderr, "vireo-apply: %s: %s; nothing was changed.\n", name,
                     d.unreachable.c_str());
        return kUnreachable;
    }
    const ApplyResult& r = d.result;
    if (r.programLossRefused) {
        std::printf("%s: not applied: %s. Nothing was changed; --allow-program-loss runs it.\n",
                    name, r.stopped.c_str());
        return kDiffers;
    }
    if (!r.stopped.empty() && r.sent == 0) {
        std::printf("%s: not applied: %s%s%s.\n", name, r.failedStep.c_str(),
                    r.failedStep.empty() ? "" : ": ", r.stopped.c_str());
        return r.remainingKnown ? kDiffers : kUnreachable;
    }
    if (r.PartlyApplied()) {
        std::printf("%s: stopped, partly applied: %s%s%s%s\n", name, r.failedStep.c_str(),
                    r.failedStep.empty() ? "" : ": ", r.stopped.c_str(),
                    r.failedStepInDoubt ? " (the device may have taken it)" : "");
        printSteps("done", r.done);
        printSteps("left", r.stepsLeft);
        if (!r.journalPath.empty()) {
            std::printf("  the device's state before: %s\n", r.beforeStatePath.c_str());
            std::printf("  to finish the apply:  vireo-apply --resume %s\n", r.journalPath.c_str());
            std::printf("  to return to before:  vireo-apply --rollback %s\n",
                        r.journalPath.c_str());
        }
        return kPartlyApplied;
    }
    if (r.matches) {
        std::printf("%s: matches the snapshot (%zu requests).\n", name, r.done.size());
        return kMatches;
    }
    std::printf("%s: still differs:\n%s", name,
                DiffText(r.remaining, "the snapshot", "the device").c_str());
    return kDiffers;
}

int runOn(const Snapshot& wanted, unsigned sections, const std::vector<std::string>& addresses,
          std::chrono::seconds limit, bool verbose, const ApplyRunOptions& options)
{
    HeadlessTargets targets(addresses, verbose, limit);
    ApplyRunner::Limits limits;
    limits.readLimit = limit;
    Printer printer;
    const FleetApplyResult fleet =
        ApplyToDevices(wanted, sections, targets, limits, &printer, nullptr, options);
    int status = kMatches;
    for (const FleetApplyResult::Device& d : fleet.devices) {
        status = std::max(status, report(d));
    }
    if (fleet.devices.size() < fleet.count) {
        std::printf("not applied to the %zu devices after %s.\n",
                    fleet.count - fleet.devices.size(), fleet.devices.back().name.c_str());
        status = std::max(status, kDiffers);
    }
    return status;
}

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// --resume and --rollback: from what the device holds now to the journal's
// target or to the state saved before its first change.
int goOn(const std::string& journalPath, bool back, std::chrono::seconds limit, bool verbose,
         bool allowProgramLoss)
{
    std::string error;
    const std::optional<JournalRecord> record = ReadApplyJournal(journalPath, &error);
    if (!record) {
        std::fprintf(stderr, "vireo-apply: %s\n", error.c_str());
        return kUsage;
    }
    const std::optional<Snapshot> before = ReadSnapshotFile(record->head.beforeState, &error);
    if (!before) {
        std::fprintf(stderr, "vireo-apply: the state before the apply: %s\n", error.c_str());
        return kUsage;
    }
    const std::optional<Snapshot> target =
        back ? before : ReadSnapshot(record->head.targetDocument, &error);
    if (!target) {
        std::fprintf(stderr, "vireo-apply: the journal's snapshot: %s\n", error.c_str());
        return kUsage;
    }
    std::printf("%s: %s; %zu steps were done", record->head.address.c_str(),
                back ? "returning to the state before the apply" : "finishing the apply",
                record->done.size());
    if (!record->inDoubt.empty()) {
        std::printf(", 1 was sent without an answer (%s)", record->inDoubt.back().c_str());
    }
    if (!record->unconfirmed.empty()) {
        std::printf(", %zu more were announced and may have been sent", record->unconfirmed.size());
    }
    std::printf("; the device is read again and the rest planned from what it holds.\n");
    ApplyRunOptions options;
    options.allowProgramLoss = allowProgramLoss;
    options.recordFolder = folderOf(journalPath);
    options.origin = &*before;
    options.originPath = record->head.beforeState;
    const unsigned sections =
        record->head.sections != 0 ? record->head.sections : apply_section::All;
    return runOn(*target, sections, {record->head.address}, limit, verbose, options);
}

} // namespace

int main(int argc, char** argv)
{
    std::string file, only = "satellites,tps,system", resume, rollback, journalDir = ".";
    std::vector<std::string> addresses;
    bool yes = false;
    bool verbose = false;
    bool allowProgramLoss = false;
    long seconds = 60;
    CLI::App app(
        "Plans the requests (AddSatellite, SetSatellite, AddTp, ModifyTp, DeleteTp, "
        "DeleteSatellite, SetSystemInfo) that make the chosen sections of the IRD at ADDRESS "
        "match SNAPSHOT, and prints them with what they add, change and delete and the programs "
        "that go with deleted TPs. What both sides hold is changed in place, never deleted and "
        "added again; adds and changes go before deletes. With --yes it saves the device's state "
        "(ADDRESS-TIME.before.json) and starts a journal (ADDRESS-TIME.journal) before the first "
        "request, runs the requests one at a time and stops at once at the first the device "
        "refuses or does not answer; then --resume JOURNAL finishes the apply and --rollback "
        "JOURNAL returns the device to its state before it, each planned from what the device "
        "holds then. At the end the device is read again and compared with the snapshot, "
        "programs included. Several addresses are done one after another, stopping at the first "
        "device that does not match afterwards. System settings are the A/V, TS and polling "
        "settings: never the address, mask, MAC or signal source.",
        "vireo-apply");
    app.add_option("snapshot", file, "a snapshot document (vireo-dump)")->type_name("SNAPSHOT");
    app.add_option("address", addresses, "dotted IPv4 address of the IRD")->type_name("ADDRESS");
    app.add_option("--only", only,
                   "sections to apply, comma separated: satellites, tps, system (default all)")
        ->type_name("SECTIONS");
    app.add_flag("-y,--yes", yes, "run the plan");
    app.add_flag("--allow-program-loss", allowProgramLoss,
                 "run a plan that deletes TPs or satellites carrying programs");
    app.add_option("--journal-dir", journalDir,
                   "folder of the saved states and journals (default the current one)")
        ->type_name("DIR");
    auto* resumeOption =
        app.add_option("--resume", resume, "finish the interrupted apply of JOURNAL")
            ->type_name("JOURNAL");
    auto* rollbackOption =
        app.add_option("--rollback", rollback,
                       "return the device of JOURNAL to its state before that apply")
            ->type_name("JOURNAL");
    resumeOption->excludes(rollbackOption);
    app.add_option("--timeout", seconds, "time limit of each full read of a device (default 60)")
        ->type_name("SECONDS")
        ->check(CLI::Range(1L, 86400L));
    app.add_flag("-v,--verbose", verbose, "the session's log lines on standard error");
    app.footer("Exit status: 0 nothing to do (without --yes) or the device matches the snapshot "
               "(with --yes); 1 changes pending, the device still differs, or the plan would "
               "lose programs without --allow-program-loss (nothing changed); 2 usage or an "
               "unreadable snapshot or journal; 3 a device cannot be connected or read, nothing "
               "changed; 4 stopped part way: the device holds part of the plan (--resume or "
               "--rollback with the journal printed).");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& bad) {
        app.exit(bad);
        return kUsage;
    }
    const std::chrono::seconds limit(seconds);
    if (!resume.empty() || !rollback.empty()) {
        if (!file.empty()) {
            std::fprintf(stderr, "vireo-apply: --resume and --rollback take the journal alone\n");
            return kUsage;
        }
        return goOn(resume.empty() ? rollback : resume, resume.empty(), limit, verbose,
                    allowProgramLoss);
    }
    if (file.empty() || addresses.empty()) {
        std::fprintf(stderr, "vireo-apply: SNAPSHOT and ADDRESS are required\n%s",
                     app.help().c_str());
        return kUsage;
    }
    const std::optional<unsigned> sections = ParseApplySections(only);
    if (!sections) {
        std::fprintf(stderr, "vireo-apply: unknown section in \"%s\"\n", only.c_str());
        return kUsage;
    }
    std::string error;
    const std::optional<Snapshot> wanted = ReadSnapshotFile(file, &error);
    if (!wanted) {
        std::fprintf(stderr, "vireo-apply: %s\n", error.c_str());
        return kUsage;
    }

    if (!yes) {
        int status = kMatches;
        for (const std::string& address : addresses) {
            status = std::max(status, showPlan(*wanted, *sections, address, limit, verbose,
                                               addresses.size() > 1));
        }
        return status;
    }
    ApplyRunOptions options;
    options.allowProgramLoss = allowProgramLoss;
    options.recordFolder = journalDir;
    return runOn(*wanted, *sections, addresses, limit, verbose, options);
}
