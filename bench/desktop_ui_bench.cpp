// The desktop program with a maximal device (255 satellites, transponders, TV
// and radio programs) from the simulator over loopback, on Qt's offscreen
// platform:
//   startup_to_first_refresh  main window created (Vireo.ini listing the
//                             device, ticked) to the device window showing its
//                             full trees, median (ms)
//   tree_fill_max_db          the two tree widgets mirroring a maximal database
//                             that is put into their models at once, median (ms)
#include "app/ui/main_form.h"
#include "bench/unattended_form.h"
#include "database/list_manager.h"
#include "device/device_core.h"
#include "device/ui/mdi_child.h"
#include "device/ui/program_tree_view.h"
#include "lang/language_table.h"
#include "sim/database_generator.h"
#include "sim/simulator.h"
#include "ui/message_box.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace vireo;
using bench::spinUntil;

namespace {

int countItems(QTreeWidget* tree)
{
    int n = 0;
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        ++n;
    }
    return n;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double startupOnce()
{
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    QDir().mkdir(QStringLiteral("Logs"));
    QFile ini(QStringLiteral("Vireo.ini"));
    ini.open(QIODevice::WriteOnly);
    ini.write("[Address]\r\nmachine=y127.0.73.1:Bench\r\n[LANGUAGE]\r\nlanguage=1\r\n\r\n");
    ini.close();

    QElapsedTimer timer;
    timer.start();
    auto form = bench::MakeUnattendedMainForm();
    form->show();
    const bool shown = spinUntil([&] {
        const auto children = form->ChildrenInTreeOrder();
        if (children.empty() || !children[0]->DataLoaded()) {
            return false;
        }
        auto* tv = children[0]->findChild<QTreeWidget*>(QStringLiteral("TreeView_TV"));
        auto* radio = children[0]->findChild<QTreeWidget*>(QStringLiteral("TreeView_RADIO"));
        return tv != nullptr && radio != nullptr && countItems(tv) == 4 * 255 &&
               countItems(radio) == 4 * 255;
    });
    const double ms = timer.nsecsElapsed() / 1e6;
    ui::MessageBox::setNextAnswer(QMessageBox::No);
    form.reset();
    QDir::setCurrent(previous);
    return shown ? ms : -1;
}

// Fills two tree models from the simulator (no widgets attached), then times
// two fresh widgets mirroring them: every node is reported and applied.
double treeFillOnce(DeviceCore& core)
{
    ProgramTree& tvModel = core.TvTree();
    ProgramTree& radioModel = core.RadioTree();
    QElapsedTimer timer;
    timer.start();
    ui::ProgramTreeView tv(tvModel, QStringLiteral("TreeView_TV"));
    ui::ProgramTreeView radio(radioModel, QStringLiteral("TreeView_RADIO"));
    // Attaching replays the present tree; the redisplay rewrites every node.
    core.Content().ProgramsTabShown();
    spinUntil([&] {
        return countItems(&tv) == static_cast<int>(tvModel.Size()) &&
               countItems(&radio) == static_cast<int>(radioModel.Size());
    });
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetLanguageFlag(1);
    BuildLanguageTable();
    sim::Simulator irb(sim::GenerateDatabase({255, 255, 255, 255}, nullptr).value(),
                       sim::QuietOptions());
    if (!irb.Start("127.0.73.1", 8888)) {
        std::fprintf(stderr, "cannot start the simulator\n");
        return 1;
    }
    std::vector<double> startup;
    for (int run = 0; run < 5; ++run) {
        startup.push_back(startupOnce());
    }
    std::printf("startup_to_first_refresh %.1f ms\n", median(startup));

    SessionContext context;
    NullDeviceView view;
    DeviceCore core(context, view, "127.0.73.1:Trees", {}, "no-logs");
    core.Session().ConnectAndStart();
    spinUntil([&] { return core.Loaded() && core.TvTree().Size() == 4 * 255; });
    std::vector<double> fill;
    for (int run = 0; run < 5; ++run) {
        fill.push_back(treeFillOnce(core));
    }
    std::printf("tree_fill_max_db %.1f ms\n", median(fill));
    core.Teardown();
    return 0;
}
