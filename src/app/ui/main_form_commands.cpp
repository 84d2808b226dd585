// The operator's commands: menus, toolbar and the machine tree's popup.

#include "app/machine_popup.h"
#include "app/ui/about_box.h"
#include "app/ui/machine_tree_view.h"
#include "app/ui/main_form.h"
#include "dialogs/ui/ip_form.h"
#include "ui/gbk_text.h"
#include "ui/icons.h"
#include "ui/message_box.h"

#include <QMenu>
#include <QToolButton>

namespace vireo::ui {

namespace {

void apply(QAction* action, const PopupItemState& state)
{
    action->setVisible(state.visible);
    action->setEnabled(state.enabled);
}

std::string addressPart(const std::string& caption)
{
    return caption.substr(0, caption.find(':'));
}

} // namespace

MdiChild* MainForm::windowOfNode(NodeId node) const
{
    MachineEntry* entry = m_registry->FindByNode(node);
    return entry == nullptr ? nullptr : dynamic_cast<MdiChild*>(entry->Window());
}

MdiChild* MainForm::selectedWindow() const
{
    return windowOfNode(m_tree->SelectedNode());
}

void MainForm::retitle(MdiChild* window, const std::string& caption)
{
    m_registry->RenameMachine(window->Entry(), caption);
    window->SetCaption(caption);
    if (window->Entry() != nullptr) {
        m_fleet->SetCaption(window->Entry()->Node(), caption);
    }
}

void MainForm::DeviceWindowClosing(MdiChild* window)
{
    // Config IP may be open on the window (the window can close from inside
    // the dialog's modal loop): the dialog must not send to it afterwards.
    if (m_ipForm != nullptr && m_ipForm->Device() == window) {
        m_ipForm->reject();
    }
    removeFromFleet(window);
}

// --- File, Help and Config ---

void MainForm::FileNewItemClick()
{
    if (m_windowClosing || m_ipForm == nullptr) {
        return;
    }
    m_ipForm->PrepareIPForm(IPForm::New, nullptr);
    ModalSeam::Exec(m_ipForm);
    std::string address;
    if (m_ipForm->GetIPFormAddress(address)) {
        OpenDeviceWindow(address, m_ipForm->GetIPFormName());
    }
    // A close button with no window to close would do nothing: it is enabled
    // only while a window is open.
    m_btnClose->setEnabled(DocumentWindowCount() > 0);
}

void MainForm::HelpAboutItemClick()
{
    if (m_about != nullptr) {
        ModalSeam::Exec(m_about);
    }
}

void MainForm::MenuHexClick(bool checked)
{
    m_context.hexShowing = checked ? 2 : 1;
}

// --- the machine tree ---

void MainForm::onTreeContextMenu(const QPoint& pos)
{
    if (m_windowClosing) {
        return;
    }
    QTreeWidgetItem* item = m_tree->itemAt(pos);
    if (item == nullptr) {
        return;
    }
    m_tree->setCurrentItem(item);
    PreparePopup(MachineTreeView::NodeOf(item));
    m_popup->popup(m_tree->viewport()->mapToGlobal(pos));
}

void MainForm::PreparePopup(NodeId node)
{
    MachinePopupInput in;
    if (node != kNoNode && node == m_registry->RootNode()) {
        in.node = MachinePopupInput::Node::Root;
    } else if (node != kNoNode) {
        in.node = MachinePopupInput::Node::Machine;
        if (MdiChild* window = windowOfNode(node)) {
            in.hasWindow = true;
            in.everConnected = window->EverConnected();
            in.disconnectRequested = window->DisconnectRequested();
            in.upgradeRunning = window->UpgradeRunning();
            in.dataLoaded = window->DataLoaded();
            in.hasSystemRecord = window->SystemRecord().has_value();
        }
    }
    const MachinePopup popup = ComputeMachinePopup(in);
    apply(m_pNew, popup.newItem);
    apply(m_pShow, popup.show);
    apply(m_pClose, popup.close);
    apply(m_pReconnect, popup.reconnect);
    apply(m_pDisconnect, popup.disconnect);
    apply(m_pUpdate, popup.update);
    apply(m_pConfig, popup.config);
    apply(m_pModify, popup.modify);
    apply(m_pUpgrade, popup.upgrade);
}

void MainForm::onTreeDoubleClick()
{
    const NodeId node = m_tree->SelectedNode();
    if (node != m_registry->RootNode()) {
        m_registry->ShowByNode(node);
    }
}

void MainForm::PMenuShowClick()
{
    m_registry->ShowByNode(m_tree->SelectedNode());
}

void MainForm::PMenuCloseClick()
{
    if (m_windowClosing) {
        return;
    }
    if (IsLastShownWindow(selectedWindow())) {
        ResetToolbar();
    }
    m_registry->CloseByNode(m_tree->SelectedNode());
}

void MainForm::PMenuReconnectClick()
{
    ConnectMachine(selectedWindow());
}

void MainForm::PMenuDisconnectClick()
{
    MdiChild* window = selectedWindow();
    if (window == nullptr) {
        return;
    }
    window->RequestDisconnect();
    if (window == ActiveChild()) {
        SetSwitchDown(false);
    }
}

void MainForm::PMenuUpdateClick()
{
    if (MdiChild* window = selectedWindow()) {
        window->RefreshIrd();
    }
}

void MainForm::PMenuUpgradeClick()
{
    MdiChild* window = selectedWindow();
    if (window != nullptr && m_upgradeStarter) {
        m_upgradeStarter(*window);
    }
}

void MainForm::PMenuConfigClick()
{
    const NodeId node = m_tree->SelectedNode();
    MdiChild* window = windowOfNode(node);
    if (window == nullptr || m_ipForm == nullptr) {
        return;
    }
    m_ipForm->PrepareIPForm(IPForm::Config, window);
    ModalSeam::Exec(m_ipForm);
    std::string ignored;
    // The window may have gone while the dialog was open.
    window = windowOfNode(node);
    if (!m_ipForm->GetIPFormAddress(ignored) || window == nullptr) {
        return;
    }
    // The address changes only when the device reports it has taken it.
    retitle(window, addressPart(window->Caption()) + ":" + m_ipForm->GetIPFormName());
}

void MainForm::PMenuModifyClick()
{
    const NodeId node = m_tree->SelectedNode();
    MdiChild* window = windowOfNode(node);
    if (window == nullptr || m_ipForm == nullptr) {
        return;
    }
    m_ipForm->PrepareIPForm(IPForm::Modify, window);
    ModalSeam::Exec(m_ipForm);
    std::string address;
    window = windowOfNode(node);
    if (!m_ipForm->GetIPFormAddress(address) || window == nullptr) {
        return;
    }
    const std::string caption = address + ":" + m_ipForm->GetIPFormName();
    MachineWindow* holder = m_registry->FindByAddress(caption);
    if (holder != nullptr && holder != window) {
        MessageBox::Information(this, FromGbk(address + kAlreadyConnected));
        holder->ShowAndRaise();
        return;
    }
    // The next connect reads the new address from the caption.
    retitle(window, caption);
}

// --- the toolbar ---

void MainForm::TBtnCloseClick()
{
    if (m_windowClosing) {
        return;
    }
    MdiChild* window = ActiveChild();
    if (window == nullptr) {
        return;
    }
    if (IsLastShownWindow(window)) {
        ResetToolbar();
    }
    window->RequestStop();
    window->close();
}

void MainForm::TBtnSwitchClick(bool down)
{
    MdiChild* window = ActiveChild();
    if (window == nullptr) {
        SetSwitchDown(false);
        return;
    }
    if (window->IsConnecting()) {
        // A connect step under way ends by itself within a few seconds; the
        // switch stays down until it does.
        SetSwitchDown(true);
        return;
    }
    SetSwitchDown(down);
    if (down) {
        window->ConnectFromSwitch();
    } else {
        window->RequestDisconnect();
    }
}

void MainForm::TBtnRenewClick()
{
    if (MdiChild* window = ActiveChild()) {
        window->RefreshIrd();
    }
}

void MainForm::TBtnUpgradeClick()
{
    MdiChild* window = ActiveChild();
    if (window != nullptr && m_upgradeStarter) {
        m_upgradeStarter(*window);
    }
}

} // namespace vireo::ui
