// vireo-apply SNAPSHOT ADDRESS... [--only satellites,tps,system] [--yes]
// Makes devices' satellites, transponders and system settings match a
// snapshot: prints the plan, and with --yes runs it, one device at a time.
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
};

// The plan for one device, without running it: 0 nothing to do, 1 changes
// pending, 3 the device cannot be read.
int showPlan(const Snapshot& wanted, unsigned sections, const std::string& address,
             std::chrono::seconds limit, bool verbose, bool heading)
{
    HeadlessDevice device(address, verbose);
    if (!device.Connect()) {
        std::fprintf(stderr, "vireo-apply: cannot connect to %s: %s\n", address.c_str(),
                     device.LastLogLine().c_str());
        return 3;
    }
    std::shared_ptr<ListManager> db;
    const DeviceRead::Outcome outcome =
        device.ReadFirst(std::chrono::steady_clock::now() + limit, &db);
    if (outcome != DeviceRead::Outcome::Complete) {
        std::fprintf(stderr, "vireo-apply: %s\n", device.Reason(outcome, limit).c_str());
        return 3;
    }
    const ApplyPlan plan = PlanApply(wanted, SnapshotOf(*db), sections);
    if (heading) {
        std::printf("== %s\n", address.c_str());
    }
    std::fputs(PlanText(plan).c_str(), stdout);
    return plan.Empty() && plan.problems.empty() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    std::string file, only = "satellites,tps,system";
    std::vector<std::string> addresses;
    bool yes = false;
    bool verbose = false;
    long seconds = 60;
    CLI::App app("Plans the requests (AddSatellite, SetSatellite, DeleteSatellite, AddTp, "
                 "ModifyTp, DeleteTp, SetSystemInfo) that make the chosen sections of the IRD at "
                 "ADDRESS match SNAPSHOT, and prints them. With --yes it runs them one at a time, "
                 "stops at the first the device refuses, reads the device again and prints what "
                 "still differs. Several addresses are done one after another, stopping at the "
                 "first device that does not match afterwards. System settings are the A/V, TS "
                 "and polling settings: never the address, mask, MAC or signal source.",
                 "vireo-apply");
    app.add_option("snapshot", file, "a snapshot document (vireo-dump)")
        ->type_name("SNAPSHOT")
        ->required();
    app.add_option("address", addresses, "dotted IPv4 address of the IRD")
        ->type_name("ADDRESS")
        ->required();
    app.add_option("--only", only,
                   "sections to apply, comma separated: satellites, tps, system (default all)")
        ->type_name("SECTIONS");
    app.add_flag("-y,--yes", yes, "run the plan");
    app.add_option("--timeout", seconds, "time limit of each full read of a device (default 60)")
        ->type_name("SECONDS")
        ->check(CLI::Range(1L, 86400L));
    app.add_flag("-v,--verbose", verbose, "the session's log lines on standard error");
    app.footer("Exit status: 0 nothing to do (without --yes) or the device matches the snapshot "
               "(with --yes); 1 changes pending, or the device still differs; 2 usage or an "
               "unreadable snapshot; 3 a device cannot be connected or read.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& bad) {
        app.exit(bad);
        return 2;
    }
    const std::optional<unsigned> sections = ParseApplySections(only);
    if (!sections) {
        std::fprintf(stderr, "vireo-apply: unknown section in \"%s\"\n", only.c_str());
        return 2;
    }
    std::string error;
    const std::optional<Snapshot> wanted = ReadSnapshotFile(file, &error);
    if (!wanted) {
        std::fprintf(stderr, "vireo-apply: %s\n", error.c_str());
        return 2;
    }
    const std::chrono::seconds limit(seconds);

    if (!yes) {
        int status = 0;
        for (const std::string& address : addresses) {
            status = std::max(status, showPlan(*wanted, *sections, address, limit, verbose,
                                               addresses.size() > 1));
        }
        return status;
    }

    HeadlessTargets targets(addresses, verbose, limit);
    ApplyRunner::Limits limits;
    limits.readLimit = limit;
    Printer printer;
    const FleetApplyResult fleet = ApplyToDevices(*wanted, *sections, targets, limits, &printer);
    int status = 0;
    for (const FleetApplyResult::Device& d : fleet.devices) {
        const char* name = d.name.c_str();
        if (!d.unreachable.empty()) {
            std::fprintf(stderr, "vireo-apply: %s: %s\n", name, d.unreachable.c_str());
            status = 3;
            continue;
        }
        const ApplyResult& r = d.result;
        if (!r.stopped.empty()) {
            std::printf("%s: stopped%s%s: %s\n", name, r.failedStep.empty() ? "" : " at ",
                        r.failedStep.c_str(), r.stopped.c_str());
        }
        if (!r.remainingKnown) {
            status = std::max(status, 3);
            continue;
        }
        if (r.matches) {
            std::printf("%s: matches the snapshot (%zu requests).\n", name, r.done.size());
        } else {
            std::printf("%s: still differs:\n%s", name,
                        DiffText(r.remaining, "the snapshot", "the device").c_str());
            status = std::max(status, 1);
        }
    }
    if (fleet.devices.size() < fleet.count) {
        std::printf("not applied to the %zu devices after %s.\n",
                    fleet.count - fleet.devices.size(), fleet.devices.back().name.c_str());
        status = std::max(status, 1);
    }
    return status;
}
