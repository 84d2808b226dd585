// Start-up, opening device windows, connecting, and closing the program.

#include "app/ui/about_box.h"
#include "app/ui/begin_upgrade.h"
#include "app/ui/login_form.h"
#include "app/ui/main_form.h"
#include "dialogs/ui/ip_form.h"
#include "dialogs/ui/sat_form.h"
#include "dialogs/ui/sel_form.h"
#include "dialogs/ui/tp_form.h"
#include "lang/display_text.h"
#include "lang/language_table.h"
#include "ui/gbk_text.h"
#include "ui/message_box.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QToolButton>
#include <algorithm>

namespace vireo::ui {

namespace {
constexpr int kRowRootNode = 69;
// How long the start-up list is opened before the event loop runs again.
constexpr qint64 kOpeningSliceMs = 20;
constexpr int kRowSaveMachines = 42;
constexpr int kRowCannotSave = 212;
constexpr int kRowExitWithoutSaving = 213;
} // namespace

void MainForm::FormCreate()
{
    m_login = new LoginForm(m_settingsPath, this);
    ModalSeam::Exec(m_login);
    m_languageIndex = m_login->LanguageIndex();
    m_chosen = m_login->TakeMachines();
    m_registry->AddRoot(GetLangText(kRowRootNode));
    applyCaptions();
    startHistory();
}

void MainForm::CreateDialogs()
{
    if (m_ipForm == nullptr) {
        m_ipForm = new IPForm(this);
    }
    if (m_about == nullptr) {
        m_about = new AboutBox(this);
    }
    if (m_satForm == nullptr) {
        m_satForm = new SatForm(this);
    }
    if (m_tpForm == nullptr) {
        m_tpForm = new TpForm(this);
    }
    if (m_selForm == nullptr) {
        m_selForm = new SelForm(this);
    }
    if (!m_upgradeStarter) {
        m_upgradeStarter = [this](MdiChild& window) { BeginUpgrade(window, *m_selForm); };
    }
}

void MainForm::paintEvent(QPaintEvent* event)
{
    QMainWindow::paintEvent(event);
    if (!m_firstPaintSeen) {
        m_firstPaintSeen = true;
        // Windows are not made inside a paint: open them right after it.
        QMetaObject::invokeMethod(this, &MainForm::firstPaint, Qt::QueuedConnection);
    }
}

void MainForm::firstPaint()
{
    // Ticked machines first, so they connect while the rest of a long list
    // is still being opened; each group in file order.
    m_opening = std::exchange(m_chosen, {});
    std::stable_partition(m_opening.begin(), m_opening.end(),
                          [](const ChosenMachine& machine) { return machine.autoConnect; });
    m_openingTicked = static_cast<size_t>(
        std::count_if(m_opening.begin(), m_opening.end(),
                      [](const ChosenMachine& machine) { return machine.autoConnect; }));
    m_openingNext = 0;
    openListedMachines();
}

void MainForm::openListedMachines()
{
    QElapsedTimer slice;
    slice.start();
    while (!m_appClosing && m_openingNext < m_opening.size()) {
        if (m_openingNext > 0 && slice.elapsed() >= kOpeningSliceMs) {
            // The operator's input goes first; the list goes on right after.
            QMetaObject::invokeMethod(this, &MainForm::openListedMachines, Qt::QueuedConnection);
            return;
        }
        const ChosenMachine& machine = m_opening[m_openingNext++];
        if (machine.open) {
            // Windows of machines not connected are made without their
            // widgets, which come when the window is first shown.
            MdiChild* window = OpenDeviceWindow(machine.address, machine.name, machine.autoConnect);
            m_btnClose->setEnabled(true);
            if (window != nullptr) {
                window->SetAutoConnect(machine.autoConnect);
                if (window->Entry() != nullptr) {
                    m_fleet->SetTicked(window->Entry()->Node(), machine.autoConnect);
                }
            }
        }
        if (m_openingNext == m_openingTicked) {
            connectTickedMachines();
        }
    }
    if (m_openingTicked == 0) {
        connectTickedMachines();
    }
    m_opening.clear();
    m_opening.shrink_to_fit();
}

void MainForm::connectTickedMachines()
{
    if (m_appClosing) {
        return;
    }
    // Each ticked machine is connected from the message loop, once its
    // window is open, in tree order.
    MdiChild* last = nullptr;
    for (MdiChild* window : ChildrenInTreeOrder()) {
        if (window->AutoConnect()) {
            postConnectMessage(window);
            last = window;
        }
    }
    if (last != nullptr) {
        last->ShowAndRaise();
    }
}

void MainForm::postConnectMessage(MdiChild* window)
{
    QMetaObject::invokeMethod(
        this, [this, target = QPointer<MdiChild>(window)] { onConnectMessage(target.data()); },
        Qt::QueuedConnection);
}

void MainForm::onConnectMessage(MdiChild* window)
{
    if (m_appClosing || window == nullptr) {
        return;
    }
    ConnectMachine(window);
}

void MainForm::ConnectMachine(MdiChild* window)
{
    if (window != nullptr) {
        window->ConnectMachine();
    }
}

std::vector<MdiChild*> MainForm::ChildrenInTreeOrder() const
{
    std::vector<MdiChild*> windows;
    for (NodeId node = m_registry->FirstMachineNode(); node != kNoNode;
         node = m_registry->NextMachineNode(node)) {
        if (MdiChild* window = windowOfNode(node)) {
            windows.push_back(window);
        }
    }
    return windows;
}

MdiChild* MainForm::OpenDeviceWindow(const std::string& address, const std::string& name, bool show)
{
    const std::string caption = address + ":" + name;
    if (MachineWindow* existing = m_registry->FindByAddress(caption)) {
        MessageBox::Information(this, FromGbk(DisplayText(caption) + kAlreadyConnected));
        existing->ShowAndRaise();
        return nullptr;
    }
    auto* window = new MdiChild(*this, m_deviceOptions, caption);
    m_registry->AddMachine(window);
    addToFleet(window);
    // An alarm kept from an earlier run marks the node once it is in the tree.
    scheduleAlarmMarks();
    if (show) {
        PlaceDeviceWindow(window);
    }
    return window;
}

void MainForm::PlaceDeviceWindow(MdiChild* window)
{
    if (window == nullptr || window->IsShownInFrame() || window->IsClosing()) {
        return;
    }
    window->BuildWidgets();
    m_mdi->addSubWindow(window);
    m_registry->MarkCurrent(window->Entry());

    SetSwitchDown(false);
    m_btnSwitch->setEnabled(true);
    m_btnClose->setEnabled(true);
    SetRenewUpgradeEnabled(false);
    window->showMaximized();
}

void MainForm::closeEvent(QCloseEvent* event)
{
    if (m_closed) {
        event->accept();
        return;
    }
    const auto answer = MessageBox::Ask(this, LangText(kRowSaveMachines),
                                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                        QMessageBox::Cancel);
    if (answer != QMessageBox::Yes && answer != QMessageBox::No) {
        event->ignore();
        return;
    }
    if (answer == QMessageBox::Yes && !saveMachineList()) {
        event->ignore(); // the operator stays to mend what kept the file from being saved
        return;
    }
    closeAllForExit();
    m_closed = true;
    event->accept();
}

bool MainForm::saveMachineList()
{
    // Read before any window closes: a window's teardown clears its flags.
    std::vector<SettingsMachine> machines;
    for (MdiChild* window : ChildrenInTreeOrder()) {
        // A device watched since its link was lost is still wanted connected.
        machines.push_back({window->Caption(), window->EverConnected() || window->Watching()});
    }
    std::string reason;
    if (WriteSettingsFile(m_settingsPath, machines, m_languageIndex, &reason)) {
        return true;
    }
    // The old file is kept. Exit all the same, or stay?
    const QString text =
        LangText(kRowCannotSave) +
        QString::fromLocal8Bit(std::filesystem::absolute(m_settingsPath).string()) +
        QLatin1Char('\n') + QString::fromLocal8Bit(reason) + LangText(kRowExitWithoutSaving);
    return MessageBox::Ask(this, text, QMessageBox::Ok | QMessageBox::Cancel,
                           QMessageBox::Cancel) == QMessageBox::Ok;
}

void MainForm::closeAllForExit()
{
    m_appClosing = true;
    m_context.pool.SetShuttingDown(true);
    const std::vector<MdiChild*> windows = ChildrenInTreeOrder();
    for (MdiChild* window : windows) {
        window->RequestStop();
        window->FinishWindow();
        delete window;
    }
}

} // namespace vireo::ui
