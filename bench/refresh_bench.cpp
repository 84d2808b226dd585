// A full refresh of a maximal device (255 satellites, 255 transponders, 255 TV
// and 255 radio programs) from the simulator over loopback: from UpdateAll
// sent until every list is complete and shown in the program-tree models.
//   full_refresh_max_db  median of several refreshes (ms)
//   refresh_per_record   the same per record (us)
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

} // namespace

int main()
{
    SetLanguageFlag(1);
    BuildLanguageTable();
    sim::Simulator irb(sim::GenerateDatabase({255, 255, 255, 255}, nullptr).value(),
                       sim::QuietOptions());
    if (!irb.Start("127.0.72.1", 8888)) {
        std::fprintf(stderr, "cannot start the simulator\n");
        return 1;
    }
    SessionContext context;
    NullDeviceView view;
    DeviceCore core(context, view, "127.0.72.1:bench", {}, "no-logs");
    if (!core.Session().ConnectIrd() || !core.Session().StartSession()) {
        std::fprintf(stderr, "cannot connect\n");
        return 1;
    }
    std::vector<double> ms;
    for (int run = 0; run < 9; ++run) {
        const auto start = Clock::now();
        core.Session().RefreshIrd();
        while (!refreshedAndShown(core)) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    const size_t tvNodes = core.TvTree().Size();
    std::printf("full_refresh_max_db %.1f ms\n", median);
    std::printf("refresh_per_record %.2f us\n", median * 1000.0 / (4 * 255));
    std::fprintf(stderr, "runs %zu, fastest %.1f ms, slowest %.1f ms, TV tree %zu nodes\n",
                 ms.size(), ms.front(), ms.back(), tvNodes);
    core.Teardown();
    return 0;
}
