#pragma once

#include "app/machine_window.h"
#include "database/program_tree.h"
#include "device/database_content.h"
#include "device/device_content.h"
#include "device/ui/system_page.h"
#include "dialogs/ui/ip_form_device.h"
#include "link/device_session.h"
#include "link/link_timing.h"
#include "log/log_buffer.h"
#include "upgrade/upgrade_transfer.h"

#include <QMdiSubWindow>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QPlainTextEdit;
class QSplitter;
class QTabWidget;
class QLabel;

namespace vireo {
class DeviceRecorder;
}

namespace vireo::ui {

class DeviceHost;
class DeviceViewAdapter;
class LogPane;
class ProgramsPage;
class ProgramMenuController;
class SnapshotCommands;
class SignalHistorySource;
class SignalHistoryTab;
class SystemPage;
class UpgradeProgressBar;

// How device windows are made: the IRD's port, the link's clock, the device
// content plugged into each session and the folder of the log files.
struct DeviceOptions
{
    uint16_t port = DeviceSession::kIrdPort;
    LinkTiming timing{};
    ContentFactory contentFactory = DatabaseContentFactory();
    std::filesystem::path logsFolder = kLogsFolder;
};

// TMDIChild: the document window of one IRD and the owner of its session.
// Created, laid out, activated and destroyed on the UI thread; the session
// reaches it only through the marshalled DeviceView and the log pane.
class MdiChild : public QMdiSubWindow,
                 public MachineWindow,
                 public IpFormDevice,
                 public SystemPageHost
{
    Q_OBJECT
public:
    MdiChild(DeviceHost& host, const DeviceOptions& options, const std::string& caption,
             QWidget* parent = nullptr);
    ~MdiChild() override;

    // MachineWindow and IpFormDevice
    std::string Caption() const override;
    bool IsClosing() const override;
    void Activate() override;
    void ShowAndRaise() override;
    void Teardown() override;
    void Close() override;
    MachineEntry* Entry() const override { return m_entry; }
    void SetEntry(MachineEntry* entry) override { m_entry = entry; }
    std::optional<SystemRecordBytes> SystemRecord() const override;
    void SendSystemInfo(const SystemRecordBytes& record) override;

    // The widgets are made when the window is first shown in the frame (or
    // first needs them): a listed machine that is never opened costs only
    // its session's bookkeeping.
    void BuildWidgets();
    bool HasWidgets() const { return m_client != nullptr; }
    // The window is one of the frame's document windows (shown at least once).
    bool IsShownInFrame() const { return mdiArea() != nullptr; }

    // The caption names the device: window title, log tag and the address
    // the next connect uses.
    void SetCaption(const std::string& caption);
    void Deactivate();

    // The connect step runs on a worker so an IRD that does not answer never
    // holds up the program; when it succeeds the session is started and the
    // full refresh queued, here on the UI thread. One attempt at a time.
    void ConnectMachine();
    // The toolbar switch pressed: clears `stop` first, then connects.
    void ConnectFromSwitch();
    bool IsConnecting() const { return m_connectWorker.joinable(); }
    void RequestDisconnect();
    // Ticks or unticks "Query Signal", as the operator's check box does.
    void SetQuerySignal(bool on);
    // Shows the programs tab with `node` of the TV (or radio) tree selected,
    // its parents expanded and scrolled into view. False when the tree has no
    // such item.
    bool RevealTreeNode(bool radioTree, TreeNodeId node);
    void RefreshIrd();
    // Stops the session without freeing anything.
    void RequestStop();
    // The destroy handler: the log pane goes to the log file with the closing
    // banner, then the session is torn down. Runs once.
    void FinishWindow();

    bool EverConnected() const;
    // The link was lost and given up; the session watches the device.
    bool Watching() const;
    bool DisconnectRequested() const;
    bool UpgradeRunning() const;
    bool DataLoaded() const;
    // The session holds a device database (it runs, or has just ended).
    bool HasDeviceDatabase() const;
    bool AutoConnect() const { return m_autoConnect; }
    void SetAutoConnect(bool autoConnect) { m_autoConnect = autoConnect; }
    double TabRatio() const { return m_tabRatio; }
    double TreeRatio() const { return m_treeRatio; }

    // Value 0 selects "LNB IN", 1 "ASI IN"; anything else only marks the
    // source unknown (index 9).
    void ShowSignalSource(int value);
    int SignalSourceIndex() const override { return m_signalSourceIndex; }
    std::string SignalSourceText() const;

    DeviceSession& Session() { return *m_session; }
    LogBuffer& Log() { return m_log; }
    ProgramTree& TvTree() { return m_tvTree; }
    ProgramTree& RadioTree() { return m_radioTree; }
    DeviceContent& Content() override { return *m_content; }
    // How the session speaks to this window.
    DeviceViewAdapter& View() { return *m_view; }
    // The firmware upgrade: the operator's choice and the upgrade thread.
    UpgradeTransfer& Upgrade() { return *m_upgrade; }
    SystemPage* SystemSettingsPage() const { return m_system; }
    // Save, compare and apply snapshots (in the window's system menu); null
    // until the widgets are made.
    SnapshotCommands* Snapshots() const { return m_snapshot; }
    SignalHistoryTab* HistoryTab() const { return m_history; }
    // Shows the window with its "Signal History" tab.
    void ShowHistory();
    // The program's history has opened (after this window was made): the
    // window starts recording into it.
    void HistoryOpened();
    QTabWidget* Tabs() const { return m_tabs; }

    // SystemPageHost
    bool SystemCommandsAllowed() const override;
    void SendReboot() override;

    // What the session asks of the window, applied on the UI thread.
    void ApplySystemTabEnabled(bool enabled);
    void ApplySignalSourceEnabled(bool enabled);
    void ApplySignalGauges(int intensity, int quality, bool showText);
    // A signal report: grey gauges at 100 without lock, green ones at the
    // values with it; the percentages shown while "Monitor IRD" is ticked.
    void ApplySignal(const DeviceView::SignalDisplay& signal);
    void ApplySystemSettings(const SystemSettings& settings);
    void ApplyVolume(const VolumeDisplay& volume);
    // A radio program started playing: tick "Show Radio".
    void ApplyShowRadio();
    void ApplyToolbarLinked(bool linked);
    void ApplyToolbarRefreshEnabled(bool enabled);
    void ApplyMachineState(int code);
    // The IRD reported its own address: retitle the window, or offer to
    // close it when the address is unusable or already taken.
    void CheckReportedAddress(std::array<uint8_t, 4> address);
    // An upgrade's progress: the window's bar and the machine's node show
    // it; stage Idle takes both away.
    void ApplyUpgradeProgress(const DeviceView::UpgradeProgress& progress);
    // A message that holds the upgrade thread until it is read: shown without
    // blocking anything, `dismissed` called once it is closed.
    void ShowUpgradeNotice(const std::string& text, std::function<void()> dismissed);

    // Lays the window out for its present size.
    void ApplyLayout();

signals:
    // The connect step (and, on success, session start and refresh) is done.
    void connectFinished(bool connected);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Where the recorder writes the raise and clear lines of the device's
    // alarms; the window lets go of it before its log goes.
    struct AlarmLog
    {
        std::mutex mutex;
        LogBuffer* log = nullptr;
    };

    void attachHistory();
    void detachHistory();
    void buildWidgets();
    void applyCaptions();
    void startConnect(bool fromSwitch);
    void onConnectStepDone(bool connected, bool fromSwitch);
    void joinConnectWorker();
    void onTabShown(int index);
    int shownTab() const;

    DeviceHost& m_host;
    DeviceOptions m_options;
    MachineEntry* m_entry = nullptr;

    // Declared before the session: the session and its threads end first.
    LogBuffer m_log;
    ProgramTree m_tvTree;
    ProgramTree m_radioTree;
    std::unique_ptr<DeviceViewAdapter> m_view;
    std::unique_ptr<DeviceContent> m_content;
    std::unique_ptr<UpgradeTransfer> m_upgrade; // its thread belongs to the session
    std::unique_ptr<DeviceSession> m_session;
    std::unique_ptr<ProgramMenuController> m_menu;
    SnapshotCommands* m_snapshot = nullptr; // a child of the window, deleted ahead of the content
    std::thread m_connectWorker;

    bool m_autoConnect = false;
    bool m_tornDown = false;
    bool m_finished = false;
    double m_tabRatio = 2.0 / 3.0;
    double m_treeRatio = 0.5;
    int m_signalSourceIndex = 9;
    int m_signalSourceRow = 197; // " Unknow"
    // The system tab was shown when it was disabled: it comes back with it.
    bool m_systemTabWanted = false;
    bool m_switchingTab = false;

    QWidget* m_client = nullptr;
    QSplitter* m_horSplitter = nullptr;
    QSplitter* m_verSplitter = nullptr;
    QTabWidget* m_tabs = nullptr;
    ProgramsPage* m_programs = nullptr;
    SystemPage* m_system = nullptr;
    QWidget* m_ciPage = nullptr;
    SignalHistoryTab* m_history = nullptr;
    std::shared_ptr<SignalHistorySource> m_historySource;
    std::shared_ptr<DeviceRecorder> m_recorder;
    std::shared_ptr<AlarmLog> m_alarmLog;
    LogPane* m_logPane = nullptr;
    UpgradeProgressBar* m_upgradeBar = nullptr;
    QPlainTextEdit* m_debugPane = nullptr;
};

} // namespace vireo::ui
