// The fleet window while a fleet of simulated IRDs polls: how busy the UI
// thread is.
//
//   fleet_ui_load_200       CPU time of the UI thread over wall time, in %,
//                           while 200 connected devices report their signal
//                           about once a second (the link's clock runs at a
//                           quarter, so its four-second poll comes every
//                           second) and the fleet window is shown, sorted by
//                           quality
//   fleet_ui_drains_per_s   how often the fleet table took its changes
//   fleet_ui_sort_filter_1000   time to sort and filter 1,000 rows (ms)

#include "bench/unattended_form.h"
#include "fleet/ui/fleet_table_model.h"
#include "lang/language_table.h"
#include "sim/database_generator.h"
#include "sim/simulator_fleet.h"

#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QEventLoop>
#include <QLineEdit>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <ctime>

using namespace vireo;
using vireo::bench::spinUntil;

namespace {

// Runs the event loop for `ms` as the program does: blocked while idle
// (spinUntil polls, which would count as busy).
void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetLanguageFlag(1);
    BuildLanguageTable();
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QDir().mkdir(QStringLiteral("Logs"));

    constexpr int kDevices = 200;
    sim::SimulatorFleet fleet(sim::QuietOptions());
    std::string error;
    if (!fleet.Start(
            *sim::ParseAddressRange("127.0.161.1-127.0.161.200", nullptr), 8888,
            [](const std::string&, uint32_t n) {
                return sim::GenerateDatabase({2, 6, 10, 4}, nullptr, sim::Numbering::Gaps, n)
                    .value();
            },
            &error)) {
        std::fprintf(stderr, "cannot start the simulators: %s\n", error.c_str());
        return 1;
    }

    auto form = bench::MakeUnattendedMainForm();
    ui::DeviceOptions options;
    options.timing.unit = std::chrono::microseconds(250);
    form->SetDeviceOptions(options);
    form->resize(1280, 900);
    form->show();
    std::vector<ui::MdiChild*> windows;
    for (size_t i = 0; i < fleet.Size(); ++i) {
        windows.push_back(form->OpenDeviceWindow(fleet.Address(i), "Fleet", false));
    }
    for (ui::MdiChild* window : windows) {
        window->ConnectMachine();
    }
    form->ShowFleet();
    ui::FleetWindow& view = *form->FleetView();
    view.Table()->sortByColumn(ui::FleetTableModel::ColQuality, Qt::DescendingOrder);
    const auto allReporting = [&] {
        for (int row = 0; row < view.TableModel()->rowCount(); ++row) {
            const FleetRow& r = view.TableModel()->RowAt(row);
            if (r.state != FleetState::Refreshed || !r.signalKnown) {
                return false;
            }
        }
        return true;
    };
    if (!spinUntil(allReporting, 180000)) {
        std::fprintf(stderr, "not every device reported\n");
    }

    // Measured while the devices poll on.
    runFor(2000);
    const size_t receivedBefore = fleet.Stats().received;
    const int drainsBefore = view.TableModel()->Drains();
    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = threadCpuMs();
    runFor(10000);
    const double cpu = threadCpuMs() - cpuBefore;
    const double seconds = static_cast<double>(wall.elapsed()) / 1000.0;
    const size_t requests = fleet.Stats().received - receivedBefore;
    std::printf("fleet_ui_load_200 %.2f %%\n", 100.0 * cpu / (seconds * 1000.0));
    std::printf("fleet_ui_drains_per_s %.1f /s\n",
                (view.TableModel()->Drains() - drainsBefore) / seconds);
    std::fprintf(stderr, "(%d devices, %.0f requests a second)\n", kDevices,
                 static_cast<double>(requests) / seconds);

    // The same with the fleet window hidden: what the device windows cost.
    form->FleetDock()->hide();
    runFor(1000);
    wall.restart();
    const double hiddenBefore = threadCpuMs();
    runFor(10000);
    std::printf("fleet_ui_load_200_hidden %.2f %%\n",
                100.0 * (threadCpuMs() - hiddenBefore) / static_cast<double>(wall.elapsed()));
    form->ShowFleet();

    // 1,000 rows: the 200 devices and 800 machines never connected.
    for (int i = 0; i < 800; ++i) {
        form->OpenDeviceWindow(
            "10.9." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1), "Spare", false);
    }
    QCoreApplication::processEvents();
    QElapsedTimer sorting;
    sorting.start();
    view.Table()->sortByColumn(ui::FleetTableModel::ColDevice, Qt::AscendingOrder);
    view.FilterBox()->setText(QStringLiteral("127.0.161.1"));
    view.FilterBox()->clear();
    std::printf("fleet_ui_sort_filter_1000 %lld ms\n", static_cast<long long>(sorting.elapsed()));
    std::fflush(stdout);

    for (ui::MdiChild* window : form->ChildrenInTreeOrder()) {
        window->RequestStop();
    }
    form.reset();
    fleet.Stop();
    return 0;
}
