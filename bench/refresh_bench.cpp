// A full refresh of a maximal device (255 satellites, 255 transponders, 255 TV
// and 255 radio programs) from the simulator over loopback: from UpdateAll
// sent until every list is complete and shown in the program-tree models.
//   full_refresh_max_db  median of several refreshes (ms)
//   refresh_per_record   the same per record (us)
// Then a device numbered with gaps (250 satellites and transponders, 255 TV
// and 255 radio programs) whose UpdateAll burst loses a tenth of its frames:
//   refresh_with_losses_max_db  median refresh until complete and shown (ms)
//   queries_per_lost_record     single-record queries per lost burst frame
#include "database/list_manager.h"
#include "device/device_core.h"
#include "lang/language_table.h"
#include "sim/database_generator.h"
#include "sim/simulator.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using namespace vireo;
using Clock = std::chrono::steady_clock;

namespace {

bool refreshedAndShown(DeviceCore& core)
{
    const auto db = core.Database();
    if (!db || !core.Loaded() || core.Session().CurrentCode() != 0) {
        return false;
    }
    for (int kind : {item_kind::Satellites, item_kind::Tps, item_kind::Tv, item_kind::Radio}) {
        if (!db->IsComplete(kind) || !db->IsShown(kind)) {
            return false;
        }
    }
    return true;
}

// Refreshes `core` `runs` times; the median in ms.
double medianRefresh(DeviceCore& core, int runs)
{
    std::vector<double> ms;
    for (int run = 0; run < runs; ++run) {
        const auto start = Clock::now();
        core.Session().RefreshIrd();
        while (!refreshedAndShown(core)) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::fprintf(stderr, "runs %zu, fastest %.1f ms, slowest %.1f ms\n", ms.size(), ms.front(),
                 ms.back());
    return ms[ms.size() / 2];
}

// A simulated device and a window's core connected to it.
struct Rig
{
    Rig(const std::string& address, sim::DeviceDatabase db, sim::SimulatorOptions options)
        : irb(std::move(db), std::move(options)),
          core(context, view, address + ":bench", {}, "no-logs")
    {
        ready = irb.Start(address, 8888) && core.Session().ConnectIrd() &&
                core.Session().StartSession();
        if (!ready) {
            std::fprintf(stderr, "cannot start the simulator on %s or connect\n", address.c_str());
        }
    }
    ~Rig() { core.Teardown(); }

    sim::Simulator irb;
    SessionContext context;
    NullDeviceView view;
    DeviceCore core;
    bool ready = false;
};

} // namespace

int main()
{
    SetLanguageFlag(1);
    BuildLanguageTable();
    {
        Rig rig("127.0.72.1", sim::GenerateDatabase({255, 255, 255, 255}, nullptr).value(),
                sim::QuietOptions());
        if (!rig.ready) {
            return 1;
        }
        const double median = medianRefresh(rig.core, 9);
        std::printf("full_refresh_max_db %.1f ms\n", median);
        std::printf("refresh_per_record %.2f us\n", median * 1000.0 / (4 * 255));
        std::fprintf(stderr, "TV tree %zu nodes\n", rig.core.TvTree().Size());
    }
    sim::SimulatorOptions options = sim::QuietOptions();
    options.faults.burstDropShare = 0.10;
    options.seed = 21;
    Rig rig("127.0.72.2", sim::GenerateDatabase({250, 250, 255, 255}, nullptr).value(), options);
    if (!rig.ready) {
        return 1;
    }
    const double median = medianRefresh(rig.core, 7);
    const size_t lost = rig.irb.Stats().dropped;
    const size_t queries = rig.irb.SingleRecordQueries();
    std::printf("refresh_with_losses_max_db %.1f ms\n", median);
    std::printf("queries_per_lost_record %.2f x\n",
                lost == 0 ? 0.0 : static_cast<double>(queries) / static_cast<double>(lost));
    std::fprintf(stderr, "lost burst frames %zu, single-record queries %zu\n", lost, queries);
    return 0;
}
