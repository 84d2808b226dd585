// The main window driven as the operator drives it: popup menu, captions,
// opening and closing device windows, and the settings file at exit.

#include "app/ui/machine_tree_view.h"
#include "device/device_content.h"
#include "dialogs/ui/ip_form.h"
#include "gui_fixture.h"
#include "ui/gbk_text.h"

#include <QAction>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QToolButton>
#include <csignal>
#include <sys/resource.h>

using namespace vireo;
using namespace vireo::ui;
using namespace vireo::test;

namespace {

// Device content whose database state a test sets.
struct FakeState
{
    bool loaded = false;
    bool systemRecord = false;
};

class FakeContent : public BasicDeviceContent
{
public:
    explicit FakeContent(const FakeState& state) : m_state(state) {}
    bool DataLoaded() const override { return m_state.loaded; }
    std::optional<SystemRecordBytes> SystemRecord() const override
    {
        if (!m_state.systemRecord) {
            return std::nullopt;
        }
        return SystemRecordBytes{};
    }

private:
    const FakeState& m_state;
};

QToolButton* button(MainForm& form, const char* name)
{
    return form.findChild<QToolButton*>(QString::fromLatin1(name));
}

QAction* action(MainForm& form, const char* name)
{
    return form.findChild<QAction*>(QString::fromLatin1(name));
}

// "v" visible and enabled, "g" visible and greyed, "-" hidden, in menu order.
QString popupPicture(MainForm& form)
{
    QString picture;
    for (const char* name :
         {"PMenu_new", "PMenu_Show", "PMenu_close", "PMenu_reconnect", "PMenu_disconect",
          "PMenu_update", "PMenu_config", "PMenu_modify", "PMenu_upgrade"}) {
        QAction* a = action(form, name);
        picture += !a->isVisible()  ? QLatin1Char('-')
                   : a->isEnabled() ? QLatin1Char('v')
                                    : QLatin1Char('g');
    }
    return picture;
}

NodeId nodeOf(MdiChild* window)
{
    return window->Entry() == nullptr ? kNoNode : window->Entry()->Node();
}

} // namespace

class MainFormTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_dir = std::make_unique<WorkDir>(); }
    void cleanup() { m_dir.reset(); }

    void popupFollowsNodeAndMachineState()
    {
        WorkDir::write(QStringLiteral("Vireo.ini"), settingsWithLanguage(1));
        FakeState state;
        DeviceOptions options;
        options.contentFactory = [&state](const ContentHost&) {
            return std::make_unique<FakeContent>(state);
        };
        auto form = startMainForm(options);
        QVERIFY(form);
        MdiChild* window = form->OpenDeviceWindow("10.0.0.1", "A");
        QVERIFY(window);

        form->PreparePopup(form->Registry().RootNode());
        QCOMPARE(popupPicture(*form), QStringLiteral("v--------"));

        // New, Show, Close, Re-Connect, Disconnect, Update, Config, Modify, Upgrade
        form->PreparePopup(nodeOf(window));
        QCOMPARE(popupPicture(*form), QStringLiteral("vvvvg-gv-"));

        window->Session().everConnected = true;
        form->PreparePopup(nodeOf(window));
        QCOMPARE(popupPicture(*form), QStringLiteral("vvvgv-g-v"));

        state.systemRecord = true;
        state.loaded = true;
        form->PreparePopup(nodeOf(window));
        QCOMPARE(popupPicture(*form), QStringLiteral("vvvgvvv-v"));

        window->Session().disconnectRequested = true;
        form->PreparePopup(nodeOf(window));
        QCOMPARE(popupPicture(*form), QStringLiteral("vvvgv-g--"));
        window->Session().disconnectRequested = false;
        window->Session().everConnected = false;
    }

    void captionsComeFromTheLanguageTable_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("close");
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("newHint");
        QTest::newRow("English") << 1 << QStringLiteral("&File") << QStringLiteral("Close")
                                 << QStringLiteral("HD Professional IRDs")
                                 << QStringLiteral("Create a new IRD window");
        QTest::newRow("Chinese") << 0 << FromGbk(lang_rows::kChinese[51])
                                 << FromGbk(lang_rows::kChinese[16])
                                 << FromGbk(lang_rows::kChinese[69])
                                 << FromGbk(lang_rows::kChinese[64]);
    }

    void captionsComeFromTheLanguageTable()
    {
        QFETCH(int, language);
        WorkDir::write(QStringLiteral("Vireo.ini"), settingsWithLanguage(language));
        auto form = startMainForm();
        QVERIFY(form);
        QCOMPARE(form->LanguageIndex(), language);
        QTEST(form->findChild<QMenu*>(QStringLiteral("File1"))->title(), "file");
        QTEST(action(*form, "PMenu_close")->text(), "close");
        QTEST(button(*form, "TBtn_new")->toolTip(), "newHint");
        QTRY_VERIFY(form->MachineTree()->topLevelItemCount() == 1);
        QTEST(form->MachineTree()->topLevelItem(0)->text(0), "root");
        QCOMPARE(form->windowTitle(), QStringLiteral("Vireo Remote Manager"));
        QVERIFY(!action(*form, "FileNewItem")->shortcut().isEmpty());
    }

    void openingAnAddressAlreadyOpenCreatesNothing()
    {
        auto form = startMainForm();
        QVERIFY(form);
        MdiChild* first = form->OpenDeviceWindow("192.168.1.20", "Studio");
        QVERIFY(first);
        form->OpenDeviceWindow("10.0.0.7", "");
        QCOMPARE(form->DocumentWindowCount(), 2);

        MessageBox::clearShown();
        QCOMPARE(form->OpenDeviceWindow("192.168.001.020", "Other"), nullptr);
        QCOMPARE(MessageBox::shownTexts(),
                 QStringList{QStringLiteral("192.168.001.020:Other :has been connected!")});
        QCOMPARE(form->DocumentWindowCount(), 2);
        QCOMPARE(form->Registry().MachineCount(), size_t(2));
        QCOMPARE(form->ActiveChild(), first); // the window found comes forward
    }

    void newUsesTheNetworkDialog()
    {
        auto form = startMainForm();
        QVERIFY(form);
        ModalSeam::setNextAction([](QDialog* dialog) {
            dialog->findChild<QLineEdit*>(QStringLiteral("Edit_name"))
                ->setText(QStringLiteral("Rack 4"));
            dialog->findChild<QLineEdit*>(QStringLiteral("MaskEdit_ip"))
                ->setText(QStringLiteral("010.000.000.004"));
            return clickButton(dialog, "Btn_ok");
        });
        form->FileNewItemClick();
        QCOMPARE(form->DocumentWindowCount(), 1);
        QCOMPARE(form->ActiveChild()->Caption(), std::string("10.0.0.4:Rack 4"));
        QVERIFY(button(*form, "TBtn_close")->isEnabled());
        QVERIFY(button(*form, "TBtn_switch")->isEnabled());

        // Cancelled: nothing opens.
        ModalSeam::setNextAction([](QDialog* dialog) { return clickButton(dialog, "Btn_cancel"); });
        form->FileNewItemClick();
        QCOMPARE(form->DocumentWindowCount(), 1);
    }

    void closingTheLastWindowResetsTheToolbar()
    {
        auto form = startMainForm();
        QVERIFY(form);
        form->OpenDeviceWindow("10.0.0.1", "A");
        form->OpenDeviceWindow("10.0.0.2", "B");
        QToolButton* close = button(*form, "TBtn_close");
        QToolButton* sw = button(*form, "TBtn_switch");
        close->setEnabled(true);
        form->SetRenewUpgradeEnabled(true);

        form->TBtnCloseClick(); // one of two
        QTRY_COMPARE(form->DocumentWindowCount(), 1);
        QVERIFY(close->isEnabled());
        QVERIFY(sw->isEnabled());

        form->SetSwitchDown(true);
        form->SetRenewUpgradeEnabled(true);
        form->TBtnCloseClick(); // the last one
        QTRY_COMPARE(form->DocumentWindowCount(), 0);
        QVERIFY(!close->isEnabled());
        QVERIFY(!sw->isEnabled());
        QVERIFY(!sw->isChecked());
        QVERIFY(!button(*form, "TBtn_renew")->isEnabled());
        QVERIFY(!button(*form, "TBtn_upgrade")->isEnabled());
        QCOMPARE(form->Registry().MachineCount(), size_t(0));
        QTRY_COMPARE(form->MachineTree()->topLevelItem(0)->childCount(), 0);
    }

    void closeFromTheTreeRemovesNodeAndWindow()
    {
        auto form = startMainForm();
        QVERIFY(form);
        MdiChild* a = form->OpenDeviceWindow("10.0.0.1", "A");
        form->OpenDeviceWindow("10.0.0.2", "B");
        QTRY_VERIFY(form->MachineTree()->ItemOf(nodeOf(a)) != nullptr);
        form->MachineTree()->setCurrentItem(form->MachineTree()->ItemOf(nodeOf(a)));
        form->PMenuCloseClick();
        QTRY_COMPARE(form->DocumentWindowCount(), 1);
        QCOMPARE(form->ChildrenInTreeOrder().front()->Caption(), std::string("10.0.0.2:B"));
        QTRY_COMPARE(form->MachineTree()->topLevelItem(0)->childCount(), 1);
    }

    void savingWithYesListsMachinesInCaptionOrder()
    {
        WorkDir::write(QStringLiteral("Vireo.ini"), settingsWithLanguage(1));
        auto form = startMainForm();
        QVERIFY(form);
        MdiChild* b = form->OpenDeviceWindow("10.0.0.2", "b");
        form->OpenDeviceWindow("10.0.0.1", "a");
        b->Session().everConnected = true;
        b->Log().AddLogLine("last words");

        MessageBox::clearShown();
        MessageBox::setNextAnswer(QMessageBox::Yes);
        QVERIFY(form->close());
        QCOMPARE(MessageBox::shownTexts(),
                 QStringList{QStringLiteral("Do you want to save current IRDs?")});
        QCOMPARE(WorkDir::read(QStringLiteral("Vireo.ini")), QByteArray("[Address]\r\n"
                                                                        "machine=n10.0.0.1:a\r\n"
                                                                        "machine=y10.0.0.2:b\r\n"
                                                                        "[LANGUAGE]\r\n"
                                                                        "language=1\r\n"
                                                                        "\r\n"));
        QCOMPARE(form->DocumentWindowCount(), 0);
        QCOMPARE(form->Registry().MachineCount(), size_t(0));
        QVERIFY(form->AppClosing());
        QVERIFY(WorkDir::read(QStringLiteral("Logs/10.0.0.2.txt")).contains("last words"));
    }

    void answeringNoLeavesTheSettingsFileAsItWas()
    {
        const QByteArray before("[Address]\r\nmachine=y10.0.0.9:kept\r\n[LANGUAGE]\r\n"
                                "language=1\r\n\r\n\0",
                                60);
        WorkDir::write(QStringLiteral("Vireo.ini"), before);
        auto form = startMainForm(DeviceOptions{}, false); // no first paint: nothing opens
        QVERIFY(form);
        form->OpenDeviceWindow("10.0.0.3", "new");
        MessageBox::setNextAnswer(QMessageBox::No);
        QVERIFY(form->close());
        QCOMPARE(WorkDir::read(QStringLiteral("Vireo.ini")), before);
        QCOMPARE(form->DocumentWindowCount(), 0);
    }

    void aSaveThatFailsSaysWhyKeepsTheOldFileAndLetsTheOperatorStay()
    {
        const QByteArray before("[Address]\r\nmachine=y10.0.0.9:kept\r\n[LANGUAGE]\r\n"
                                "language=1\r\n\r\n");
        WorkDir::write(QStringLiteral("Vireo.ini"), before);
        auto form = startMainForm(DeviceOptions{}, false);
        QVERIFY(form);
        form->OpenDeviceWindow("10.0.0.3", "new");
        // The disk takes no more than 16 bytes from this program.
        rlimit saved{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 16;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);

        MessageBox::clearShown();
        MessageBox::setNextAnswer(QMessageBox::Yes);    // save the list
        MessageBox::setNextAnswer(QMessageBox::Cancel); // it cannot be saved: stay
        const bool closedFirst = form->close();
        const QStringList told = MessageBox::shownTexts();
        MessageBox::setNextAnswer(QMessageBox::Yes);
        MessageBox::setNextAnswer(QMessageBox::Ok); // exit without saving
        const bool closedThen = form->close();
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(!closedFirst);
        QCOMPARE(told.size(), 2);
        QCOMPARE(told[1], QStringLiteral("Can't save the IRD list to ") +
                              QDir::current().filePath(QStringLiteral("Vireo.ini")) +
                              QStringLiteral("\ncannot write Vireo.ini: File too large\nThe file "
                                             "is kept as it was. Exit without saving?"));
        QVERIFY(closedThen);
        QCOMPARE(form->DocumentWindowCount(), 0);
        QCOMPARE(WorkDir::read(QStringLiteral("Vireo.ini")), before);
        // Nothing of the failed save is left beside it (the history has its
        // own files there).
        QStringList left = QDir().entryList(QDir::Files | QDir::Hidden);
        left.removeIf([](const QString& name) { return name.startsWith("History.sqlite"); });
        QCOMPARE(left, QStringList{"Vireo.ini"});
    }

    void cancelKeepsTheProgramRunning()
    {
        auto form = startMainForm();
        QVERIFY(form);
        form->OpenDeviceWindow("10.0.0.3", "x");
        MessageBox::setNextAnswer(QMessageBox::Cancel);
        QVERIFY(!form->close());
        QCOMPARE(form->DocumentWindowCount(), 1);
        QVERIFY(!form->AppClosing());
        QVERIFY(!QFile::exists(QStringLiteral("Vireo.ini")));
    }

    void firstPaintOpensTheListedMachinesInFileOrder()
    {
        WorkDir::write(QStringLiteral("Vireo.ini"), "[Address]\r\n"
                                                    "machine=n10.0.0.5:five\r\n"
                                                    "machine=n10.0.0.4:four\r\n"
                                                    "[LANGUAGE]\r\nlanguage=1\r\n\r\n");
        auto form = startMainForm();
        QVERIFY(form);
        QTRY_COMPARE(form->DocumentWindowCount(), 2);
        const auto windows = form->ChildrenInTreeOrder();
        QCOMPARE(windows[0]->Caption(), std::string("10.0.0.4:four"));
        QCOMPARE(windows[1]->Caption(), std::string("10.0.0.5:five"));
        // Neither was ticked: no connect step ran, so nothing was logged.
        QTest::qWait(50);
        for (MdiChild* window : windows) {
            QVERIFY(!window->AutoConnect());
            QCOMPARE(window->Log().LineCount(), size_t(0));
        }
        QVERIFY(button(*form, "TBtn_close")->isEnabled());
    }

    void aLongListOpensATurnAtATimeTickedFirstAndDrawsWindowsWhenShown()
    {
        constexpr int kMachines = 3000;
        QByteArray ini = "[Address]\r\n";
        for (int n = 0; n < kMachines; ++n) {
            ini += "machine=n127.140." + QByteArray::number(n / 250) + "." +
                   QByteArray::number(1 + n % 250) + ":Rack\r\n";
        }
        ini += "machine=y127.0.140.6:ticked\r\n[LANGUAGE]\r\nlanguage=1\r\n\r\n";
        WorkDir::write(QStringLiteral("Vireo.ini"), ini);
        auto form = startMainForm({}, false);
        QVERIFY(form);
        int openAtFirstTurn = -1;
        form->show();
        QTRY_VERIFY(form->Registry().MachineCount() > 0);
        // The next turn of the event loop comes while the list is still
        // being opened, and the ticked machine was opened (and connected)
        // first.
        QTimer::singleShot(0, [&] { openAtFirstTurn = int(form->Registry().MachineCount()); });
        QTRY_VERIFY(openAtFirstTurn >= 0);
        QVERIFY2(openAtFirstTurn < kMachines + 1, qPrintable(QString::number(openAtFirstTurn)));
        MdiChild* ticked = nullptr;
        for (MdiChild* window : form->ChildrenInTreeOrder()) {
            if (window->AutoConnect()) {
                ticked = window;
            }
        }
        QVERIFY(ticked != nullptr && ticked->HasWidgets() && ticked->IsShownInFrame());
        QTRY_VERIFY(ticked->Log().LineCount() > 0); // its connect step ran
        QTRY_COMPARE_WITH_TIMEOUT(form->DocumentWindowCount(), kMachines + 1, 60000);

        // The others have no widgets and stay out of the frame until shown.
        MdiChild* idle = form->ChildrenInTreeOrder().back();
        QVERIFY(!idle->HasWidgets() && !idle->IsShownInFrame());
        QCOMPARE(form->MdiArea()->subWindowList().size(), 1);
        QVERIFY(form->Registry().ShowByNode(idle->Entry()->Node()));
        QVERIFY(idle->HasWidgets() && idle->IsShownInFrame());
        QCOMPARE(form->ActiveChild(), idle);
        QVERIFY(idle->findChild<QWidget*>(QStringLiteral("TreeView_TV")) != nullptr);
        ui::MessageBox::setNextAnswer(QMessageBox::No);
    }

    void modifyIpRenamesOrPointsAtTheHolder()
    {
        auto form = startMainForm();
        QVERIFY(form);
        MdiChild* a = form->OpenDeviceWindow("10.0.0.1", "A");
        MdiChild* b = form->OpenDeviceWindow("10.0.0.2", "B");
        QTRY_VERIFY(form->MachineTree()->ItemOf(nodeOf(a)) != nullptr);
        form->MachineTree()->setCurrentItem(form->MachineTree()->ItemOf(nodeOf(a)));

        auto typeAddress = [](const QString& address, const QString& name) {
            ModalSeam::setNextAction([address, name](QDialog* dialog) {
                dialog->findChild<QLineEdit*>(QStringLiteral("Edit_name"))->setText(name);
                dialog->findChild<QLineEdit*>(QStringLiteral("MaskEdit_ip"))->setText(address);
                return clickButton(dialog, "Btn_ok");
            });
        };
        // Taken by B: a message, and B comes forward.
        typeAddress(QStringLiteral("010.000.000.002"), QStringLiteral("A2"));
        MessageBox::clearShown();
        form->PMenuModifyClick();
        QCOMPARE(MessageBox::shownTexts(),
                 QStringList{QStringLiteral("10.0.0.2 :has been connected!")});
        QCOMPARE(a->Caption(), std::string("10.0.0.1:A"));
        QCOMPARE(form->ActiveChild(), b);

        // Free: A takes it, and its node follows (and moves in the tree).
        form->MachineTree()->setCurrentItem(form->MachineTree()->ItemOf(nodeOf(a)));
        typeAddress(QStringLiteral("010.000.000.009"), QStringLiteral("A9"));
        form->PMenuModifyClick();
        QCOMPARE(a->Caption(), std::string("10.0.0.9:A9"));
        QTRY_COMPARE(form->MachineTree()->topLevelItem(0)->child(1)->text(0),
                     QStringLiteral("10.0.0.9:A9"));
    }

    void hexShowingSetsTheChoiceSessionsCopy()
    {
        auto form = startMainForm();
        QVERIFY(form);
        QAction* hex = action(*form, "menu_hex");
        QVERIFY(hex->isChecked());
        QCOMPARE(int(form->Context().hexShowing), 2);
        hex->trigger();
        QCOMPARE(int(form->Context().hexShowing), 1);
        hex->trigger();
        QCOMPARE(int(form->Context().hexShowing), 2);
    }

    void switchHintFollowsTheSwitchOnMouseMove()
    {
        WorkDir::write(QStringLiteral("Vireo.ini"), settingsWithLanguage(1));
        auto form = startMainForm();
        QVERIFY(form);
        form->OpenDeviceWindow("10.0.0.1", "A");
        QToolButton* sw = button(*form, "TBtn_switch");
        QCOMPARE(sw->toolTip(), QStringLiteral("Connect the current IRD"));
        form->SetSwitchDown(true);
        QTest::mouseMove(sw, QPoint(4, 4));
        QCOMPARE(sw->toolTip(), QStringLiteral("Disconnect the current IRD"));
        QCOMPARE(sw->statusTip(), QStringLiteral("Disconnect the current IRD"));
        form->SetSwitchDown(false);
        QTest::mouseMove(sw, QPoint(6, 6));
        QCOMPARE(sw->toolTip(), QStringLiteral("Connect the current IRD"));
    }

    void touchingTheTreeMovesTheMarkToTheActiveWindow()
    {
        auto form = startMainForm();
        QVERIFY(form);
        MdiChild* a = form->OpenDeviceWindow("10.0.0.1", "A");
        MdiChild* b = form->OpenDeviceWindow("10.0.0.2", "B");
        QCOMPARE(form->ActiveChild(), b);
        QCOMPARE(form->Registry().CurrentEntry(), b->Entry());

        form->Registry().MarkCurrent(a->Entry()); // the mark went astray
        QTRY_VERIFY(form->MachineTree()->ItemOf(nodeOf(a)) != nullptr);
        QTest::mouseClick(form->MachineTree()->viewport(), Qt::LeftButton, {}, QPoint(2, 2));
        QCOMPARE(form->Registry().CurrentEntry(), b->Entry());
        const MachineNode* nodeA = form->Registry().Tree().Find(nodeOf(a));
        const MachineNode* nodeB = form->Registry().Tree().Find(nodeOf(b));
        QCOMPARE(nodeA->stateImage, kNoImage);
        QCOMPARE(nodeB->stateImage, kImageCurrentMark);

        // Showing A from the tree moves the mark and the toolbar with it.
        QVERIFY(form->Registry().ShowByNode(nodeOf(a)));
        QCOMPARE(form->ActiveChild(), a);
        QCOMPARE(form->Registry().CurrentEntry(), a->Entry());
        QVERIFY(!form->Registry().ShowByNode(form->Registry().RootNode()));
        QCOMPARE(form->Registry().CurrentEntry(), a->Entry());
    }

    void windowMenuTilesAndListsTheWindows()
    {
        auto form = startMainForm();
        QVERIFY(form);
        MdiChild* a = form->OpenDeviceWindow("10.0.0.1", "A");
        MdiChild* b = form->OpenDeviceWindow("10.0.0.2", "B");
        const QSize area = form->MdiArea()->viewport()->size();

        action(*form, "WindowTileItem")->trigger(); // stacked, full width
        QCOMPARE(a->geometry(), QRect(0, 0, area.width(), area.height() / 2));
        QCOMPARE(b->geometry().top(), area.height() / 2);
        QCOMPARE(b->width(), area.width());

        action(*form, "WindowTileItem2")->trigger(); // side by side, full height
        QCOMPARE(a->geometry(), QRect(0, 0, area.width() / 2, area.height()));
        QCOMPARE(b->geometry().left(), area.width() / 2);

        action(*form, "WindowMinimizeItem")->trigger();
        QVERIFY(a->isMinimized() && b->isMinimized());

        QMenu* menu = form->findChild<QMenu*>(QStringLiteral("Window1"));
        emit menu->aboutToShow();
        QStringList listed;
        for (QAction* item : menu->actions()) {
            if (item->isCheckable()) {
                listed << item->text();
            }
        }
        QCOMPARE(listed,
                 (QStringList{QStringLiteral("&1 10.0.0.1:A"), QStringLiteral("&2 10.0.0.2:B")}));
    }

private:
    std::unique_ptr<WorkDir> m_dir;
};

QTEST_MAIN(MainFormTest)
#include "main_form_test.moc"
