// The fleet window and the search across devices against simulated IRDs.

#include "device/ui/program_tree_view.h"
#include "device/ui/programs_page.h"
#include "fleet/fleet_texts.h"
#include "fleet/ui/fleet_table_model.h"
#include "fleet/ui/search_panel.h"
#include "gui_fixture.h"
#include "sim/database_generator.h"
#include "sim/simulator.h"
#include "ui/gbk_text.h"

#include <QDockWidget>
#include <QLineEdit>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTreeWidget>

using namespace vireo;
using namespace vireo::ui;
using namespace vireo::test;

class FleetTest : public QObject
{
    Q_OBJECT

    static NodeId nodeOf(MdiChild* window) { return window->Entry()->Node(); }

    static int rowOf(FleetWindow& view, NodeId node)
    {
        for (int row = 0; row < view.TableModel()->rowCount(); ++row) {
            if (view.TableModel()->NodeAt(row) == node) {
                return row;
            }
        }
        return -1;
    }

    static void shoot(QWidget* widget, const char* name)
    {
        const QString folder = qEnvironmentVariable("VIREO_SHOT_DIR");
        if (!folder.isEmpty()) {
            widget->grab().save(folder + "/" + name);
        }
    }

private slots:
    void threeDevicesShowTheirRowsAndASearchRevealsTheNode()
    {
        WorkDir dir;
        const sim::DatabaseSize size{3, 8, 12, 4};
        sim::SimulatorOptions unlocked = sim::QuietOptions();
        unlocked.signal = {40, 12, false};
        sim::Simulator a(sim::GenerateDatabase(size, nullptr, sim::Numbering::Gaps, 1).value(),
                         sim::QuietOptions());
        sim::Simulator b(sim::GenerateDatabase(size, nullptr, sim::Numbering::Gaps, 2).value(),
                         sim::QuietOptions());
        sim::Simulator c(sim::GenerateDatabase(size, nullptr, sim::Numbering::Gaps, 3).value(),
                         unlocked);
        QVERIFY(a.Start("127.0.160.11", 8888));
        QVERIFY(b.Start("127.0.160.12", 8888));
        QVERIFY(c.Start("127.0.160.13", 8888));
        auto form = startMainForm();
        QVERIFY(form);
        form->resize(1280, 860);
        std::vector<MdiChild*> windows;
        for (const char* address : {"127.0.160.11", "127.0.160.12", "127.0.160.13"}) {
            windows.push_back(form->OpenDeviceWindow(address, "Head"));
        }
        MdiChild* never = form->OpenDeviceWindow("127.0.160.14", "Spare", false);
        for (MdiChild* window : windows) {
            window->ConnectMachine();
        }
        form->ShowFleet();
        FleetWindow& view = *form->FleetView();
        QVERIFY(form->FleetDock()->isVisible());
        QCOMPARE(view.TableModel()->rowCount(), 4);

        // Every row as its device reports it, the untouched machine as it is.
        const auto row = [&](MdiChild* w) {
            return view.TableModel()->RowAt(rowOf(view, nodeOf(w)));
        };
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(windows.begin(), windows.end(),
                                             [&](MdiChild* w) {
                                                 const FleetRow r = row(w);
                                                 return r.state == FleetState::Refreshed &&
                                                        r.signalKnown && !r.software.empty();
                                             }),
                                 15000);
        QVERIFY(row(windows[0]).locked && row(windows[1]).locked);
        QVERIFY(!row(windows[2]).locked);
        QCOMPARE(row(windows[2]).quality, 12);
        QCOMPARE(row(windows[1]).software, std::string("4.29")); // its own database
        QVERIFY(!row(windows[0]).playing.empty());
        QCOMPARE(row(never).state, FleetState::NotConnected);
        QVERIFY(!row(never).signalKnown);
        const QModelIndex lock =
            view.TableModel()->index(rowOf(view, nodeOf(windows[2])), FleetTableModel::ColLock);
        QCOMPARE(lock.data().toString(), LangText(fleet_text::Unlocked));

        // Sorted by quality the unlocked device comes first among the known;
        // a filter narrows at once.
        view.Table()->sortByColumn(FleetTableModel::ColQuality, Qt::AscendingOrder);
        const auto nodeAtProxyRow = [&](int r) {
            return view.TableModel()->NodeAt(
                view.Proxy()->mapToSource(view.Proxy()->index(r, 0)).row());
        };
        QCOMPARE(nodeAtProxyRow(0), nodeOf(never)); // unknown sorts below every value
        QCOMPARE(nodeAtProxyRow(1), nodeOf(windows[2]));
        view.FilterBox()->setText(QStringLiteral("127.0.160.13"));
        QCOMPARE(view.Proxy()->rowCount(), 1);
        view.FilterBox()->clear();
        QCOMPARE(view.Proxy()->rowCount(), 4);
        shoot(form.get(), "fleet_window_test.png");

        // A program only the second device carries: found, and activating
        // the hit shows it selected in that device's tree.
        const std::string name = b.Database().tv[5].name;
        form->ShowSearch();
        form->Search()->TextBox()->setText(FromGbk(name));
        form->Search()->RunSearch();
        const std::vector<SearchHit>& hits = form->Search()->Hits();
        const auto hit = std::find_if(hits.begin(), hits.end(), [&](const SearchHit& h) {
            return h.node == nodeOf(windows[1]) && h.program == name;
        });
        QVERIFY(hit != hits.end());
        QCOMPARE(form->Search()->Results()->topLevelItemCount(), static_cast<int>(hits.size()));
        form->Search()->ActivateHit(static_cast<size_t>(hit - hits.begin()));
        QTRY_COMPARE(form->ActiveChild(), windows[1]);
        ProgramTreeView* tree = windows[1]->findChild<ProgramsPage*>()->TvTree();
        QVERIFY(tree != nullptr);
        QTRY_VERIFY(tree->currentItem() != nullptr &&
                    tree->currentItem()->text(0).contains(FromGbk(name)));
        QVERIFY(tree->currentItem()->parent()->isExpanded());
        QVERIFY(tree->currentItem()->parent()->parent()->isExpanded());
        shoot(form.get(), "search_reveal_test.png");

        // The fleet disconnects the second device: its hit is gone.
        const SearchHit kept = *hit;
        view.SelectNodes({nodeOf(windows[1])});
        QCOMPARE(view.SelectedNodes(), std::vector<NodeId>{nodeOf(windows[1])});
        view.CommandAction(FleetWindow::Command::Disconnect)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(row(windows[1]).state == FleetState::NotConnected, 10000);
        QVERIFY(!form->RevealHit(kept));
        form->Search()->RunSearch();
        for (const SearchHit& h : form->Search()->Hits()) {
            QVERIFY(h.node != nodeOf(windows[1]));
        }
        QVERIFY(view.TableModel()->Drains() > 0);
        ui::MessageBox::setNextAnswer(QMessageBox::No);
    }
};

QTEST_MAIN(FleetTest)
#include "fleet_test.moc"
