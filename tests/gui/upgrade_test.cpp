// Starting a firmware upgrade from the main window: the upgrade type dialog,
// the questions, the file and the StartUpgrade request against the simulated
// IRD; and what the windows show while an upgrade runs.

#include "app/ui/begin_upgrade.h"
#include "app/ui/machine_tree_view.h"
#include "device/ui/program_tree_view.h"
#include "dialogs/ui/sel_form.h"
#include "gui_fixture.h"
#include "link/message_code.h"
#include "sim/database_generator.h"
#include "sim/simulator.h"

#include <QElapsedTimer>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidgetItemIterator>
#include <atomic>
#include <thread>

using namespace vireo;
using namespace vireo::ui;
using namespace vireo::test;

namespace {

using Progress = DeviceView::UpgradeProgress;

const QString kAskToUpgrade = QStringLiteral("Do you want to upgrade\t");
const QString kVersionText = QStringLiteral("\n\n Loader: V1.2\tSoftware: V3.4");

template <typename T> T* child(QObject* parent, const char* name)
{
    return parent->findChild<T*>(QString::fromLatin1(name));
}

sim::DeviceDatabase deviceDatabase()
{
    sim::DeviceDatabase db = sim::GenerateDatabase({1, 2, 3, 1}, nullptr).value();
    db.version = {1, 2, 3, 4};
    return db;
}

// The window's log lines without their prefix.
QStringList logLines(MdiChild* window)
{
    QStringList messages;
    const QString text = child<QPlainTextEdit>(window, "Memo_log")->toPlainText();
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        messages << line.mid(line.indexOf(QStringLiteral("): ")) + 3);
    }
    return messages;
}

// Those of BeginUpgrade.
QStringList upgradeLines(MdiChild* window)
{
    QStringList lines = logLines(window);
    lines.removeIf([](const QString& line) {
        return !line.startsWith(QStringLiteral("Give up")) && !line.startsWith("Selected");
    });
    return lines;
}

int itemCount(QTreeWidget* tree)
{
    int count = 0;
    for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
        ++count;
    }
    return count;
}

// Scripts the upgrade type dialog: Ok on the button named `button`.
void chooseType(const char* button)
{
    ModalSeam::setNextAction([button](QDialog* d) {
        child<QRadioButton>(d, button)->setChecked(true);
        return clickButton(d, "Btn_ok");
    });
}

} // namespace

class UpgradeTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<WorkDir>();
        WorkDir::write(QStringLiteral("Vireo.ini"), settingsWithLanguage(1));
    }
    void cleanup()
    {
        m_form.reset();
        m_irb.reset();
        m_dir.reset();
        MessageBox::setUnattended(true);
    }

    void knownVersionAsksOnceThenTypeAndFile()
    {
        // The device acknowledges StartUpgrade without taking the upgrade, so
        // the operator's side can be gone through again and again.
        sim::FaultOptions declining;
        declining.statusOverrides[msg::StartUpgrade] = 0;
        QVERIFY(open("127.0.80.1", true, declining));
        const QString caption = QStringLiteral("127.0.80.1:Upg");
        auto* upgrade = child<QToolButton>(m_form.get(), "TBtn_upgrade");
        QTRY_VERIFY(upgrade->isEnabled());

        // Declining the question logs nothing.
        MessageBox::setNextAnswer(QMessageBox::Cancel);
        upgrade->click();
        QCOMPARE(MessageBox::shownTexts(), QStringList{kAskToUpgrade + caption + kVersionText});

        // Type and file: the choice is kept and the device is told.
        const QString file = QDir(m_dir->path()).filePath(QStringLiteral("main.bin"));
        WorkDir::write(file, QByteArray("\x01\x02\x03\x05image", 9));
        MessageBox::setNextAnswer(QMessageBox::Ok);
        chooseType("RBtn_Key");
        ModalSeam::setNextAction([&](QDialog* d) {
            auto* dialog = qobject_cast<QFileDialog*>(d);
            if (dialog == nullptr || dialog->nameFilters() != QStringList{"Bin Files (*.bin)"} ||
                dialog->directory() != QDir::current()) {
                return int(QDialog::Rejected);
            }
            dialog->selectFile(file);
            return int(QDialog::Accepted);
        });
        upgrade->click();
        QCOMPARE(m_window->Upgrade().Type(), 12);
        QCOMPARE(QString::fromStdString(m_window->Upgrade().Path()), file);
        QTRY_COMPARE(framesOf(msg::StartUpgrade), 1);

        // The type dialog starts afresh; its close box chooses nothing, even
        // with a type checked.
        MessageBox::setNextAnswer(QMessageBox::Ok);
        bool fresh = false;
        ModalSeam::setNextAction([&fresh](QDialog* d) {
            d->show();
            fresh = child<QRadioButton>(d, "RBtn_LMainF")->isChecked() &&
                    static_cast<SelForm*>(d)->GetUpgradeType() == 500;
            child<QRadioButton>(d, "RBtn_Data")->setChecked(true);
            d->close();
            return d->result();
        });
        upgrade->click();
        QVERIFY(fresh);

        // The file dialog does not remember that file; cancelling it gives up.
        MessageBox::setNextAnswer(QMessageBox::Ok);
        chooseType("RBtn_mian");
        QStringList offered{QStringLiteral("unset")};
        ModalSeam::setNextAction([&](QDialog* d) {
            offered = qobject_cast<QFileDialog*>(d)->selectedFiles();
            return int(QDialog::Rejected);
        });
        upgrade->click();
        QVERIFY(!offered.contains(file));
        QCOMPARE(m_window->Upgrade().Path(), std::string());

        const QStringList expected{QStringLiteral("Selected-upgrading file:") + file,
                                   QStringLiteral("Give up Upgrading"),
                                   QStringLiteral("Give up Upgrading")};
        QTRY_COMPARE(upgradeLines(m_window), expected);
        QCOMPARE(framesOf(msg::StartUpgrade), 1);
    }

    void anAcceptedUpgradeHandsTheLinkToTheWindowsTransfer()
    {
        // The device takes the image at once, then writes it very slowly.
        sim::FaultOptions slowWriter;
        slowWriter.upgrade.writeStepMs = 60000;
        QVERIFY(open("127.0.80.6", true, slowWriter));
        const QString file = QDir::current().filePath(QStringLiteral("main.bin"));
        WorkDir::write(file, QByteArray("\x01\x02\x03\x05image", 9));
        MessageBox::setNextAnswer(QMessageBox::Ok);
        chooseType("RBtn_mian");
        ModalSeam::setNextAction([&](QDialog* d) {
            static_cast<QFileDialog*>(d)->selectFile(file);
            return int(QDialog::Accepted);
        });
        BeginUpgrade();
        QTRY_VERIFY(logLines(m_window).contains(QStringLiteral("Begin Upgrading") + file));
        QTRY_VERIFY(m_window->UpgradeRunning());
        QTRY_VERIFY(!child<QToolButton>(m_form.get(), "TBtn_upgrade")->isEnabled());
        QTRY_VERIFY(logLines(m_window).contains(QStringLiteral("Translation completely!")));
        auto* bar = child<QProgressBar>(m_window, "ProgressBar_upgrade");
        QTRY_VERIFY(bar->isVisible());
        QTRY_COMPARE(bar->format(), QStringLiteral("Upgrading: 0%"));

        // Closing the window while the device writes ends the transfer
        // without waiting for it.
        QElapsedTimer elapsed;
        elapsed.start();
        m_window->close();
        // Far below the device's minute per report: the close did not wait.
        QVERIFY(elapsed.elapsed() < 20000);
    }

    void theWindowShowsTheDeviceAgainAfterAnUpgradeAndARestart()
    {
        // The simulated device stays silent after its restarts until asked.
        QVERIFY(open("127.0.80.7", true));
        auto* tv = child<ProgramTreeView>(m_window, "TreeView_TV");
        auto* renew = child<QToolButton>(m_form.get(), "TBtn_renew");
        auto* upgrade = child<QToolButton>(m_form.get(), "TBtn_upgrade");
        QTRY_VERIFY(itemCount(tv) > 0);
        const int items = itemCount(tv);

        const QString file = QDir::current().filePath(QStringLiteral("main.bin"));
        WorkDir::write(file, QByteArray("\x01\x02\x03\x05image", 9));
        for (const bool upgraded : {true, false}) {
            if (upgraded) {
                MessageBox::setNextAnswer(QMessageBox::Ok);
                chooseType("RBtn_mian");
                ModalSeam::setNextAction([&](QDialog* d) {
                    static_cast<QFileDialog*>(d)->selectFile(file);
                    return int(QDialog::Accepted);
                });
                BeginUpgrade();
                QTRY_VERIFY_WITH_TIMEOUT(
                    logLines(m_window).contains(
                        QStringLiteral("Upgrading completely, please waiting for IRD restart!")),
                    10000);
            } else {
                sim::FaultOptions restarting;
                restarting.statusOverrides[msg::Reboot] = 175;
                m_irb->SetFaults(restarting);
                m_window->SendReboot();
            }
            // The restart dropped the database; the new session asks for it
            // by itself, once, and the window shows it again.
            const int refreshes = upgraded ? 2 : 3;
            QTRY_COMPARE_WITH_TIMEOUT(
                logLines(m_window).count(QStringLiteral("Update IRD Information")), refreshes,
                10000);
            QTRY_VERIFY_WITH_TIMEOUT(m_window->DataLoaded(), 10000);
            QTRY_COMPARE(itemCount(tv), items);
            // Whatever the refresh's start disabled has been applied by now.
            QCoreApplication::processEvents();
            QTRY_VERIFY(renew->isEnabled());
            QVERIFY(upgrade->isEnabled());
            m_form->PreparePopup(m_window->Entry()->Node());
            QVERIFY(child<QAction>(m_form.get(), "PMenu_update")->isEnabled());
            QVERIFY(child<QAction>(m_form.get(), "PMenu_upgrade")->isEnabled());
            QCOMPARE(framesOf(msg::UpdateAll), refreshes);

            // The version the window offers to upgrade from is the new one.
            MessageBox::clearShown();
            MessageBox::setNextAnswer(QMessageBox::Cancel);
            upgrade->click();
            QCOMPARE(MessageBox::shownTexts(),
                     QStringList{kAskToUpgrade + QStringLiteral("127.0.80.7:Upg") +
                                 QStringLiteral("\n\n Loader: V1.2\tSoftware: V3.5")});
        }
    }

    void unknownVersionIsAskedForAndAwaited()
    {
        // Every answer comes late, so the refresh has not brought the
        // version yet when the operator starts.
        sim::FaultOptions slow;
        slow.delayMs = 300;
        QVERIFY(open("127.0.80.2", false, slow));
        QVERIFY(!m_window->Content().DeviceVersion());

        MessageBox::setNextAnswer(QMessageBox::Ok);
        MessageBox::setNextAnswer(QMessageBox::Cancel);
        BeginUpgrade();
        const QString caption = QStringLiteral("127.0.80.2:Upg");
        QCOMPARE(MessageBox::shownTexts(),
                 (QStringList{caption + QStringLiteral("doesn't gain the versin information\n\n "
                                                       "do you want to request?"),
                              kAskToUpgrade + caption + kVersionText}));
        QTRY_COMPARE(framesOf(msg::QueryVersion), 1);
    }

    void waitForTheVersionEndsWithTheSession_data()
    {
        QTest::addColumn<bool>("closeWindow");
        QTest::newRow("disconnected") << false;
        QTest::newRow("window closed") << true;
    }
    void waitForTheVersionEndsWithTheSession()
    {
        QFETCH(bool, closeWindow);
        sim::FaultOptions silent;
        silent.silent = true;
        QVERIFY(open("127.0.80.3", false, silent));

        QPointer<MdiChild> window = m_window;
        QTimer::singleShot(300, m_form.get(), [window, closeWindow] {
            if (window && closeWindow) {
                window->close();
            } else if (window) {
                window->RequestDisconnect();
            }
        });
        MessageBox::setNextAnswer(QMessageBox::Ok);
        QElapsedTimer elapsed;
        elapsed.start();
        BeginUpgrade();
        // Well before the half-minute the wait would last on its own.
        QVERIFY(elapsed.elapsed() < 20000);
        QCOMPARE(MessageBox::shownTexts().size(), 1); // no second question
        QCOMPARE(window.isNull(), closeWindow);
    }

    void aVersionThatNeverComesEndsWithALineAndAMessage()
    {
        sim::FaultOptions silent;
        silent.silent = true;
        QVERIFY(open("127.0.140.8", false, silent));
        m_form->SetUpgradeStarter([this](MdiChild& window) {
            ui::BeginUpgrade(window, *m_form->UpgradeTypeForm(), std::chrono::milliseconds(300));
        });
        MessageBox::setNextAnswer(QMessageBox::Ok); // ask the device for its version
        BeginUpgrade();
        const QString caption = QStringLiteral("127.0.140.8:Upg");
        QCOMPARE(MessageBox::shownTexts().size(), 2);
        QCOMPARE(MessageBox::shownTexts()[1],
                 caption +
                     QStringLiteral(": The IRD did not report its version\nGive up Upgrading"));
        QTRY_VERIFY(
            logLines(m_window).contains(QStringLiteral("The IRD did not report its version")));
        QVERIFY(logLines(m_window).contains(QStringLiteral("Give up Upgrading")));
        QVERIFY(!m_window->UpgradeRunning());
    }

    void progressAndNoticeShowWithoutBlocking()
    {
        m_form = startMainForm();
        QVERIFY(m_form);
        m_window = m_form->OpenDeviceWindow("127.0.80.4", "Upg");
        auto* bar = child<QProgressBar>(m_window, "ProgressBar_upgrade");
        QTreeWidgetItem* node = nullptr;
        QTRY_VERIFY((node = m_form->MachineTree()->ItemOf(m_window->Entry()->Node())) != nullptr);
        QVERIFY(!bar->isVisible());

        DeviceView& view = m_window->Session().View();
        std::thread([&view] {
            view.ShowUpgradeProgress({Progress::Stage::Sending, 12, 2049, 0});
        }).join();
        QTRY_VERIFY(bar->isVisible());
        QCOMPARE(bar->text(), QStringLiteral("In transporting: 12/2049 (0%)"));
        QCOMPARE(node->text(0), QStringLiteral("127.0.80.4:Upg [In transporting: 0%]"));

        view.ShowUpgradeProgress({Progress::Stage::Writing, 2049, 2049, 45});
        QTRY_COMPARE(bar->text(), QStringLiteral("Upgrading: 45%"));
        QCOMPARE(bar->value(), 45);
        // A rename keeps the note on the new text.
        m_form->Registry().RenameMachine(m_window->Entry(), "127.0.80.4:Renamed");
        QTRY_COMPARE(node->text(0), QStringLiteral("127.0.80.4:Renamed [Upgrading: 45%]"));

        view.ShowUpgradeProgress({});
        QTRY_VERIFY(!bar->isVisible());
        QCOMPARE(node->text(0), QStringLiteral("127.0.80.4:Renamed"));

        // The notice that holds the transfer returns at once; closing it
        // releases the transfer, once.
        MessageBox::setUnattended(false);
        std::atomic<int> dismissed{0};
        m_window->Session().View().ShowUpgradeNotice("Unknown frame: -2",
                                                     [&dismissed] { ++dismissed; });
        QMessageBox* box = nullptr;
        QTRY_VERIFY((box = m_window->findChild<QMessageBox*>()) != nullptr);
        QTRY_VERIFY(box->isVisible());
        QCOMPARE(box->text(), QStringLiteral("Unknown frame: -2"));
        QCOMPARE(dismissed.load(), 0);
        box->button(QMessageBox::Ok)->click();
        QTRY_COMPARE(dismissed.load(), 1);
        QTest::qWait(20);
        QCOMPARE(dismissed.load(), 1);
    }

private:
    // A device window on a simulated IRD at `address`, connected; with
    // `loaded` the full refresh is awaited, else only the session's start.
    bool open(const char* address, bool loaded, sim::FaultOptions faults = {})
    {
        m_irb = std::make_unique<sim::Simulator>(deviceDatabase(), sim::QuietOptions());
        m_irb->SetFaults(faults);
        if (!m_irb->Start(address, 0)) {
            return false;
        }
        DeviceOptions options;
        options.port = m_irb->Port();
        if (loaded) {
            options.timing = LinkTiming{std::chrono::microseconds(200)};
        }
        m_form = startMainForm(options);
        if (!m_form) {
            return false;
        }
        m_window = m_form->OpenDeviceWindow(address, "Upg");
        if (m_window == nullptr) {
            return false;
        }
        QSignalSpy connected(m_window, &MdiChild::connectFinished);
        m_window->ConnectMachine();
        if (!connected.wait(5000) || !connected.first().first().toBool()) {
            return false;
        }
        MessageBox::clearShown();
        return !loaded || QTest::qWaitFor([&] { return m_window->DataLoaded(); }, 10000);
    }
    void BeginUpgrade() { m_form->PMenuUpgradeClick(); }
    int framesOf(uint8_t code) const
    {
        int count = 0;
        for (const auto& frame : m_irb->ReceivedFrames()) {
            count += frame.size() > 2 && frame[1] == code ? 1 : 0;
        }
        return count;
    }

    std::unique_ptr<WorkDir> m_dir;
    std::unique_ptr<sim::Simulator> m_irb;
    std::unique_ptr<MainForm> m_form;
    MdiChild* m_window = nullptr;
};

QTEST_MAIN(UpgradeTest)
#include "upgrade_test.moc"
