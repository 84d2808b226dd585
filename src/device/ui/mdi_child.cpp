#include "device/ui/mdi_child.h"

#include "app/machine_manager.h"
#include "device/address_change.h"
#include "device/device_layout.h"
#include "device/ui/device_host.h"
#include "device/ui/device_view_adapter.h"
#include "device/ui/log_pane.h"
#include "device/ui/program_menu.h"
#include "device/ui/program_tree_view.h"
#include "device/ui/programs_page.h"
#include "device/ui/system_page.h"
#include "device/ui/upgrade_progress.h"
#include "history/history_service.h"
#include "history/ui/history_link.h"
#include "history/ui/history_texts.h"
#include "history/ui/signal_history_tab.h"
#include "lang/display_text.h"
#include "lang/language_table.h"
#include "link/message_code.h"
#include "snapshot/ui/snapshot_commands.h"
#include "ui/gbk_text.h"
#include "ui/message_box.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <utility>

namespace vireo::ui {

namespace {

constexpr int kProgramsTab = 0;
constexpr int kSystemTab = 1;
constexpr int kCiTab = 2;
constexpr int kHistoryTab = 3;
constexpr int kRowWrongAddress = 40;
constexpr int kRowAddressTaken = 41;
constexpr int kRowLnbIn = 111;
constexpr int kRowAsiIn = 112;
constexpr int kUnknownSource = 9;

// The window's client area. Its resize handler runs after its layout has
// placed the splitters, so the window can size the panes within them.
class ClientArea : public QWidget
{
public:
    explicit ClientArea(std::function<void()> onResize) : m_onResize(std::move(onResize)) {}

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        m_onResize();
    }

private:
    std::function<void()> m_onResize;
};

} // namespace

MdiChild::MdiChild(DeviceHost& host, const DeviceOptions& options, const std::string& caption,
                   QWidget* parent)
    : QMdiSubWindow(parent), m_host(host), m_options(options), m_log(caption, options.logsFolder)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("TMDIChild"));
    m_view = std::make_unique<DeviceViewAdapter>(*this);
    const ContentHost contentHost{m_log, *m_view, m_tvTree, m_radioTree};
    m_content =
        (m_options.contentFactory ? m_options.contentFactory : BasicContentFactory())(contentHost);
    // A window keeps watching a device whose link it lost and gave up, so
    // the device comes back by itself and its outage lasts as long as it did.
    LinkTiming timing = m_options.timing;
    timing.watchAfterGivingUp = true;
    m_session = std::make_unique<DeviceSession>(m_host.Context(), m_log, *m_view, *m_content,
                                                timing, m_options.port);
    m_content->AttachSession(m_session.get());
    m_upgrade = std::make_unique<UpgradeTransfer>(
        *m_session, [content = m_content.get()] { return content->DeviceVersion(); });
    // "Monitor IRD" starts ticked; the box follows when the widgets are made.
    m_session->querySignalTicked = true;
    setWindowTitle(FromGbk(DisplayText(caption)));
    attachHistory();
}

void MdiChild::HistoryOpened()
{
    if (m_recorder == nullptr && !m_tornDown) {
        attachHistory();
    }
}

void MdiChild::attachHistory()
{
    HistoryService* history = m_host.History();
    if (history == nullptr) {
        return;
    }
    const DeviceKey key = DeviceKeyOfCaption(m_log.Caption());
    m_alarmLog = std::make_shared<AlarmLog>();
    m_alarmLog->log = &m_log;
    m_recorder = history->MakeRecorder(key);
    m_recorder->SetLogSink([sink = m_alarmLog](const std::string& line) {
        std::lock_guard lock(sink->mutex);
        if (sink->log != nullptr) {
            sink->log->AddLogLine(line);
        }
    });
    m_session->Observers().Add(m_recorder);
    m_historySource = MakeHistorySource(*history, key.address);
    if (m_history != nullptr) {
        m_history->SetSource(m_historySource);
    }
}

void MdiChild::detachHistory()
{
    if (m_recorder == nullptr) {
        return;
    }
    m_session->Observers().Remove(m_recorder.get());
    {
        std::lock_guard lock(m_alarmLog->mutex);
        m_alarmLog->log = nullptr;
    }
    m_recorder.reset();
}

void MdiChild::BuildWidgets()
{
    if (m_client != nullptr) {
        return;
    }
    buildWidgets();
    if (auto* database = dynamic_cast<DatabaseContent*>(m_content.get())) {
        m_menu = std::make_unique<ProgramMenuController>(
            *m_programs, *database, m_host,
            [this] { return !IsClosing() && m_session != nullptr && m_session->everConnected; },
            this);
        connect(m_programs, &ProgramsPage::menuRequested, m_menu.get(),
                &ProgramMenuController::Open);
    }
    m_snapshot = new SnapshotCommands(this, dynamic_cast<DatabaseContent*>(m_content.get()),
                                      [this] { return Caption(); });
    m_snapshot->AddTo(systemMenu());
    m_tabs->setCornerWidget(m_snapshot->MakeButton(m_tabs), Qt::TopRightCorner);
    m_programs->QueryBox()->setChecked(m_session->querySignalTicked);
    applyCaptions();
}

MdiChild::~MdiChild()
{
    // Its worker may hold the device's database, which needs the content.
    delete m_snapshot;
    m_snapshot = nullptr;
    FinishWindow();
    // The panes observe the log buffer and the trees, which are members and
    // go before the base class would delete its children: delete them now.
    QWidget* client = widget();
    setWidget(nullptr);
    delete client;
}

void MdiChild::buildWidgets()
{
    m_client = new ClientArea([this] { ApplyLayout(); });
    auto* layout = new QVBoxLayout(m_client);
    layout->setContentsMargins(2, 2, 2, 2);

    m_horSplitter = new QSplitter(Qt::Vertical, m_client);
    m_horSplitter->setObjectName(QStringLiteral("Splitter_hor"));
    m_horSplitter->setChildrenCollapsible(false);
    layout->addWidget(m_horSplitter);

    m_tabs = new QTabWidget(m_horSplitter);
    m_tabs->setObjectName(QStringLiteral("PageControl_child"));
    m_programs = new ProgramsPage(m_tvTree, m_radioTree, m_tabs);
    m_system = new SystemPage(m_tabs);
    m_system->SetHost(this);
    m_ciPage = new QWidget(m_tabs);
    m_ciPage->setObjectName(QStringLiteral("TabSheet_ci"));
    auto* ciLayout = new QVBoxLayout(m_ciPage);
    auto* ciText = new QLabel(QStringLiteral("This job is on working now......"), m_ciPage);
    ciText->setObjectName(QStringLiteral("StaticText3"));
    QFont ciFont = ciText->font();
    ciFont.setPixelSize(20);
    ciText->setFont(ciFont);
    ciLayout->addWidget(ciText, 0, Qt::AlignLeft | Qt::AlignTop);
    m_tabs->addTab(m_programs, QString());
    m_tabs->addTab(m_system, QString());
    m_tabs->addTab(m_ciPage, QString());
    m_history = new SignalHistoryTab(m_tabs);
    m_history->SetSource(m_historySource);
    m_tabs->addTab(m_history, QString());
    m_tabs->setTabEnabled(kSystemTab, false);
    m_horSplitter->addWidget(m_tabs);

    m_verSplitter = new QSplitter(Qt::Horizontal, m_horSplitter);
    m_verSplitter->setObjectName(QStringLiteral("Splitter_ver"));
    m_logPane = new LogPane(m_log, m_verSplitter);
    m_debugPane = new QPlainTextEdit(m_verSplitter);
    m_debugPane->setObjectName(QStringLiteral("Memo_debug"));
    m_debugPane->setReadOnly(true);
    m_debugPane->hide();
    m_verSplitter->addWidget(m_logPane);
    m_verSplitter->addWidget(m_debugPane);
    m_horSplitter->addWidget(m_verSplitter);
    m_upgradeBar = new UpgradeProgressBar(m_client);
    layout->addWidget(m_upgradeBar);
    setWidget(m_client);

    connect(m_horSplitter, &QSplitter::splitterMoved, this, [this] {
        m_tabRatio = RatioAfterSplitterMove(m_horSplitter->sizes().value(0), height(), m_tabRatio);
    });
    connect(m_programs->TreeSplitter(), &QSplitter::splitterMoved, this, [this] {
        m_treeRatio = RatioAfterSplitterMove(m_programs->TvTree()->width(), width(), m_treeRatio);
    });
    // Ticked by the operator or by the tree presentation when a radio program
    // plays: either way the radio tree shows at its stored width.
    connect(m_programs->ShowRadioBox(), &QCheckBox::toggled, this, [this](bool checked) {
        if (m_content) {
            m_content->SetShowRadio(checked);
        }
        ApplyLayout();
    });
    connect(m_programs->QueryBox(), &QCheckBox::toggled, this, [this](bool checked) {
        if (m_session) {
            m_session->querySignalTicked = checked;
        }
    });
    connect(m_tabs, &QTabWidget::currentChanged, this, &MdiChild::onTabShown);
}

void MdiChild::applyCaptions()
{
    m_tabs->setTabText(kProgramsTab, LangText(70));
    m_tabs->setTabText(kSystemTab, LangText(71));
    m_tabs->setTabText(kCiTab, LangText(72));
    m_tabs->setTabText(kHistoryTab, HistoryLang(HistoryText::SignalHistory));
    m_history->ApplyCaptions();
    m_programs->ApplyCaptions();
    m_system->ApplyCaptions();
    if (m_snapshot != nullptr) {
        m_snapshot->ApplyCaptions();
    }
}

// --- identity ---

std::string MdiChild::Caption() const
{
    return m_log.Caption();
}

void MdiChild::SetCaption(const std::string& caption)
{
    const DeviceKey before = DeviceKeyOfCaption(m_log.Caption());
    const DeviceKey after = DeviceKeyOfCaption(caption);
    m_log.SetCaption(caption);
    setWindowTitle(FromGbk(DisplayText(caption)));
    if (before.address != after.address && !m_tornDown) {
        // Recorded where the device was known until now, with where it went.
        m_session->Observers().Event(DeviceEvent::Kind::AddressChanged, 0, after.address);
    }
    // The recorder follows the device to its new address from the event
    // above (its history goes on under the same device).
    if (before.name != after.name && m_recorder != nullptr && !m_tornDown) {
        m_recorder->Rename(after.name);
    }
}

void MdiChild::ShowHistory()
{
    ShowAndRaise();
    BuildWidgets();
    m_tabs->setCurrentWidget(m_history);
}

bool MdiChild::IsClosing() const
{
    return m_tornDown || m_session->closing;
}

bool MdiChild::EverConnected() const
{
    return m_session->everConnected;
}

bool MdiChild::Watching() const
{
    return m_session->watching;
}

bool MdiChild::DisconnectRequested() const
{
    return m_session->disconnectRequested;
}

bool MdiChild::DataLoaded() const
{
    return m_content->DataLoaded();
}

bool MdiChild::UpgradeRunning() const
{
    return m_session->upgradeRunning;
}

bool MdiChild::HasDeviceDatabase() const
{
    const auto* database = dynamic_cast<const DatabaseContent*>(m_content.get());
    return database != nullptr && database->Database() != nullptr;
}

std::optional<SystemRecordBytes> MdiChild::SystemRecord() const
{
    return m_content->SystemRecord();
}

void MdiChild::SendSystemInfo(const SystemRecordBytes& record)
{
    m_session->SendRequest(msg::SetSystemInfo, 0, 0, record);
}

bool MdiChild::SystemCommandsAllowed() const
{
    return !IsClosing() && m_session->linked;
}

void MdiChild::SendReboot()
{
    m_session->SendRequest(msg::Reboot);
}

// --- activation ---

void MdiChild::Activate()
{
    if (IsClosing()) {
        return;
    }
    m_content->SetWindowState(true, shownTab());
    MachineManager& registry = m_host.Registry();
    if (m_entry != nullptr && registry.CurrentEntry() != m_entry) {
        registry.MarkCurrent(m_entry);
    }
    m_host.SetRenewUpgradeEnabled(false);
    if (!EverConnected()) {
        m_host.SetSwitchDown(false);
        return;
    }
    m_host.SetSwitchDown(true);
    if (m_session->threadRunning && !UpgradeRunning() && DataLoaded()) {
        m_host.SetRenewUpgradeEnabled(true);
    }
}

void MdiChild::Deactivate()
{
    if (IsClosing()) {
        return;
    }
    m_content->SetWindowState(false, shownTab());
    m_host.Registry().UnmarkCurrent(m_entry);
}

int MdiChild::shownTab() const
{
    return m_tabs == nullptr ? kProgramsTab : m_tabs->currentIndex();
}

void MdiChild::ShowAndRaise()
{
    if (!IsShownInFrame()) {
        m_host.PlaceDeviceWindow(this); // made and shown maximised
    }
    if (isMinimized()) {
        showNormal();
    } else {
        show();
    }
    raise();
    if (QMdiArea* area = mdiArea()) {
        area->setActiveSubWindow(this);
    }
}

// --- connecting ---

void MdiChild::ConnectMachine()
{
    startConnect(false);
}

void MdiChild::ConnectFromSwitch()
{
    startConnect(true);
}

void MdiChild::startConnect(bool fromSwitch)
{
    if (IsClosing() || IsConnecting()) {
        return;
    }
    if (m_session->WatchNow()) {
        // The session watches the device already: it tries now, with its
        // log lines, and the window comes back if the device answers.
        m_host.DeviceConnecting(this);
        return;
    }
    if (fromSwitch) {
        m_session->stop = false;
    }
    m_host.DeviceConnecting(this);
    // A connected device shows in its window.
    if (!IsShownInFrame()) {
        m_host.PlaceDeviceWindow(this);
    }
    m_connectWorker = std::thread([this, fromSwitch] {
        const bool connected = m_session->ConnectIrd();
        // Posted after every line and view call the connect step made, so the
        // UI sees them in the order they happened.
        QMetaObject::invokeMethod(
            this, [this, connected, fromSwitch] { onConnectStepDone(connected, fromSwitch); },
            Qt::QueuedConnection);
    });
}

void MdiChild::SetQuerySignal(bool on)
{
    if (m_programs != nullptr) {
        m_programs->QueryBox()->setChecked(on); // its handler tells the session
    } else if (m_session) {
        m_session->querySignalTicked = on;
    }
}

bool MdiChild::RevealTreeNode(bool radioTree, TreeNodeId node)
{
    if (IsClosing()) {
        return false;
    }
    if (!IsShownInFrame()) {
        m_host.PlaceDeviceWindow(this);
    }
    BuildWidgets();
    m_tabs->setCurrentIndex(kProgramsTab);
    if (radioTree && !m_programs->ShowRadioBox()->isChecked()) {
        m_programs->ShowRadioBox()->setChecked(true);
    }
    ProgramTreeView* tree = radioTree ? m_programs->RadioTree() : m_programs->TvTree();
    QTreeWidgetItem* item = tree->ItemOf(node);
    if (item == nullptr) {
        return false;
    }
    for (QTreeWidgetItem* parent = item->parent(); parent != nullptr; parent = parent->parent()) {
        parent->setExpanded(true);
    }
    tree->setCurrentItem(item);
    tree->scrollToItem(item, QAbstractItemView::PositionAtCenter);
    tree->setFocus(Qt::OtherFocusReason);
    return true;
}

void MdiChild::joinConnectWorker()
{
    if (m_connectWorker.joinable()) {
        m_connectWorker.join();
    }
}

void MdiChild::onConnectStepDone(bool connected, bool fromSwitch)
{
    joinConnectWorker();
    if (IsClosing()) {
        return;
    }
    if (!connected) {
        if (fromSwitch && m_host.ReflectsToolbar(this)) {
            m_host.SetSwitchDown(false);
        }
        emit connectFinished(false);
        return;
    }
    if (m_session->StartSession()) {
        m_session->RefreshIrd();
    }
    emit connectFinished(true);
}

void MdiChild::RequestDisconnect()
{
    if (!EverConnected() || IsClosing()) {
        return;
    }
    m_session->RequestDisconnect();
}

void MdiChild::RefreshIrd()
{
    if (!IsClosing()) {
        m_session->RefreshIrd();
    }
}

// --- closing ---

void MdiChild::RequestStop()
{
    m_session->RequestStop();
}

void MdiChild::Teardown()
{
    if (m_tornDown) {
        return;
    }
    m_tornDown = true;
    m_host.SetWindowClosing(true);
    m_session->RequestStop();
    // The connect worker sees the stopped socket and returns at once.
    joinConnectWorker();
    m_session->Teardown();
    detachHistory();
    m_host.Registry().RemoveMachine(m_entry);
    m_host.SetWindowClosing(false);
}

void MdiChild::FinishWindow()
{
    if (m_finished) {
        return;
    }
    m_finished = true;
    // Dialogs open for this window end first: none may act on it later.
    if (m_menu) {
        m_menu->CancelDialogs();
    }
    m_host.DeviceWindowClosing(this);
    m_log.FlushOnClose();
    Teardown();
}

void MdiChild::Close()
{
    close();
}

void MdiChild::closeEvent(QCloseEvent* event)
{
    if (m_host.IsLastShownWindow(this)) {
        m_host.ResetToolbar();
    }
    RequestStop();
    FinishWindow();
    QMdiSubWindow::closeEvent(event);
}

// --- what the session asks of the window ---

void MdiChild::ApplySystemTabEnabled(bool enabled)
{
    BuildWidgets();
    if (!enabled && m_tabs->currentIndex() == kSystemTab) {
        // Qt would move on to the next enabled tab, the empty "CI
        // Management". The programs stand in while the settings are away,
        // and the settings come back once they return, unless the operator
        // chose another tab meanwhile.
        m_systemTabWanted = true;
        m_switchingTab = true;
        m_tabs->setCurrentIndex(kProgramsTab);
        m_switchingTab = false;
    }
    m_tabs->setTabEnabled(kSystemTab, enabled);
    if (enabled && std::exchange(m_systemTabWanted, false) &&
        m_tabs->currentIndex() == kProgramsTab) {
        m_tabs->setCurrentIndex(kSystemTab);
    }
}

void MdiChild::ApplySignalSourceEnabled(bool enabled)
{
    BuildWidgets();
    m_system->SignalSource()->setEnabled(enabled);
}

void MdiChild::ApplySignalGauges(int intensity, int quality, bool showText)
{
    BuildWidgets();
    m_programs->SetGauges(intensity, quality, showText);
}

void MdiChild::ApplySignal(const DeviceView::SignalDisplay& signal)
{
    BuildWidgets();
    m_history->NoteNewData();
    if (signal.grey) {
        m_programs->SetGaugeColour(QStringLiteral("rgb(128, 128, 128)"));
        m_programs->SetGauges(100, 100, signal.showText);
    } else if (signal.setValues) {
        m_programs->SetGaugeColour(QStringLiteral("rgb(0, 255, 0)"));
        m_programs->SetGauges(signal.intensity, signal.quality, signal.showText);
    } else {
        m_programs->SetGaugeTextVisible(signal.showText);
    }
}

void MdiChild::ApplySystemSettings(const SystemSettings& settings)
{
    BuildWidgets();
    m_system->ShowSettings(settings);
}

void MdiChild::ApplyVolume(const VolumeDisplay& volume)
{
    BuildWidgets();
    m_system->ShowVolume(volume);
}

void MdiChild::ApplyShowRadio()
{
    BuildWidgets();
    m_programs->ShowRadioBox()->setChecked(true);
}

void MdiChild::ApplyToolbarLinked(bool linked)
{
    if (m_host.ReflectsToolbar(this)) {
        m_host.SetSwitchDown(linked);
    }
}

void MdiChild::ApplyToolbarRefreshEnabled(bool enabled)
{
    if (m_host.ReflectsToolbar(this)) {
        m_host.SetRenewUpgradeEnabled(enabled);
    }
}

void MdiChild::ApplyMachineState(int code)
{
    if (m_entry != nullptr) {
        m_host.Registry().SetMachineState(m_entry, code);
    }
}

void MdiChild::ShowSignalSource(int value)
{
    BuildWidgets();
    if (value == 0 || value == 1) {
        m_system->SignalSource()->setCurrentIndex(value);
        m_signalSourceIndex = value;
        m_signalSourceRow = value == 0 ? kRowLnbIn : kRowAsiIn;
    } else {
        m_signalSourceIndex = kUnknownSource;
    }
}

std::string MdiChild::SignalSourceText() const
{
    return GetLangText(m_signalSourceRow);
}

void MdiChild::CheckReportedAddress(std::array<uint8_t, 4> address)
{
    if (IsClosing()) {
        return;
    }
    const std::string caption = Caption();
    auto offerToClose = [this, &caption](int row) {
        const auto answer =
            MessageBox::Ask(this, FromGbk(GetLangText(row) + DisplayText(caption)),
                            QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel);
        if (answer == QMessageBox::Ok) {
            close();
        }
    };
    if (!IsUsableDeviceAddress(address)) {
        offerToClose(kRowWrongAddress);
        return;
    }
    const std::string newCaption = CaptionForReportedAddress(address, caption);
    MachineWindow* holder = m_host.Registry().FindByAddress(newCaption);
    if (holder != nullptr && holder != this) {
        offerToClose(kRowAddressTaken);
        return;
    }
    if (newCaption != caption) {
        m_host.Registry().RenameMachine(m_entry, newCaption);
        SetCaption(newCaption);
    }
}

void MdiChild::ApplyUpgradeProgress(const DeviceView::UpgradeProgress& progress)
{
    BuildWidgets();
    m_upgradeBar->ShowProgress(progress);
    if (m_entry != nullptr) {
        m_host.SetMachineMark(m_entry->Node(), UpgradeNodeMark(progress));
    }
}

void MdiChild::ShowUpgradeNotice(const std::string& text, std::function<void()> dismissed)
{
    MessageBox::Notify(this, FromGbk(text), std::move(dismissed));
}

// --- layout ---

void MdiChild::ApplyLayout()
{
    if (m_horSplitter == nullptr) {
        return;
    }
    QSplitter* treeSplitter = m_programs->TreeSplitter();
    const bool showRadio = m_programs->ShowRadioBox()->isChecked();
    const DeviceLayout layout = ComputeDeviceLayout(
        {width(), height(), m_tabRatio, m_treeRatio, showRadio, treeSplitter->handleWidth()});

    m_debugPane->hide();
    const int handle = m_horSplitter->handleWidth();
    const int tabHeight = std::max(0, layout.tabHeight);
    m_horSplitter->setSizes({tabHeight, std::max(0, m_horSplitter->height() - tabHeight - handle)});
    m_verSplitter->setSizes({std::max(0, layout.logWidth), 0});
    m_programs->PlaceCheckBoxes(layout.queryLeft, layout.showRadioLeft);

    if (m_programs->RadioTree()->isVisibleTo(treeSplitter) != showRadio) {
        m_programs->RadioTree()->setVisible(showRadio);
        // Let the splitter take the change in before it is given the widths.
        treeSplitter->refresh();
    }
    if (QSplitterHandle* h = treeSplitter->handle(1)) {
        h->setEnabled(showRadio);
    }
    const int tvWidth = std::max(0, layout.tvTreeWidth);
    treeSplitter->setSizes(
        {tvWidth, std::max(0, treeSplitter->width() - tvWidth - treeSplitter->handleWidth())});
}

void MdiChild::onTabShown(int index)
{
    if (!m_switchingTab) {
        m_systemTabWanted = false; // the operator chose a tab
    }
    if (m_content) {
        m_content->SetWindowState(m_host.ReflectsToolbar(this), index);
    }
    if (m_session == nullptr || m_session->stop) {
        return;
    }
    if (index == kProgramsTab) {
        m_content->ProgramsTabShown();
    } else if (index == kSystemTab) {
        m_content->SystemTabShown();
    }
}

} // namespace vireo::ui
