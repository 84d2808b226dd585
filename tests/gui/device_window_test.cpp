// The device window: its panes mirror the core's log buffer and program
// trees, it lays itself out by the window's size, connects without holding up
// the UI thread, checks addresses its IRD reports and closes in order.

#include "device/ui/device_view_adapter.h"
#include "device/ui/log_pane.h"
#include "device/ui/program_tree_view.h"
#include "gui_fixture.h"
#include "lang/language_rows.h"
#include "log/log_file.h"
#include "sim/database_generator.h"
#include "sim/simulator.h"
#include "ui/gbk_text.h"
#include "ui/state_image_delegate.h"

#include <QCheckBox>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QSplitter>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <arpa/inet.h>
#include <map>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vireo;
using namespace vireo::ui;
using namespace vireo::test;

namespace {

// A TCP port on 127.0.0.1 that accepts connections (the kernel completes
// them; nobody answers), or, once closed, refuses them.
class LoopbackPort
{
public:
    // `backlog` 0 with `fill` set: the listener's queue is full, so further
    // connection requests are dropped and a connect never completes.
    explicit LoopbackPort(bool listening, int backlog = 8, bool fill = false)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t length = sizeof addr;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &length);
        m_port = ntohs(addr.sin_port);
        if (listening) {
            ::listen(m_fd, backlog);
            for (int i = 0; fill && i < 4; ++i) {
                const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
                ::connect(filler, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
                m_fillers.push_back(filler);
            }
        } else {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~LoopbackPort()
    {
        for (int filler : m_fillers) {
            ::close(filler);
        }
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    uint16_t port() const { return m_port; }

private:
    int m_fd = -1;
    uint16_t m_port = 0;
    std::vector<int> m_fillers;
};

QStringList paneLines(MdiChild* window)
{
    const QString text =
        window->findChild<QPlainTextEdit*>(QStringLiteral("Memo_log"))->toPlainText();
    QStringList messages;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        messages << line.mid(line.indexOf(QStringLiteral("): ")) + 3);
    }
    return messages;
}

template <typename T> T* child(QObject* parent, const char* name)
{
    return parent->findChild<T*>(QString::fromLatin1(name));
}

// Counts the posted calls each watched object runs.
class PostedCallCounter : public QObject
{
public:
    void watch(QObject* object)
    {
        object->installEventFilter(this);
        counts[object] = 0;
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MetaCall) {
            ++counts[watched];
        }
        return false;
    }
    std::map<QObject*, int> counts;
};

} // namespace

class DeviceWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<WorkDir>();
        WorkDir::write(QStringLiteral("Vireo.ini"), settingsWithLanguage(1));
    }
    void cleanup() { m_dir.reset(); }

    void logPaneShowsTheBufferAndEmptiesWhenItIsFlushed()
    {
        auto form = startMainForm();
        QVERIFY(form);
        MdiChild* window = form->OpenDeviceWindow("10.0.0.5", "Studio");
        auto* pane = child<QPlainTextEdit>(window, "Memo_log");

        // Lines come from another thread too; they arrive in order.
        std::thread worker([window] {
            for (int i = 0; i < 499; ++i) {
                window->Log().AddLogLine("line " + std::to_string(i));
            }
        });
        worker.join();
        QTRY_COMPARE(pane->blockCount(), 499);
        QVERIFY(pane->toPlainText().startsWith(QStringLiteral("(10.0.0.5:Studio) (")));
        QVERIFY(pane->toPlainText().endsWith(QStringLiteral("): line 498")));
        QVERIFY(!QFile::exists(QStringLiteral("Logs/10.0.0.5.txt")));

        window->Log().AddLogLine("line 499");
        QTRY_VERIFY(pane->toPlainText().isEmpty());
        const QByteArray file = WorkDir::read(QStringLiteral("Logs/10.0.0.5.txt"));
        QCOMPARE(file.count("\r\r\n"), 500);
    }

    void aFloodOfReportsCostsTheUiOneUpdatePerTurn()
    {
        auto form = startMainForm();
        QVERIFY(form);
        MdiChild* window = form->OpenDeviceWindow("10.0.0.7", "Flood");
        auto* pane = child<QPlainTextEdit>(window, "Memo_log");
        auto* tv = child<ProgramTreeView>(window, "TreeView_TV");
        auto* intensity = child<QProgressBar>(window, "CGauge_int");
        ProgramTree& model = window->TvTree();
        const TreeNodeId sat = model.Add(kNoTreeNode, "sat");
        QTRY_VERIFY(tv->ItemOf(sat) != nullptr);
        PostedCallCounter posted;
        for (QObject* object : {static_cast<QObject*>(window), static_cast<QObject*>(pane),
                                static_cast<QObject*>(tv)}) {
            posted.watch(object);
        }

        // A session reporting far faster than the UI thread turns: here the
        // UI thread does not turn at all until it is over.
        DeviceView& view = window->View();
        std::thread session([&] {
            for (int i = 0; i < 100000; ++i) {
                view.ShowSignal({true, false, true, i % 100, 99 - i % 100});
                view.SetMachineState(i % 2 == 0 ? 4 : 5);
                model.SetStateImage(sat, i % 2 == 0 ? 9 : 5);
                if (i % 30 == 0) {
                    window->Log().AddLogLine("report " + std::to_string(i));
                }
            }
        });
        session.join();
        QVERIFY(window->View().PendingUpdates() <= 3); // gauges, machine state
        QVERIFY(tv->PendingReports() <= 1);            // the node's last change
        QVERIFY(child<LogPane>(window, "Memo_log")->PendingChanges() <= LogBuffer::kFlushLines);

        QCoreApplication::processEvents();
        for (const auto& [object, count] : posted.counts) {
            QVERIFY2(count <= 2, qPrintable(object->objectName() + QString::number(count)));
        }
        // What shows is what came last.
        QCOMPARE(intensity->value(), 99999 % 100);
        QCOMPARE(tv->ItemOf(sat)->data(0, kStateImageRole).isNull(), false);
        QCOMPARE(model.Node(sat).stateImage, 5);
        QCOMPARE(pane->blockCount(), 3334 % 500);
        QVERIFY(pane->toPlainText().endsWith(QStringLiteral("report 99990")));
        // One state applied: the first step of the blink.
        QCOMPARE(form->Registry().Tree().Find(window->Entry()->Node())->image, kImageConnected);
    }

    void closingWritesTheBannerAndRemovesTheMachine()
    {
        auto form = startMainForm();
        QVERIFY(form);
        MdiChild* quiet = form->OpenDeviceWindow("10.0.0.6", "");
        MdiChild* window = form->OpenDeviceWindow("10.0.0.5", "Studio");
        QCOMPARE(form->Registry().CurrentEntry(), window->Entry());
        for (int i = 0; i < 3; ++i) {
            window->Log().AddLogLine("event");
        }
        window->close();
        QTRY_COMPARE(form->DocumentWindowCount(), 1);
        QCOMPARE(form->Registry().MachineCount(), size_t(1));
        QCOMPARE(form->Registry().CurrentEntry(), quiet->Entry()); // activated in turn
        const QByteArray file = WorkDir::read(QStringLiteral("Logs/10.0.0.5.txt"));
        QCOMPARE(file.count("event"), 3);
        QVERIFY(
            file.endsWith(QByteArray(kClosingBanner.data(), kClosingBanner.size()) + "\r\n\r\n"));

        quiet->close(); // an empty pane writes nothing, not even the banner
        QTRY_COMPARE(form->DocumentWindowCount(), 0);
        QVERIFY(!QFile::exists(QStringLiteral("Logs/10.0.0.6.txt")));
    }

    void programTreesMirrorTheirModels()
    {
        auto form = startMainForm();
        QVERIFY(form);
        MdiChild* window = form->OpenDeviceWindow("10.0.0.5", "");
        auto* tv = child<ProgramTreeView>(window, "TreeView_TV");
        ProgramTree& model = window->TvTree();

        TreeNodeId sat = 0, tp = 0, program = 0, pid = 0;
        std::thread session([&] {
            TreeUpdateScope bracket(model);
            sat = model.Add(kNoTreeNode, "\xd6\xd0\xd0\xc7 6B"); // 中星 6B
            tp = model.Add(sat, "3840 H 27500");
            program = model.Add(tp, "P 001:CCTV-1");
            pid = model.Add(program, "VID PID:200h; ");
            model.SetImage(sat, 0);
            model.SetImage(tp, 1);
            model.SetImage(program, 2);
            model.SetStateImage(program, 9);
            model.SetExpanded(sat, true);
        });
        session.join();
        QTRY_COMPARE(tv->topLevelItemCount(), 1);
        QTRY_VERIFY(tv->ItemOf(pid) != nullptr);
        QCOMPARE(tv->topLevelItem(0)->text(0), QString::fromUtf8("\xe4\xb8\xad\xe6\x98\x9f 6B"));
        QVERIFY(tv->topLevelItem(0)->isExpanded());
        QTreeWidgetItem* programItem = tv->ItemOf(program);
        QCOMPARE(programItem->text(0), QStringLiteral("P 001:CCTV-1"));
        QVERIFY(!programItem->data(0, kStateImageRole).isNull());
        QVERIFY(!programItem->icon(0).isNull());

        model.SetStateImage(program, kNoTreeImage);
        model.SetText(program, "P 001:CCTV-1 HD");
        QTRY_VERIFY(programItem->data(0, kStateImageRole).isNull());
        QCOMPARE(programItem->text(0), QStringLiteral("P 001:CCTV-1 HD"));

        // The operator's selection goes back to the model.
        tv->setCurrentItem(programItem);
        QCOMPARE(model.Selected(), program);

        // Removing the TP takes its program and PID line along.
        model.Remove(tp);
        QTRY_VERIFY(tv->ItemOf(tp) == nullptr);
        QVERIFY(tv->ItemOf(program) == nullptr);
        QVERIFY(tv->ItemOf(pid) == nullptr);
        QCOMPARE(tv->topLevelItem(0)->childCount(), 0);
        QCOMPARE(model.Selected(), kNoTreeNode);
    }

    void layoutFollowsTheWindowSizeAndShowRadio()
    {
        auto form = startMainForm();
        QVERIFY(form);
        form->resize(1400, 1000);
        MdiChild* window = form->OpenDeviceWindow("10.0.0.5", "");
        window->showNormal();
        auto* query = child<QCheckBox>(window, "ChBx_Query");
        auto* showRadio = child<QCheckBox>(window, "ChBx_ShowRadio");
        auto* radio = child<ProgramTreeView>(window, "TreeView_RADIO");
        auto* trees = child<QSplitter>(window, "Splitter_treeview");
        auto* hor = child<QSplitter>(window, "Splitter_hor");
        QVERIFY(!child<QPlainTextEdit>(window, "Memo_debug")->isVisible());

        window->resize(560, 500); // log pane 548 wide: the boxes stay put
        QTRY_COMPARE(query->x(), 400);
        QCOMPARE(showRadio->x(), 480);
        QCOMPARE(hor->sizes().value(0), 500 * 2 / 3);
        QVERIFY(!showRadio->isChecked());
        QVERIFY(!radio->isVisible());
        QCOMPARE(trees->sizes().value(0), trees->width());

        window->resize(900, 600);
        QTRY_COMPARE(query->x(), 900 - 12 - 170);
        QCOMPARE(showRadio->x(), 900 - 12 - 170 + 80);

        showRadio->click();
        QTRY_VERIFY(radio->isVisible());
        QCOMPARE(trees->sizes().value(0), 450);
        QCOMPARE(window->TreeRatio(), 0.5);

        showRadio->click();
        QTRY_VERIFY(!radio->isVisible());
        QCOMPARE(trees->sizes().value(0), trees->width());
    }

    void connectingRunsOffTheUiThreadAndKeepsTheOrder()
    {
        LoopbackPort ird(true);
        DeviceOptions options;
        options.port = ird.port();
        auto form = startMainForm(options);
        QVERIFY(form);
        MdiChild* window = form->OpenDeviceWindow("127.0.0.1", "sim");
        QSignalSpy finished(window, &MdiChild::connectFinished);
        auto* sw = child<QToolButton>(form.get(), "TBtn_switch");

        sw->click(); // down: connect
        QVERIFY(sw->isChecked());
        QVERIFY(window->IsConnecting()); // the step runs on its worker
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.first().first().toBool(), true);
        QVERIFY(window->EverConnected());
        QVERIFY(sw->isChecked());

        // Up at once, while the new session thread may not run yet: the
        // disconnect still happens.
        sw->click();
        QVERIFY(!sw->isChecked());
        QTRY_VERIFY(paneLines(window).contains(QStringLiteral("Disconnect successfully")));
        QTRY_VERIFY(!window->EverConnected());
        QTRY_COMPARE(form->Registry().Tree().Find(window->Entry()->Node())->image,
                     kImageNotConnected);
        const QStringList lines = paneLines(window);
        QCOMPARE(lines.value(0), QStringLiteral("Begin connect remote port"));
        QCOMPARE(lines.value(1), QStringLiteral("Connect successfully"));
        QVERIFY(lines.indexOf(QStringLiteral("Update IRD Information")) > 1);
        QVERIFY(lines.indexOf(QStringLiteral("Update IRD Information")) <
                lines.indexOf(QStringLiteral("Disconnect successfully")));
        QVERIFY(!sw->isChecked());
    }

    void anUnansweredConnectNeverFreezesTheProgram()
    {
        LoopbackPort ird(true, 0, true); // the IRD's queue is full: no answer
        QTest::qWait(20);
        DeviceOptions options;
        options.port = ird.port();
        options.timing = LinkTiming{std::chrono::microseconds(200)}; // the attempts take ~0.5 s
        auto form = startMainForm(options);
        QVERIFY(form);
        MdiChild* window = form->OpenDeviceWindow("127.0.0.1", "silent");
        QSignalSpy finished(window, &MdiChild::connectFinished);
        int ticks = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
        timer.start(10);
        child<QToolButton>(form.get(), "TBtn_switch")->click();
        QVERIFY(window->IsConnecting());
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.first().first().toBool(), false);
        // The event loop kept turning through the whole connect attempt.
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
        QVERIFY(paneLines(window).contains(QStringLiteral("System error, exit connection24")));
    }

    void tickedMachinesConnectAfterStartUp()
    {
        LoopbackPort ird(true);
        WorkDir::write(QStringLiteral("Vireo.ini"), "[Address]\r\n"
                                                    "machine=n127.0.0.2:idle\r\n"
                                                    "machine=y127.0.0.1:ticked\r\n"
                                                    "[LANGUAGE]\r\nlanguage=1\r\n\r\n");
        DeviceOptions options;
        options.port = ird.port();
        auto form = startMainForm(options);
        QVERIFY(form);
        QTRY_COMPARE(form->DocumentWindowCount(), 2);
        MdiChild* ticked = form->ChildrenInTreeOrder().at(0);
        MdiChild* idle = form->ChildrenInTreeOrder().at(1);
        QCOMPARE(ticked->Caption(), std::string("127.0.0.1:ticked"));
        QTRY_VERIFY(paneLines(ticked).contains(QStringLiteral("Connect successfully")));
        QCOMPARE(form->ActiveChild(), ticked); // the last one connected comes forward
        QVERIFY(!idle->EverConnected());
        QCOMPARE(idle->Log().LineCount(), size_t(0));
    }

    void aRefusedConnectReleasesTheSwitch()
    {
        LoopbackPort closed(false);
        DeviceOptions options;
        options.port = closed.port();
        auto form = startMainForm(options);
        QVERIFY(form);
        MdiChild* window = form->OpenDeviceWindow("127.0.0.1", "");
        QSignalSpy finished(window, &MdiChild::connectFinished);
        auto* sw = child<QToolButton>(form.get(), "TBtn_switch");
        sw->click();
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.first().first().toBool(), false);
        QTRY_VERIFY(!sw->isChecked());
        QVERIFY(!window->EverConnected());
        QCOMPARE(paneLines(window).value(0), QStringLiteral("Begin connect remote port"));
    }

    void aSessionThatEndsLeavesTheWindowDisconnectedAndReconnectable()
    {
        // A device with gaps that answers status 12 to every TP query, and
        // whose burst loses frames: the TPs it lost are looked for under
        // every satellite, given up one by one, and the session goes on.
        sim::SimulatorOptions options = sim::QuietOptions();
        options.faults.burstDropShare = 0.3;
        options.faults.statusOverrides[0x22] = 12; // QueryTp
        const auto db = sim::GenerateDatabase({4, 12, 10, 4}, nullptr).value();
        auto irb = std::make_unique<sim::Simulator>(db, options);
        QVERIFY(irb->Start("127.0.110.40", 8888));
        auto form = startMainForm();
        QVERIFY(form);
        MdiChild* window = form->OpenDeviceWindow("127.0.110.40", "Gaps");
        auto* sw = child<QToolButton>(form.get(), "TBtn_switch");
        sw->click();
        QTRY_VERIFY_WITH_TIMEOUT(window->DataLoaded(), 10000);
        QTRY_VERIFY(paneLines(window).filter(QStringLiteral("TP can't find matched one")).size() >
                    0);
        QVERIFY(window->Session().threadRunning);
        QVERIFY(child<QToolButton>(form.get(), "TBtn_renew")->isEnabled());

        // The device goes away: the reconnect is refused and the session
        // ends; the window shows it disconnected, ready to connect again.
        irb.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!window->EverConnected(), 10000);
        QTRY_VERIFY(!window->Session().threadRunning);
        QTRY_VERIFY(!sw->isChecked());
        QVERIFY(sw->isEnabled());
        QTRY_COMPARE(form->Registry().Tree().Find(window->Entry()->Node())->image,
                     kImageNotConnected);
        QVERIFY(paneLines(window).contains(QStringLiteral("Re-connect Communication Port fail!")));

        irb = std::make_unique<sim::Simulator>(db, sim::QuietOptions());
        QVERIFY(irb->Start("127.0.110.40", 8888));
        sw->click();
        QTRY_VERIFY_WITH_TIMEOUT(window->DataLoaded(), 10000);
        QTRY_VERIFY(window->EverConnected());
    }

    void closingWhileConnectedStopsTheSession()
    {
        LoopbackPort ird(true);
        DeviceOptions options;
        options.port = ird.port();
        auto form = startMainForm(options);
        QVERIFY(form);
        MdiChild* window = form->OpenDeviceWindow("127.0.0.1", "sim");
        QSignalSpy finished(window, &MdiChild::connectFinished);
        form->ConnectMachine(window);
        QVERIFY(finished.wait(10000));
        QTRY_VERIFY(window->Session().threadRunning);
        QTRY_COMPARE(form->Registry().Tree().Find(window->Entry()->Node())->image, kImageConnected);
        form->TBtnCloseClick();
        QTRY_COMPARE(form->DocumentWindowCount(), 0);
        QVERIFY(WorkDir::read(QStringLiteral("Logs/127.0.0.1.txt")).contains("Closing Here"));
    }

    void reportedAddressRetitlesOrOffersToClose()
    {
        auto form = startMainForm();
        QVERIFY(form);
        MdiChild* other = form->OpenDeviceWindow("10.0.0.9", "other");
        MdiChild* window = form->OpenDeviceWindow("10.0.0.1", "Studio");

        // Free address: the window and its node take it, the name stays.
        window->CheckReportedAddress({10, 0, 0, 2});
        QCOMPARE(window->Caption(), std::string("10.0.0.2:Studio"));
        QCOMPARE(form->Registry().Tree().Find(window->Entry()->Node())->text,
                 std::string("10.0.0.2:Studio"));

        // Its own address again: nothing to ask.
        MessageBox::clearShown();
        window->CheckReportedAddress({10, 0, 0, 2});
        QVERIFY(MessageBox::shownTexts().isEmpty());

        // Taken by another window: asked, and Cancel keeps the window.
        MessageBox::setNextAnswer(QMessageBox::Cancel);
        window->CheckReportedAddress({10, 0, 0, 9});
        QCOMPARE(MessageBox::shownTexts().value(0),
                 FromGbk(lang_rows::kEnglish[41]) + QStringLiteral("10.0.0.2:Studio"));
        QCOMPARE(form->DocumentWindowCount(), 2);

        // Unusable address: asked, and OK closes the window.
        MessageBox::clearShown();
        MessageBox::setNextAnswer(QMessageBox::Ok);
        window->CheckReportedAddress({0, 0, 0, 0});
        QCOMPARE(MessageBox::shownTexts().value(0),
                 FromGbk(lang_rows::kEnglish[40]) + QStringLiteral("10.0.0.2:Studio"));
        QTRY_COMPARE(form->DocumentWindowCount(), 1);
        QCOMPARE(form->ChildrenInTreeOrder().front(), other);
    }

    void theSystemTabGivesWayToTheProgramsWhileDisabled()
    {
        sim::Simulator irb(sim::GenerateDatabase({1, 2, 3, 1}, nullptr).value(),
                           sim::QuietOptions());
        QVERIFY(irb.Start("127.0.140.2", 8888));
        auto form = startMainForm();
        QVERIFY(form);
        MdiChild* window = form->OpenDeviceWindow("127.0.140.2", "Tabs");
        auto* tabs = child<QTabWidget>(window, "PageControl_child");
        window->ConnectMachine();
        QTRY_VERIFY_WITH_TIMEOUT(window->DataLoaded() && tabs->isTabEnabled(1), 10000);
        tabs->setCurrentIndex(1);
        QSignalSpy shown(tabs, &QTabWidget::currentChanged);

        // Update: the tab is disabled for the refresh and enabled after it.
        window->RefreshIrd();
        QTRY_VERIFY_WITH_TIMEOUT(window->DataLoaded() && tabs->isTabEnabled(1), 10000);
        QCOMPARE(tabs->currentIndex(), 1);
        for (const auto& call : shown) {
            QVERIFY(call.first().toInt() != 2); // never the empty "CI Management"
        }

        // Disabled: the programs stand in, and give way again.
        window->ApplySystemTabEnabled(false);
        QCOMPARE(tabs->currentIndex(), 0);
        window->ApplySystemTabEnabled(true);
        QCOMPARE(tabs->currentIndex(), 1);
        // Unless the operator went elsewhere meanwhile.
        window->ApplySystemTabEnabled(false);
        tabs->setCurrentIndex(2);
        window->ApplySystemTabEnabled(true);
        QCOMPARE(tabs->currentIndex(), 2);
        ui::MessageBox::setNextAnswer(QMessageBox::No);
    }

    void tabsAndCaptionsOfANewWindow()
    {
        auto form = startMainForm();
        QVERIFY(form);
        MdiChild* window = form->OpenDeviceWindow("10.0.0.1", "");
        auto* tabs = child<QTabWidget>(window, "PageControl_child");
        QCOMPARE(tabs->count(), 4);
        QCOMPARE(tabs->tabText(0), QStringLiteral("Programs Sheet"));
        QCOMPARE(tabs->tabText(2), QStringLiteral("CI Management"));
        QCOMPARE(tabs->tabText(3), QStringLiteral("Signal History"));
        QVERIFY(!tabs->isTabEnabled(1));
        QCOMPARE(child<QCheckBox>(window, "ChBx_Query")->text(), QStringLiteral("Monitor IRD"));
        QVERIFY(child<QCheckBox>(window, "ChBx_Query")->isChecked());
        QCOMPARE(window->windowTitle(), QStringLiteral("10.0.0.1:"));
        QCOMPARE(window->SignalSourceIndex(), 9);

        window->ShowSignalSource(1);
        QCOMPARE(window->SignalSourceIndex(), 1);
        QCOMPARE(window->SignalSourceText(), std::string("ASI IN"));
        window->ShowSignalSource(7);
        QCOMPARE(window->SignalSourceIndex(), 9);
        QCOMPARE(window->SignalSourceText(), std::string("ASI IN"));

        // Unticking "Monitor IRD" reaches the session thread's copy.
        child<QCheckBox>(window, "ChBx_Query")->click();
        QVERIFY(!window->Session().querySignalTicked);
    }

private:
    std::unique_ptr<WorkDir> m_dir;
};

QTEST_MAIN(DeviceWindowTest)
#include "device_window_test.moc"
