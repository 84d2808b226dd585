// The desktop program disconnecting from a device that cannot be reached, on
// Qt's offscreen platform. A simulated IRD is connected and loaded, then
//  - goes silent (it takes requests and never answers), the operator presses
//    Update and, a moment later, Disconnect while the refresh waits; or
//  - goes away and its address answers no more connection requests (they
//    are never completed), so the session's reconnect hangs, and the
//    operator presses Disconnect meanwhile.
// Three rounds of each:
//   disconnect_ui_stall_max  longest pause of the event loop (a 5 ms timer)
//                            from Disconnect until the window shows the
//                            device disconnected (ms)
//   disconnect_time_max      Disconnect to the window showing it (ms)
#include "app/ui/main_form.h"
#include "bench/unattended_form.h"
#include "device/ui/mdi_child.h"
#include "lang/language_table.h"
#include "sim/database_generator.h"
#include "sim/simulator.h"
#include "ui/message_box.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace vireo;
using bench::spinUntil;

namespace {

// A listener on the device's address whose queue is full: connection
// requests to it are neither accepted nor refused.
class Unreachable
{
public:
    explicit Unreachable(const char* address)
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(8888);
        inet_pton(AF_INET, address, &addr.sin_addr);
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(m_fd, 0) != 0) {
            std::perror("listen");
        }
        for (int i = 0; i < 4; ++i) {
            const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(filler, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
            m_fillers.push_back(filler);
        }
    }
    ~Unreachable()
    {
        for (int fd : m_fillers) {
            ::close(fd);
        }
        ::close(m_fd);
    }

private:
    int m_fd = -1;
    std::vector<int> m_fillers;
};

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

    const sim::DeviceDatabase db = sim::GenerateDatabase({4, 20, 60, 20}, nullptr).value();
    auto irb = std::make_unique<sim::Simulator>(db, sim::QuietOptions());
    if (!irb->Start("127.0.140.22", 8888)) {
        std::fprintf(stderr, "cannot start the simulator\n");
        return 1;
    }
    auto form = bench::MakeUnattendedMainForm();
    form->show();
    ui::MdiChild* window = form->OpenDeviceWindow("127.0.140.22", "Silent");

    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = clock.elapsed();
    qint64 longest = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - lastTick);
        lastTick = now;
    });
    ticker.start(5);

    qint64 stallMax = 0;
    qint64 disconnectMax = 0;
    for (int round = 0; round < 6; ++round) {
        const bool gone = round % 2 == 1;
        window->ConnectMachine();
        if (!spinUntil([&] { return window->EverConnected() && window->DataLoaded(); }, 60000)) {
            std::fprintf(stderr, "round %d: the device never loaded\n", round);
            return 1;
        }
        std::unique_ptr<Unreachable> nobody;
        if (gone) {
            irb.reset();
            nobody = std::make_unique<Unreachable>("127.0.140.22");
        } else {
            sim::FaultOptions silent;
            silent.silent = true;
            irb->SetFaults(silent);
            window->RefreshIrd();
        }
        spinUntil([] { return false; }, 500);

        longest = 0;
        lastTick = clock.elapsed();
        QElapsedTimer disconnecting;
        disconnecting.start();
        window->RequestDisconnect();
        if (!spinUntil([&] { return !window->EverConnected(); }, 60000)) {
            std::fprintf(stderr, "round %d: the window never showed the disconnect\n", round);
            return 1;
        }
        disconnectMax = std::max(disconnectMax, disconnecting.elapsed());
        stallMax = std::max({stallMax, longest, clock.elapsed() - lastTick});

        nobody.reset();
        if (!irb) {
            irb = std::make_unique<sim::Simulator>(db, sim::QuietOptions());
            if (!irb->Start("127.0.140.22", 8888)) {
                std::fprintf(stderr, "cannot restart the simulator\n");
                return 1;
            }
        }
        irb->SetFaults({});
    }
    ticker.stop();
    std::printf("disconnect_ui_stall_max %lld ms\n", static_cast<long long>(stallMax));
    std::printf("disconnect_time_max %lld ms\n", static_cast<long long>(disconnectMax));
    ui::MessageBox::setNextAnswer(QMessageBox::No);
    form->close();
    form.reset();
    return 0;
}
