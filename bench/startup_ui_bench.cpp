// Start-up of the desktop program with a long machine list, on Qt's offscreen
// platform. Vireo.ini lists N machines; 5 of them are ticked and answered by
// simulated IRDs on loopback, the others are never connected.
//   startup_N_machines           main window created (start-up dialog and all)
//                                to a click on the machine tree, posted once
//                                the window has painted, being handled (s)
//   startup_N_machines_stall_max longest pause of the event loop (a 5 ms timer)
//                                until every listed machine is open and the
//                                ticked ones hold their data (ms)
//   startup_N_machines_all_open  to every machine open and the ticked ones
//                                loaded (s)
// Each figure is the median of three runs.
#include "app/ui/machine_tree_view.h"
#include "app/ui/main_form.h"
#include "bench/unattended_form.h"
#include "lang/language_table.h"
#include "sim/database_generator.h"
#include "sim/simulator.h"
#include "ui/message_box.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace vireo;

namespace {

constexpr int kTicked = 5;

std::string tickedAddress(int n)
{
    return "127.0.140." + std::to_string(11 + n);
}

// Never connected: listed only. Loopback all the same.
std::string idleAddress(int n)
{
    return "127.140." + std::to_string(n / 250) + "." + std::to_string(1 + n % 250);
}

QByteArray settingsFile(int machines)
{
    QByteArray ini = "[Address]\r\n";
    for (int n = 0; n < machines; ++n) {
        // The ticked ones spread through the list.
        const int slot = n * kTicked / machines;
        const bool ticked = n == slot * machines / kTicked;
        const std::string line =
            ticked ? "machine=y" + tickedAddress(slot) + ":Sim" + std::to_string(slot)
                   : "machine=n" + idleAddress(n) + ":Rack " + std::to_string(n);
        ini += QByteArray::fromStdString(line) + "\r\n";
    }
    ini += "[LANGUAGE]\r\nlanguage=1\r\n\r\n";
    return ini;
}

class ClickProbe : public QObject
{
public:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonPress && handledNs < 0) {
            handledNs = clock.nsecsElapsed();
        }
        return false;
    }
    QElapsedTimer clock;
    qint64 handledNs = -1;
};

struct Run
{
    double answerSeconds = -1;
    double stallMs = 0;
    double allOpenSeconds = -1;
};

Run startupOnce(int machines)
{
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    QDir().mkdir(QStringLiteral("Logs"));
    QFile ini(QStringLiteral("Vireo.ini"));
    ini.open(QIODevice::WriteOnly);
    ini.write(settingsFile(machines));
    ini.close();

    Run run;
    ClickProbe probe;
    probe.clock.start();
    auto form = bench::MakeUnattendedMainForm();
    QWidget* tree = form->MachineTree()->viewport();
    tree->installEventFilter(&probe);

    qint64 lastTick = probe.clock.nsecsElapsed();
    qint64 longest = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = probe.clock.nsecsElapsed();
        longest = std::max(longest, now - lastTick);
        lastTick = now;
    });
    ticker.start(5);
    form->show();

    bool clicked = false;
    QElapsedTimer limit;
    limit.start();
    while (limit.elapsed() < 300000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (!clicked && form->MachineTree()->topLevelItemCount() > 0) {
            // The window is up: the operator clicks the machine tree.
            clicked = true;
            QCoreApplication::postEvent(
                tree, new QMouseEvent(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5),
                                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
        }
        if (run.answerSeconds < 0 && probe.handledNs >= 0) {
            run.answerSeconds = probe.handledNs / 1e9;
        }
        if (form->Registry().MachineCount() == static_cast<size_t>(machines)) {
            int loaded = 0;
            for (ui::MdiChild* window : form->ChildrenInTreeOrder()) {
                loaded += window->DataLoaded() ? 1 : 0;
            }
            if (loaded == kTicked && run.answerSeconds >= 0) {
                run.allOpenSeconds = probe.clock.nsecsElapsed() / 1e9;
                break;
            }
        }
    }
    ticker.stop();
    run.stallMs = longest / 1e6;
    ui::MessageBox::setNextAnswer(QMessageBox::No);
    form->close();
    form.reset();
    QDir::setCurrent(previous);
    return run;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetLanguageFlag(1);
    BuildLanguageTable();
    std::vector<std::unique_ptr<sim::Simulator>> irds;
    for (int n = 0; n < kTicked; ++n) {
        irds.push_back(std::make_unique<sim::Simulator>(
            sim::GenerateDatabase({2, 6, 10, 4}, nullptr).value(), sim::QuietOptions()));
        if (!irds.back()->Start(tickedAddress(n), 8888)) {
            std::fprintf(stderr, "cannot start the simulator on %s\n", tickedAddress(n).c_str());
            return 1;
        }
    }
    std::vector<int> sizes = {100, 1000};
    if (argc > 1) {
        sizes = {std::atoi(argv[1])};
    }
    for (const int machines : sizes) {
        std::vector<double> answer, stall, allOpen;
        for (int i = 0; i < 3; ++i) {
            const Run run = startupOnce(machines);
            answer.push_back(run.answerSeconds);
            stall.push_back(run.stallMs);
            allOpen.push_back(run.allOpenSeconds);
        }
        const std::string name = "startup_" + std::to_string(machines) + "_machines";
        std::printf("%s %.2f s\n", name.c_str(), median(answer));
        std::printf("%s_stall_max %.0f ms\n", name.c_str(), median(stall));
        std::printf("%s_all_open %.2f s\n", name.c_str(), median(allOpen));
        std::fflush(stdout);
    }
    return 0;
}
