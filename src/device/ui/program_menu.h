#pragma once

#include <QDialog>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <functional>
#include <memory>

class QAction;
class QMenu;

namespace vireo {
class DatabaseContent;
class ProgramCommands;
} // namespace vireo

namespace vireo::ui {

class DeviceHost;
class ProgramTreeView;
class ProgramsPage;

// PMenu_child_prog on both program trees: which items a node offers (worked
// out by the core) and what each item does.
class ProgramMenuController : public QObject
{
    Q_OBJECT
public:
    // `usable` tells whether the window may offer commands now (not closing,
    // a device link exists). The satellite and transponder dialogs are the
    // main window's (`host`); questions are asked over `dialogParent`.
    ProgramMenuController(ProgramsPage& page, DatabaseContent& content, DeviceHost& host,
                          std::function<bool()> usable, QWidget* dialogParent);
    ~ProgramMenuController() override;

    // Hides every item and fits the menu to the node selected in the tree;
    // false when the menu has nothing to show for it.
    bool Prepare(bool radioTree);
    // Prepares and shows the menu at `globalPos`.
    void Open(bool radioTree, const QPoint& globalPos);
    bool PopupTreeIsRadio() const { return m_radio; }
    // The window is closing: a satellite or transponder dialog open for it
    // ends as if cancelled, so it never sends to a session that is going.
    void CancelDialogs();

private:
    void hideAll();
    QAction* action(const char* name) const;
    void connectActions();
    bool confirm(const std::string& question);
    // Runs a dialog of the main window for this window. The window (and this
    // controller) may be gone when it returns.
    void runDialog(QDialog* dialog, const std::function<void()>& run);

    ProgramsPage& m_page;
    DatabaseContent& m_content;
    DeviceHost& m_host;
    std::function<bool()> m_usable;
    QWidget* m_dialogParent;
    std::unique_ptr<ProgramCommands> m_commands;
    bool m_radio = false;
    QPointer<QDialog> m_openDialog;
};

} // namespace vireo::ui
