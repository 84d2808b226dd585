// The program trees' popup menu in a real device window connected to a
// simulated IRD.
#include "database/list_manager.h"
#include "device/ui/mdi_child.h"
#include "device/ui/program_menu.h"
#include "device/ui/program_tree_view.h"
#include "device/ui/programs_page.h"
#include "dialogs/ui/sat_form.h"
#include "gui_fixture.h"
#include "link/message_code.h"
#include "sim/database_generator.h"
#include "sim/simulator.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTreeWidget>
#include <algorithm>

using namespace vireo;
using namespace vireo::ui;
using namespace vireo::test;

namespace {

QAction* item(MdiChild* window, const char* name)
{
    auto* menu = window->findChild<QMenu*>(QStringLiteral("PMenu_child_prog"));
    for (QAction* a : menu->findChildren<QAction*>(QString::fromLatin1(name))) {
        if (a->objectName() == QLatin1String(name)) {
            return a;
        }
    }
    return nullptr;
}

QStringList visibleItems(MdiChild* window)
{
    QStringList names;
    auto* menu = window->findChild<QMenu*>(QStringLiteral("PMenu_child_prog"));
    for (QAction* a : menu->findChildren<QAction*>()) {
        if (!a->objectName().isEmpty() && a->isVisible() && !names.contains(a->objectName())) {
            names << a->objectName();
        }
    }
    names.sort();
    return names;
}

int countItems(QTreeWidget* tree)
{
    int n = 0;
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        ++n;
    }
    return n;
}

} // namespace

class ProgramMenuTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<WorkDir>();
        WorkDir::write(QStringLiteral("Vireo.ini"), settingsWithLanguage(1));
    }
    void cleanup() { m_dir.reset(); }

    void deletingATransponderFromThePopupRemovesItEverywhere()
    {
        sim::Simulator irb(sim::GenerateDatabase({2, 4, 8, 4}, nullptr).value(),
                           sim::QuietOptions());
        QVERIFY(irb.Start("127.0.66.1", 8888));
        auto form = startMainForm();
        QVERIFY(form);
        MdiChild* window = form->OpenDeviceWindow("127.0.66.1", "Menu");
        window->ConnectMachine();
        QTRY_VERIFY_WITH_TIMEOUT(window->DataLoaded(), 10000);
        auto* tv = window->findChild<ProgramTreeView*>(QStringLiteral("TreeView_TV"));
        auto* radio = window->findChild<ProgramTreeView*>(QStringLiteral("TreeView_RADIO"));
        QTRY_COMPARE(countItems(tv), static_cast<int>(window->TvTree().Size()));
        QTRY_VERIFY(window->Session().CurrentCode() == 0);

        // The operator selects the second transponder of the first satellite.
        const TreeNodeId satellite = window->TvTree().Children(kNoTreeNode).front();
        const TreeNodeId tp = window->TvTree().Children(satellite).at(1);
        tv->setCurrentItem(tv->ItemOf(tp));
        QCOMPARE(window->TvTree().Selected(), tp);
        // Right-click: the popup offers the transponder's commands only.
        emit window->findChild<ProgramsPage*>()->menuRequested(false, QPoint(5, 5));
        QTRY_VERIFY(window->findChild<QMenu*>(QStringLiteral("PMenu_child_prog"))->isVisible());
        QCOMPARE(visibleItems(window),
                 (QStringList{QStringLiteral("T_Delete"), QStringLiteral("T_Modify"),
                              QStringLiteral("T_ScanTP")}));
        window->findChild<QMenu*>(QStringLiteral("PMenu_child_prog"))->hide();

        const int tvBefore = countItems(tv);
        const int radioBefore = countItems(radio);
        const size_t tpsBefore = irb.Database().transponders.size();
        MessageBox::setNextAnswer(QMessageBox::Ok);
        item(window, "T_Delete")->trigger();
        QCOMPARE(MessageBox::shownTexts().last().left(11), QStringLiteral("Delete TP: "));
        QTRY_COMPARE(irb.Database().transponders.size(), tpsBefore - 1);
        QTRY_VERIFY(countItems(tv) < tvBefore);
        QTRY_VERIFY(countItems(radio) < radioBefore);
        QTRY_VERIFY(tv->ItemOf(tp) == nullptr);

        // Cancel sends nothing.
        const TreeNodeId other = window->TvTree().Children(satellite).front();
        tv->setCurrentItem(tv->ItemOf(other));
        MessageBox::setNextAnswer(QMessageBox::Cancel);
        item(window, "T_Delete")->trigger();
        QTest::qWait(100);
        QCOMPARE(irb.Database().transponders.size(), tpsBefore - 1);
        QVERIFY(tv->ItemOf(other) != nullptr);
        ui::MessageBox::setNextAnswer(QMessageBox::No);
    }

    void modifyTpOpensTheDialogOnTheTransponderAndSendsItsChange()
    {
        sim::Simulator irb(sim::GenerateDatabase({1, 2, 2, 0}, nullptr).value(),
                           sim::QuietOptions());
        QVERIFY(irb.Start("127.0.66.2", 8888));
        auto form = startMainForm();
        QVERIFY(form);
        MdiChild* window = form->OpenDeviceWindow("127.0.66.2", "Modify");
        window->ConnectMachine();
        QTRY_VERIFY_WITH_TIMEOUT(window->DataLoaded(), 10000);
        auto* tv = window->findChild<ProgramTreeView*>(QStringLiteral("TreeView_TV"));
        QTRY_COMPARE(countItems(tv), static_cast<int>(window->TvTree().Size()));
        QTRY_VERIFY(window->Session().CurrentCode() == 0);
        const TreeNodeId satellite = window->TvTree().Children(kNoTreeNode).front();
        const TreeNodeId tp = window->TvTree().Children(satellite).front();
        tv->setCurrentItem(tv->ItemOf(tp));

        // The operator changes the frequency to 11000 and confirms.
        ModalSeam::setNextAction([](QDialog* dialog) {
            dialog->findChild<QLineEdit*>(QStringLiteral("Edt_fre"))
                ->setText(QStringLiteral("11000"));
            return clickButton(dialog, "Btn_ok");
        });
        item(window, "T_Modify")->trigger();
        QTRY_COMPARE(irb.Database().transponders.front().frequency, 11000);
        QTRY_VERIFY(window->TvTree().Text(tp).rfind("11000 ", 0) == 0);
        ui::MessageBox::setNextAnswer(QMessageBox::No);
    }

    void whatTheOperatorOpenedStaysOpenThroughModifyTpAndRenumbering()
    {
        sim::Simulator irb(sim::GenerateDatabase({1, 2, 6, 0}, nullptr).value(),
                           sim::QuietOptions());
        QVERIFY(irb.Start("127.0.140.1", 8888));
        auto form = startMainForm();
        QVERIFY(form);
        MdiChild* window = form->OpenDeviceWindow("127.0.140.1", "Open");
        window->ConnectMachine();
        QTRY_VERIFY_WITH_TIMEOUT(window->DataLoaded(), 10000);
        auto* tv = window->findChild<ProgramTreeView*>(QStringLiteral("TreeView_TV"));
        ProgramTree& model = window->TvTree();
        QTRY_COMPARE(countItems(tv), static_cast<int>(model.Size()));
        QTRY_VERIFY(window->Session().CurrentCode() == 0);

        // A transponder with at least two programs: the operator opens it,
        // its last program, and closes the satellite's other transponder.
        const TreeNodeId satellite = model.Children(kNoTreeNode).front();
        TreeNodeId tp = kNoTreeNode, other = kNoTreeNode;
        for (TreeNodeId candidate : model.Children(satellite)) {
            (model.Children(candidate).size() >= 2 && tp == kNoTreeNode ? tp : other) = candidate;
        }
        QVERIFY(tp != kNoTreeNode && other != kNoTreeNode);
        const std::vector<TreeNodeId> programs = model.Children(tp);
        const TreeNodeId doomed = programs[programs.size() - 2];
        const TreeNodeId last = programs.back();
        QCOMPARE(model.Node(doomed).stateImage, kNoTreeImage); // not the playing program
        tv->ItemOf(satellite)->setExpanded(true);
        tv->ItemOf(tp)->setExpanded(true);
        tv->ItemOf(last)->setExpanded(true);
        tv->ItemOf(other)->setExpanded(false);

        tv->setCurrentItem(tv->ItemOf(tp));
        ModalSeam::setNextAction([](QDialog* dialog) {
            dialog->findChild<QLineEdit*>(QStringLiteral("Edt_fre"))
                ->setText(QStringLiteral("11111"));
            return clickButton(dialog, "Btn_ok");
        });
        item(window, "T_Modify")->trigger();
        QTRY_VERIFY(tv->ItemOf(tp)->text(0).startsWith(QStringLiteral("11111 ")));

        // Deleting the program before the last renumbers the last.
        const std::string lastLabel = model.Text(last);
        tv->setCurrentItem(tv->ItemOf(doomed));
        MessageBox::setNextAnswer(QMessageBox::Ok);
        item(window, "P_Delete")->trigger();
        QTRY_VERIFY(tv->ItemOf(doomed) == nullptr);
        QTRY_VERIFY(model.Text(last) != lastLabel);
        QTRY_COMPARE(tv->ItemOf(last)->text(0), QString::fromStdString(model.Text(last)));

        QVERIFY(tv->ItemOf(satellite)->isExpanded());
        QVERIFY(tv->ItemOf(tp)->isExpanded());
        QVERIFY(tv->ItemOf(last)->isExpanded());
        QVERIFY(!tv->ItemOf(other)->isExpanded());
        QVERIFY(model.Node(tp).expanded); // the model knows what the operator sees
        ui::MessageBox::setNextAnswer(QMessageBox::No);
    }

    void aClickBesideTheNodesOpensTheSelectedNodesMenu()
    {
        sim::DeviceDatabase db = sim::GenerateDatabase({1, 1, 2, 0}, nullptr).value();
        db.tv[0].audioChoice = 0xF1; // all audio on, second audio chosen
        sim::Simulator irb(db, sim::QuietOptions());
        QVERIFY(irb.Start("127.0.140.5", 8888));
        auto form = startMainForm();
        QVERIFY(form);
        MdiChild* window = form->OpenDeviceWindow("127.0.140.5", "Beside");
        window->ConnectMachine();
        QTRY_VERIFY_WITH_TIMEOUT(window->DataLoaded(), 10000);
        auto* tv = window->findChild<ProgramTreeView*>(QStringLiteral("TreeView_TV"));
        QTRY_COMPARE(countItems(tv), static_cast<int>(window->TvTree().Size()));
        QTRY_VERIFY(window->Session().CurrentCode() == 0);
        ProgramTree& model = window->TvTree();
        const TreeNodeId program = model.Children(model.Children(model.Children(0)[0])[0])[0];
        tv->setCurrentItem(tv->ItemOf(program));

        auto* menu = window->findChild<QMenu*>(QStringLiteral("PMenu_child_prog"));
        const QPoint empty(5, tv->viewport()->height() - 2);
        QVERIFY(tv->itemAt(empty) == nullptr);
        emit tv->customContextMenuRequested(empty);
        QTRY_VERIFY(menu->isVisible());
        QVERIFY(item(window, "P_Play")->isVisible());
        QVERIFY(item(window, "P_Audio_All")->isChecked());
        menu->hide();

        // Through the real item: on turns it off, byte 18 0xF1 becomes 0x01.
        item(window, "P_Audio_All")->trigger();
        QTRY_VERIFY(irb.Database().tv[0].audioChoice == 0x01);
        ui::MessageBox::setNextAnswer(QMessageBox::No);
    }

    void theMenuComesBackAfterAnErrorAnswerAndAfterADroppedDelete()
    {
        sim::Simulator irb(sim::GenerateDatabase({2, 4, 4, 0}, nullptr).value(),
                           sim::QuietOptions());
        QVERIFY(irb.Start("127.0.140.9", 8888));
        DeviceOptions options;
        options.timing = LinkTiming{std::chrono::microseconds(200)}; // time-outs in ms
        auto form = startMainForm(options);
        QVERIFY(form);
        MdiChild* window = form->OpenDeviceWindow("127.0.140.9", "Back");
        window->ConnectMachine();
        QTRY_VERIFY_WITH_TIMEOUT(window->DataLoaded(), 10000);
        auto* tv = window->findChild<ProgramTreeView*>(QStringLiteral("TreeView_TV"));
        QTRY_COMPARE(countItems(tv), static_cast<int>(window->TvTree().Size()));
        QTRY_VERIFY(window->Session().CurrentCode() == 0);
        auto* menu = window->findChild<QMenu*>(QStringLiteral("PMenu_child_prog"));
        auto* page = window->findChild<ProgramsPage*>();
        auto menuOffered = [&] {
            emit page->menuRequested(false, QPoint(5, 5));
            const bool shown = menu->isVisible() && !visibleItems(window).isEmpty();
            menu->hide();
            return shown;
        };
        const TreeNodeId satellite = window->TvTree().Children(kNoTreeNode).front();
        const TreeNodeId tp = window->TvTree().Children(satellite).front();

        // The device refuses the delete with an error status.
        sim::FaultOptions refuse;
        refuse.statusOverrides[msg::DeleteTp] = 5;
        irb.SetFaults(refuse);
        tv->setCurrentItem(tv->ItemOf(tp));
        MessageBox::setNextAnswer(QMessageBox::Ok);
        item(window, "T_Delete")->trigger();
        QTRY_VERIFY([&] {
            const auto frames = irb.ReceivedFrames();
            return std::any_of(frames.begin(), frames.end(),
                               [](const auto& f) { return f[1] == msg::DeleteTp; });
        }());
        QTRY_VERIFY(menuOffered());
        QVERIFY(tv->ItemOf(tp) != nullptr); // still there: the device kept it

        // The device takes the next delete and never answers it.
        sim::FaultOptions silent;
        silent.silent = true;
        irb.SetFaults(silent);
        tv->setCurrentItem(tv->ItemOf(tp));
        MessageBox::setNextAnswer(QMessageBox::Ok);
        item(window, "T_Delete")->trigger();
        QVERIFY(!menuOffered()); // while the delete awaits its answer
        QTRY_VERIFY_WITH_TIMEOUT(menuOffered(), 20000);
        ui::MessageBox::setNextAnswer(QMessageBox::No);
    }

    void aWindowClosedUnderItsSatelliteDialogCancelsIt()
    {
        sim::Simulator irb(sim::GenerateDatabase({2, 2, 2, 0}, nullptr).value(),
                           sim::QuietOptions());
        QVERIFY(irb.Start("127.0.140.4", 8888));
        auto form = startMainForm();
        QVERIFY(form);
        MdiChild* window = form->OpenDeviceWindow("127.0.140.4", "Closing");
        window->ConnectMachine();
        QTRY_VERIFY_WITH_TIMEOUT(window->DataLoaded(), 10000);
        auto* tv = window->findChild<ProgramTreeView*>(QStringLiteral("TreeView_TV"));
        QTRY_VERIFY(tv->ItemOf(window->TvTree().Children(kNoTreeNode).front()) != nullptr);
        tv->setCurrentItem(tv->ItemOf(window->TvTree().Children(kNoTreeNode).front()));

        // While "LNB Set" is open the device reports an unusable address of
        // its own, and the operator lets its window close; the window goes
        // inside the dialog's loop.
        const QPointer<MdiChild> alive(window);
        int result = -1;
        ModalSeam::setNextAction([&](QDialog* dialog) {
            MessageBox::setNextAnswer(QMessageBox::Ok);
            alive->CheckReportedAddress({0, 0, 0, 0});
            QTest::qWait(50);
            result = dialog->result();
            return clickButton(dialog, "Btn_SatInfo_ok"); // too late: nothing to send to
        });
        item(window, "S_Set")->trigger();
        QVERIFY(alive.isNull());
        QCOMPARE(result, int(QDialog::Rejected));
        QCOMPARE(form->SatelliteDialog()->Mode(), SatDialogMode::Idle);
        QCOMPARE(form->DocumentWindowCount(), 0);
        QTest::qWait(50);
        for (const auto& frame : irb.ReceivedFrames()) {
            QVERIFY(frame[1] != msg::SetSatellite);
        }
        ui::MessageBox::setNextAnswer(QMessageBox::No);
    }

private:
    std::unique_ptr<WorkDir> m_dir;
};

QTEST_MAIN(ProgramMenuTest)
#include "program_menu_test.moc"
