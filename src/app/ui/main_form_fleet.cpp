// The fleet window, the search across devices and the inventory export.

#include "app/ui/main_form.h"
#include "device/ui/mdi_child.h"
#include "fleet/fleet_alarms.h"
#include "fleet/fleet_texts.h"
#include "fleet/inventory.h"
#include "fleet/ui/search_panel.h"
#include "lang/display_text.h"
#include "snapshot/apply_rows.h"
#include "snapshot/ui/fleet_apply_dialog.h"
#include "snapshot/ui/snapshot_commands.h"
#include "snapshot/ui/snapshot_rows.h"
#include "ui/gbk_text.h"
#include "ui/message_box.h"

#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>

namespace vireo::ui {

namespace {

constexpr int kNoteMs = 8000;
// A revealed node may still be on its way into a tree that was just shown.
constexpr int kRevealRetryMs = 300;

std::shared_ptr<ListManager> databaseOf(MdiChild& window)
{
    auto* content = dynamic_cast<DatabaseContent*>(&window.Content());
    return content != nullptr ? content->Database() : nullptr;
}

} // namespace

void MainForm::buildFleet()
{
    m_fleetView = new FleetWindow(m_fleet);
    m_fleetDock = new QDockWidget(this);
    m_fleetDock->setObjectName(QStringLiteral("FleetDock"));
    m_fleetDock->setWidget(m_fleetView);
    m_fleetDock->setAllowedAreas(Qt::BottomDockWidgetArea | Qt::TopDockWidgetArea);
    addDockWidget(Qt::BottomDockWidgetArea, m_fleetDock);
    m_fleetDock->hide();
    connect(m_fleetView, &FleetWindow::deviceActivated, this,
            [this](NodeId node) { m_registry->ShowByNode(node); });
    connect(m_fleetView, &FleetWindow::commandRequested, this, &MainForm::RunFleetCommand);

    m_search = new SearchPanel([this] { return ConnectedDatabases(); });
    m_searchDock = new QDockWidget(this);
    m_searchDock->setObjectName(QStringLiteral("SearchDock"));
    m_searchDock->setWidget(m_search);
    m_search->setMinimumWidth(420);
    addDockWidget(Qt::RightDockWidgetArea, m_searchDock);
    m_searchDock->hide();
    connect(m_search, &SearchPanel::hitActivated, this,
            [this](const SearchHit& hit) { RevealHit(hit); });

    m_fleetItem = new QAction(this);
    m_fleetItem->setObjectName(QStringLiteral("WindowFleetItem"));
    m_fleetItem->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    connect(m_fleetItem, &QAction::triggered, this, &MainForm::ShowFleet);
    m_searchItem = new QAction(this);
    m_searchItem->setObjectName(QStringLiteral("WindowSearchItem"));
    m_searchItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    m_searchItem->setShortcutContext(Qt::ApplicationShortcut);
    connect(m_searchItem, &QAction::triggered, this, &MainForm::ShowSearch);
    // The shortcuts work while the Window menu is closed.
    addAction(m_fleetItem);
    addAction(m_searchItem);
    rebuildWindowMenu();
    m_fleetView->CommandAction(FleetWindow::Command::AcknowledgeAlarms)->setVisible(false);

    m_exportCsv = new QAction(this);
    m_exportCsv->setObjectName(QStringLiteral("FileExportCsvItem"));
    connect(m_exportCsv, &QAction::triggered, this, &MainForm::ExportInventoryCsvClick);
    m_exportJson = new QAction(this);
    m_exportJson->setObjectName(QStringLiteral("FileExportJsonItem"));
    connect(m_exportJson, &QAction::triggered, this, &MainForm::ExportInventoryJsonClick);
    m_fileMenu->insertAction(m_fileExit, m_exportCsv);
    m_fileMenu->insertAction(m_fileExit, m_exportJson);
    m_fileMenu->insertSeparator(m_fileExit);

    m_applySnapshot = new QAction(this);
    m_applySnapshot->setObjectName(QStringLiteral("FleetApplySnapshot"));
    connect(m_applySnapshot, &QAction::triggered, this, &MainForm::ApplySnapshotToSelectionClick);
    m_fleetView->AddSelectionCommand(m_applySnapshot);

    // Snapshot commands where an operator looks for them: those of the
    // active device window, then the fleet's.
    auto* snapshots = new QMenu(this);
    snapshots->setObjectName(QStringLiteral("menu_snapshot"));
    menuBar()->insertMenu(m_windowMenu->menuAction(), snapshots);
    connect(snapshots, &QMenu::aboutToShow, this, [this, snapshots] {
        snapshots->clear();
        MdiChild* window = ActiveChild();
        if (SnapshotCommands* commands = window != nullptr ? window->Snapshots() : nullptr) {
            snapshots->addAction(commands->SaveAction());
            snapshots->addAction(commands->CompareAction());
            snapshots->addAction(commands->ApplyAction());
            snapshots->addSeparator();
        }
        snapshots->addAction(m_applySnapshot);
    });
    snapshots->addAction(m_applySnapshot);
}

void MainForm::ApplySnapshotToSelectionClick()
{
    std::vector<FleetApplyDevice> devices;
    for (NodeId node : m_fleetView->SelectedNodes()) {
        MdiChild* window = windowOfNode(node);
        if (window != nullptr && !window->IsClosing()) {
            devices.push_back({FromGbk(DisplayText(window->Caption())),
                               dynamic_cast<DatabaseContent*>(&window->Content())});
        }
    }
    if (devices.empty()) {
        return;
    }
    const QString file = ChooseSnapshotFile(this, false);
    if (file.isEmpty()) {
        return;
    }
    FleetApplyDialog dialog(std::move(devices), file, this);
    ModalSeam::Exec(&dialog);
}

void MainForm::applyFleetCaptions()
{
    m_fleetItem->setText(LangText(fleet_text::FleetMenu));
    m_searchItem->setText(LangText(fleet_text::SearchMenu));
    m_exportCsv->setText(LangText(fleet_text::ExportCsv));
    if (m_exportJson != nullptr) {
        m_exportJson->setText(LangText(fleet_text::ExportJson));
    }
    if (m_applySnapshot != nullptr) {
        m_applySnapshot->setText(LangText(snapshot_row::ApplyToSelected));
    }
    if (auto* snapshots = findChild<QMenu*>(QStringLiteral("menu_snapshot"))) {
        snapshots->setTitle(LangText(apply_row::SnapshotMenu));
    }
    m_fleetView->ApplyCaptions();
    m_fleetDock->setWindowTitle(m_fleetView->windowTitle());
    m_search->ApplyCaptions();
    m_searchDock->setWindowTitle(m_search->windowTitle());
}

void MainForm::ShowFleet()
{
    m_fleetDock->show();
    m_fleetDock->raise();
    m_fleetView->FilterBox()->setFocus(Qt::ShortcutFocusReason);
}

void MainForm::ShowSearch()
{
    m_searchDock->show();
    m_searchDock->raise();
    m_search->FocusText();
}

void MainForm::addToFleet(MdiChild* window)
{
    if (window == nullptr || window->Entry() == nullptr) {
        return;
    }
    const QPointer<MdiChild> guard(window);
    FleetSource source;
    source.database = [guard]() -> std::shared_ptr<ListManager> {
        return guard ? databaseOf(*guard) : nullptr;
    };
    source.lastLogLine = [guard] { return guard ? guard->Log().LastLine() : std::string(); };
    auto observer = m_fleet->AddMachine(window->Entry()->Node(), window->Caption(),
                                        window->AutoConnect(), std::move(source));
    window->Session().Observers().Add(observer);
    m_fleetObservers[window] = std::move(observer);
}

void MainForm::removeFromFleet(MdiChild* window)
{
    const auto at = m_fleetObservers.find(window);
    if (at == m_fleetObservers.end()) {
        return;
    }
    window->Session().Observers().Remove(at->second.get());
    m_fleetObservers.erase(at);
    if (window->Entry() != nullptr) {
        m_fleet->RemoveMachine(window->Entry()->Node());
    }
}

void MainForm::DeviceConnecting(MdiChild* window)
{
    if (window != nullptr && window->Entry() != nullptr) {
        m_fleet->NoteConnecting(window->Entry()->Node());
    }
}

std::vector<DeviceDatabaseRef> MainForm::ConnectedDatabases() const
{
    std::vector<DeviceDatabaseRef> devices;
    for (MdiChild* window : ChildrenInTreeOrder()) {
        if (window->IsClosing() || !window->Session().linked || window->Entry() == nullptr) {
            continue;
        }
        if (std::shared_ptr<ListManager> db = databaseOf(*window)) {
            devices.push_back({window->Entry()->Node(), window->Caption(), std::move(db)});
        }
    }
    return devices;
}

bool MainForm::RevealHit(const SearchHit& hit)
{
    MdiChild* window = windowOfNode(hit.node);
    std::shared_ptr<ListManager> db =
        window != nullptr && !window->IsClosing() && window->Session().linked ? databaseOf(*window)
                                                                              : nullptr;
    const std::optional<HitLocation> at = db ? LocateHit(*db, hit) : std::nullopt;
    if (!at) {
        statusBar()->showMessage(FromGbk(DisplayText(hit.caption)) + QStringLiteral(": ") +
                                     LangText(fleet_text::HitGone),
                                 kNoteMs);
        return false;
    }
    m_registry->ShowByNode(hit.node);
    if (!window->RevealTreeNode(at->radioTree, at->node)) {
        QTimer::singleShot(kRevealRetryMs, this, [this, node = hit.node, where = *at] {
            if (MdiChild* again = windowOfNode(node)) {
                again->RevealTreeNode(where.radioTree, where.node);
            }
        });
    }
    return true;
}

void MainForm::RunFleetCommand(FleetWindow::Command command, const std::vector<NodeId>& nodes)
{
    using Command = FleetWindow::Command;
    for (NodeId node : nodes) {
        MdiChild* window = windowOfNode(node);
        if (window == nullptr || window->IsClosing()) {
            continue;
        }
        switch (command) {
        case Command::Connect:
            if (!window->Session().linked && !window->IsConnecting()) {
                ConnectMachine(window);
            }
            break;
        case Command::Disconnect:
            window->RequestDisconnect();
            if (window == ActiveChild()) {
                SetSwitchDown(false);
            }
            break;
        case Command::Renew:
            if (window->Session().linked) {
                window->RefreshIrd();
            }
            break;
        case Command::QuerySignalOn:
        case Command::QuerySignalOff:
            window->SetQuerySignal(command == Command::QuerySignalOn);
            break;
        case Command::AcknowledgeAlarms:
            if (m_alarms != nullptr) {
                const std::string caption = window->Caption();
                m_alarms->AcknowledgeAll(caption.substr(0, caption.find(':')), OperatorName());
            }
            break;
        }
    }
}

bool MainForm::WriteInventoryCsv(const QString& path, QString* reason) const
{
    const std::string csv = InventoryCsv(ConnectedDatabases());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(csv.data(), static_cast<qint64>(csv.size())) !=
            static_cast<qint64>(csv.size()) ||
        !file.flush()) {
        if (reason != nullptr) {
            *reason = file.errorString();
        }
        return false;
    }
    return true;
}

QString MainForm::chooseExportFile(const char* name, const QString& filter, const QString& suffix)
{
    QPointer<QFileDialog> dialog = new QFileDialog(this, QString(), QDir::currentPath(), filter);
    dialog->setObjectName(QString::fromLatin1(name));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(suffix);
    const int result = ModalSeam::Exec(dialog);
    QString path;
    if (dialog && result == QDialog::Accepted) {
        path = dialog->selectedFiles().value(0);
    }
    delete dialog.data();
    return path;
}

bool MainForm::WriteInventoryJson(const QString& path, QString* reason) const
{
    const std::string json = InventoryJson(ConnectedDatabases());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(json.data(), static_cast<qint64>(json.size())) !=
            static_cast<qint64>(json.size()) ||
        !file.flush()) {
        if (reason != nullptr) {
            *reason = file.errorString();
        }
        return false;
    }
    return true;
}

void MainForm::ExportInventoryCsvClick()
{
    exportInventory(false);
}

void MainForm::ExportInventoryJsonClick()
{
    exportInventory(true);
}

void MainForm::exportInventory(bool json)
{
    if (ConnectedDatabases().empty()) {
        MessageBox::Information(this, LangText(fleet_text::NothingToExport));
        return;
    }
    const QString path =
        json ? chooseExportFile("SaveDialog_inventory_json", QStringLiteral("JSON (*.json)"),
                                QStringLiteral("json"))
             : chooseExportFile("SaveDialog_inventory_csv", QStringLiteral("CSV (*.csv)"),
                                QStringLiteral("csv"));
    if (path.isEmpty()) {
        return;
    }
    QString reason;
    if (!(json ? WriteInventoryJson(path, &reason) : WriteInventoryCsv(path, &reason))) {
        MessageBox::Information(this, LangText(fleet_text::CannotWrite) +
                                          QDir::toNativeSeparators(path) + "\n" + reason);
    }
}

void MainForm::AttachAlarms(AlarmEngine* engine)
{
    if (m_alarms != nullptr && m_fleetAlarms) {
        m_alarms->RemoveObserver(m_fleetAlarms.get());
    }
    m_fleetAlarms.reset();
    m_alarms = engine;
    if (engine != nullptr) {
        m_fleetAlarms = std::make_shared<FleetAlarmLink>(*m_fleet, *engine);
        engine->AddObserver(m_fleetAlarms);
    }
    m_fleetView->CommandAction(FleetWindow::Command::AcknowledgeAlarms)
        ->setVisible(engine != nullptr);
}

} // namespace vireo::ui
