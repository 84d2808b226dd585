// The desktop program under a device that floods it with signal reports: a
// simulated IRD sends 10,000 SignalStatus frames a second once its refresh
// is answered, on Qt's offscreen platform.
//   signal_flood_frames_per_second  frames the device sent, per second
//   signal_flood_rss_growth         resident memory after 20 s of the flood
//                                   less the memory after its first 2 s (MB)
//   signal_flood_ui_latency_max     longest wait of a posted call (the
//                                   program's own timer) during the flood (ms)
//   signal_flood_menu_max           longest time from a right-click posted
//                                   on the program tree to its popup
//                                   showing, every half second (ms)
//   signal_flood_close              the main window asked to close (answer:
//                                   do not save) to every window gone (ms)
#include "app/ui/main_form.h"
#include "bench/unattended_form.h"
#include "device/ui/mdi_child.h"
#include "device/ui/programs_page.h"
#include "lang/language_table.h"
#include "sim/database_generator.h"
#include "sim/simulator.h"
#include "ui/message_box.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

using namespace vireo;
using bench::spinUntil;

namespace {

double residentMegabytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return 0;
}

void spinFor(int ms)
{
    spinUntil([] { return false; }, ms);
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

    sim::SimulatorOptions options = sim::QuietOptions();
    options.faults.floodSignalPerSecond = 10000;
    sim::Simulator irb(sim::GenerateDatabase({4, 20, 60, 20}, nullptr).value(), options);
    if (!irb.Start("127.0.140.21", 8888)) {
        std::fprintf(stderr, "cannot start the simulator\n");
        return 1;
    }

    auto form = bench::MakeUnattendedMainForm();
    form->show();
    ui::MdiChild* window = form->OpenDeviceWindow("127.0.140.21", "Flood");
    window->ConnectMachine();
    if (!spinUntil([&] { return window->DataLoaded(); }, 60000)) {
        std::fprintf(stderr, "the device never loaded\n");
        return 1;
    }
    auto* tv = window->findChild<QTreeWidget*>(QStringLiteral("TreeView_TV"));
    auto* menu = window->findChild<QMenu*>(QStringLiteral("PMenu_child_prog"));
    spinUntil([&] { return tv->topLevelItemCount() > 0; }, 10000);
    tv->setCurrentItem(tv->topLevelItem(0));

    // The program's own timer measures how long posted work waits.
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = clock.elapsed();
    qint64 longestWait = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longestWait = std::max(longestWait, now - lastTick - 10);
        lastTick = now;
    });
    ticker.start(10);

    spinFor(2000);
    const double rssStart = residentMegabytes();
    const size_t sentStart = irb.Stats().sent;
    QElapsedTimer flood;
    flood.start();
    qint64 slowestMenu = 0;
    longestWait = 0;
    while (flood.elapsed() < 20000) {
        // The right-click waits in the event queue behind whatever the
        // session has posted, as the operator's input does.
        QElapsedTimer opening;
        opening.start();
        auto* page = window->findChild<ui::ProgramsPage*>();
        QMetaObject::invokeMethod(
            page, [page] { emit page->menuRequested(false, QPoint(5, 5)); }, Qt::QueuedConnection);
        spinUntil([&] { return menu->isVisible(); }, 5000);
        slowestMenu = std::max(slowestMenu, opening.elapsed());
        menu->hide();
        spinFor(500);
    }
    const double seconds = flood.nsecsElapsed() / 1e9;
    const double rssEnd = residentMegabytes();
    const size_t sent = irb.Stats().sent - sentStart;
    ticker.stop();

    QElapsedTimer closing;
    closing.start();
    ui::MessageBox::setNextAnswer(QMessageBox::No);
    form->close();
    spinUntil([&] { return form->DocumentWindowCount() == 0; }, 60000);
    const qint64 closeMs = closing.elapsed();

    std::printf("signal_flood_frames_per_second %.0f 1/s\n", sent / seconds);
    std::printf("signal_flood_rss_growth %.1f MB\n", rssEnd - rssStart);
    std::printf("signal_flood_ui_latency_max %lld ms\n", static_cast<long long>(longestWait));
    std::printf("signal_flood_menu_max %lld ms\n", static_cast<long long>(slowestMenu));
    std::printf("signal_flood_close %lld ms\n", static_cast<long long>(closeMs));
    form.reset();
    return 0;
}
