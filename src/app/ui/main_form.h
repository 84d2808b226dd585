#pragma once

#include "app/machine_manager.h"
#include "app/settings_file.h"
#include "device/ui/device_host.h"
#include "device/ui/mdi_child.h"
#include "fleet/device_search.h"
#include "fleet/fleet_model.h"
#include "fleet/ui/fleet_window.h"
#include "history/alarm_engine.h"
#include "history/history_service.h"
#include "link/device_session.h"

#include <QMainWindow>
#include <QPointer>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <vector>

class QAction;
class QDockWidget;
class QMdiArea;
class QMenu;
class QSystemTrayIcon;
class QToolButton;

namespace vireo::ui {

class AboutBox;
class AlarmMonitor;
class AlarmsDock;
class IPForm;
class LoginForm;
class MachineTreeView;
class SatForm;
class SearchPanel;
class SelForm;
class TpForm;

// Caption of the main window.
inline constexpr const char* kMainCaption = "Vireo Remote Manager";
// Follows an address or caption that a window already has.
inline constexpr const char* kAlreadyConnected = " :has been connected!";

// TMainForm: the multiple-document frame with the machine tree, toolbar,
// menus and status bar. It owns the machine registry, the session context
// (operation pool and "Hex Showing" choice) and the dialogs, and turns the
// operator's commands into calls on the device windows.
//
// Start-up: construct, FormCreate() (start-up dialog, root node, captions;
// the history file opens on a thread of its own),
// CreateDialogs(), show(). The first paint opens the chosen machines' windows
// and posts a connect message for each one ticked.
class MainForm : public QMainWindow, public DeviceHost
{
    Q_OBJECT
public:
    explicit MainForm(QWidget* parent = nullptr);
    ~MainForm() override;

    void FormCreate();
    void CreateDialogs();

    // Opens the window of a device, unless a window has that address already:
    // then "<caption> :has been connected!" is shown, that window comes to the
    // front and nothing is created (null result).
    // With `show` false the window is made without its widgets and enters the
    // frame when first shown or connected.
    MdiChild* OpenDeviceWindow(const std::string& address, const std::string& name,
                               bool show = true);
    // The connect sequence of a device window (runs its connect step off the
    // UI thread).
    void ConnectMachine(MdiChild* window);

    // The settings file written at exit and read at start-up.
    void SetSettingsPath(std::filesystem::path path) { m_settingsPath = std::move(path); }
    // How device windows are made (port, clock, content, log folder).
    void SetDeviceOptions(DeviceOptions options) { m_deviceOptions = std::move(options); }
    // The signal history: its file (next to Vireo.ini by default), and for
    // tests its clock and writer pace. Opened by FormCreate.
    void SetHistoryOptions(HistoryService::Options options)
    {
        m_historyOptions = std::move(options);
    }
    AlarmsDock* AlarmsWindow() const { return m_alarmsDock; }
    AlarmMonitor* Alarms() const { return m_alarmMonitor; }
    // Who acknowledges an alarm: the user logged in to the system.
    static std::string OperatorName();

    // Starts the upgrade of a device window: BeginUpgrade with the upgrade
    // type dialog, unless replaced here.
    void SetUpgradeStarter(std::function<void(MdiChild&)> starter)
    {
        m_upgradeStarter = std::move(starter);
    }

    // The popup menu made ready for `node` (its items shown and enabled by
    // the node and its window's state).
    void PreparePopup(NodeId node);
    QMenu* PopupMenu() const { return m_popup; }
    MachineTreeView* MachineTree() const { return m_tree; }
    QMdiArea* MdiArea() const { return m_mdi; }
    MdiChild* ActiveChild() const;
    // Device windows in the order of their nodes in the machine tree.
    std::vector<MdiChild*> ChildrenInTreeOrder() const;
    IPForm* IpForm() const { return m_ipForm; }
    SelForm* UpgradeTypeForm() const { return m_selForm; }
    LoginForm* Login() const { return m_login; }
    int LanguageIndex() const { return m_languageIndex; }
    bool AppClosing() const { return m_appClosing; }
    bool WindowClosing() const { return m_windowClosing; }

    // DeviceHost
    MachineManager& Registry() override { return *m_registry; }
    SessionContext& Context() override { return m_context; }
    bool ReflectsToolbar(const MdiChild* child) const override;
    void SetSwitchDown(bool down) override;
    void SetRenewUpgradeEnabled(bool enabled) override;
    void ResetToolbar() override;
    void SetMachineMark(NodeId node, const QString& mark) override;
    int DocumentWindowCount() const override;
    bool IsLastShownWindow(const MdiChild* window) const override;
    void PlaceDeviceWindow(MdiChild* window) override;
    void SetWindowClosing(bool closing) override { m_windowClosing = closing; }
    SatForm* SatelliteDialog() override { return m_satForm; }
    TpForm* TransponderDialog() override { return m_tpForm; }
    void DeviceWindowClosing(MdiChild* window) override;
    void DeviceConnecting(MdiChild* window) override;

    // The fleet: a row per machine (main_form_fleet.cpp).
    FleetModel& Fleet() { return *m_fleet; }
    FleetWindow* FleetView() const { return m_fleetView; }
    SearchPanel* Search() const { return m_search; }
    QDockWidget* FleetDock() const { return m_fleetDock; }
    QDockWidget* SearchDock() const { return m_searchDock; }
    void ShowFleet();
    void ShowSearch(); // Ctrl+F
    // The devices that are connected and hold a database, in tree order.
    std::vector<DeviceDatabaseRef> ConnectedDatabases() const;
    // Shows the hit's device window with its node selected and revealed;
    // false (and a note in the status bar) when the device or the record is
    // gone.
    bool RevealHit(const SearchHit& hit);
    void RunFleetCommand(FleetWindow::Command command, const std::vector<NodeId>& nodes);
    // The inventory of the connected devices; false with the reason.
    bool WriteInventoryCsv(const QString& path, QString* reason) const;
    bool WriteInventoryJson(const QString& path, QString* reason) const;
    void ExportInventoryCsvClick();
    void ExportInventoryJsonClick();
    // One snapshot onto the devices selected in the fleet window.
    void ApplySnapshotToSelectionClick();
    // The alarms the fleet counts and acknowledges (null: none; the
    // Acknowledge command is then disabled). The engine outlives the form.
    void AttachAlarms(AlarmEngine* engine);
    HistoryService* History() override { return m_history.get(); }

    // Commands, by the component that raises them.
    void FileNewItemClick();
    void HelpAboutItemClick();
    void MenuHexClick(bool checked);
    void PMenuShowClick();
    void PMenuCloseClick();
    void TBtnCloseClick();
    void PMenuReconnectClick();
    void PMenuDisconnectClick();
    void TBtnSwitchClick(bool down);
    void PMenuUpdateClick();
    void TBtnRenewClick();
    void PMenuUpgradeClick();
    void TBtnUpgradeClick();
    void PMenuConfigClick();
    void PMenuModifyClick();
    void AlarmRulesClick();

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWidgets();
    void buildMenus();
    void buildToolbar();
    void buildPopup();
    void buildFleet();
    void applyFleetCaptions();
    void addToFleet(MdiChild* window);
    void removeFromFleet(MdiChild* window);
    QString chooseExportFile(const char* name, const QString& filter, const QString& suffix);
    void exportInventory(bool json);
    void applyCaptions();
    void rebuildWindowMenu();
    void onSubWindowActivated(QMdiSubWindow* window);
    void onTreeTouched();
    void onTreeContextMenu(const QPoint& pos);
    void onTreeDoubleClick();
    void firstPaint();
    // Opens the next machines of the start-up list for a moment, then lets
    // the event loop run before the rest.
    void openListedMachines();
    void connectTickedMachines();
    void postConnectMessage(MdiChild* window);
    void onConnectMessage(MdiChild* window);
    MdiChild* windowOfNode(NodeId node) const;
    MdiChild* selectedWindow() const;
    void retitle(MdiChild* window, const std::string& caption);
    // Writes the settings file; when that fails the operator is told why and
    // chooses: exit without saving (true) or stay (false).
    bool saveMachineList();
    void closeAllForExit();
    // The signal history and alarms (main_form_alarms.cpp).
    void buildAlarms();
    void applyAlarmCaptions();
    // The history file is opened (and checked, which reads all of it) on a
    // thread of its own; the windows made meanwhile join it once it is open.
    void startHistory();
    void historyOpened();
    void stopHistory();
    void updateAlarmMarks();
    // One update of the marks after the reports waiting now (the tree's
    // nodes among them), however many windows ask.
    void scheduleAlarmMarks();
    void onAlarmsRaised(const std::vector<Alarm>& alarms);
    void showAlarmDevice(const QString& address);

    HistoryService::Options m_historyOptions;
    std::unique_ptr<HistoryService> m_history;
    // Opens the history; what it opened is taken once it has been joined.
    std::thread m_historyOpener;
    std::unique_ptr<HistoryService> m_openedHistory;
    std::unique_ptr<MachineManager> m_registry;
    std::shared_ptr<FleetModel> m_fleet; // shared with the fleet window, which may go later
    // The fleet row observer each device window's session reports to.
    std::map<MdiChild*, std::shared_ptr<DeviceObserver>> m_fleetObservers;
    AlarmEngine* m_alarms = nullptr;
    std::shared_ptr<AlarmObserver> m_fleetAlarms;
    SessionContext m_context;
    DeviceOptions m_deviceOptions;
    std::filesystem::path m_settingsPath = kSettingsFileName;
    std::function<void(MdiChild&)> m_upgradeStarter;

    int m_languageIndex = 0;
    bool m_windowClosing = false;
    bool m_appClosing = false;
    bool m_firstPaintSeen = false;
    bool m_closed = false;
    std::vector<ChosenMachine> m_chosen;
    // The start-up list being opened (ticked machines first) and how far.
    std::vector<ChosenMachine> m_opening;
    size_t m_openingNext = 0;
    size_t m_openingTicked = 0;
    QPointer<MdiChild> m_lastActive;

    LoginForm* m_login = nullptr;
    IPForm* m_ipForm = nullptr;
    AboutBox* m_about = nullptr;
    SatForm* m_satForm = nullptr;
    TpForm* m_tpForm = nullptr;
    SelForm* m_selForm = nullptr;

    QMdiArea* m_mdi = nullptr;
    MachineTreeView* m_tree = nullptr;
    QMenu* m_fileMenu = nullptr;
    QMenu* m_windowMenu = nullptr;
    QMenu* m_configMenu = nullptr;
    QMenu* m_helpMenu = nullptr;
    QMenu* m_popup = nullptr;
    FleetWindow* m_fleetView = nullptr;
    SearchPanel* m_search = nullptr;
    QDockWidget* m_fleetDock = nullptr;
    QDockWidget* m_searchDock = nullptr;
    QAction* m_fleetItem = nullptr;
    QAction* m_searchItem = nullptr;
    QAction* m_exportCsv = nullptr;
    QAction* m_exportJson = nullptr;
    QAction* m_applySnapshot = nullptr; // fleet window: a snapshot onto the selected devices
    QAction* m_fileNew = nullptr;
    QAction* m_fileExit = nullptr;
    QAction* m_cascade = nullptr;
    QAction* m_tileHorizontally = nullptr;
    QAction* m_tileVertically = nullptr;
    QAction* m_minimizeAll = nullptr;
    QAction* m_arrange = nullptr;
    QAction* m_hex = nullptr;
    QAction* m_aboutItem = nullptr;
    QAction* m_pNew = nullptr;
    QAction* m_pShow = nullptr;
    QAction* m_pClose = nullptr;
    QAction* m_pReconnect = nullptr;
    QAction* m_pDisconnect = nullptr;
    QAction* m_pUpdate = nullptr;
    QAction* m_pConfig = nullptr;
    QAction* m_pModify = nullptr;
    QAction* m_pUpgrade = nullptr;
    AlarmsDock* m_alarmsDock = nullptr;
    AlarmMonitor* m_alarmMonitor = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    bool m_alarmMarksScheduled = false;
    bool m_alarmsDockPlaced = false;
    QMenu* m_alarmsMenu = nullptr;
    QAction* m_alarmRules = nullptr;
    QToolButton* m_btnNew = nullptr;
    QToolButton* m_btnClose = nullptr;
    QToolButton* m_btnSwitch = nullptr;
    QToolButton* m_btnRenew = nullptr;
    QToolButton* m_btnUpgrade = nullptr;
};

} // namespace vireo::ui
