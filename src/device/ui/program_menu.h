#pragma once

#include <QObject>
#include <QPoint>
#include <functional>
#include <memory>

class QAction;
class QMenu;

namespace vireo {
class DatabaseContent;
class ProgramCommands;
} // namespace vireo

namespace vireo::ui {

class ProgramTreeView;
class ProgramsPage;

// PMenu_child_prog on both program trees: which items a node offers (worked
// out by the core) and what each item does.
class ProgramMenuController : public QObject
{
    Q_OBJECT
public:
    // `usable` tells whether the window may offer commands now (not closing,
    // a device link exists).
    ProgramMenuController(ProgramsPage& page, DatabaseContent& content,
                          std::function<bool()> usable, QWidget* dialogParent);
    ~ProgramMenuController() override;

    // Hides every item and fits the menu to the node selected in the tree;
    // false when the menu has nothing to show for it.
    bool Prepare(bool radioTree);
    // Prepares and shows the menu at `globalPos`.
    void Open(bool radioTree, const QPoint& globalPos);
    bool PopupTreeIsRadio() const { return m_radio; }

private:
    void hideAll();
    QAction* action(const char* name) const;
    void connectActions();
    bool confirm(const std::string& question);

    ProgramsPage& m_page;
    DatabaseContent& m_content;
    std::function<bool()> m_usable;
    QWidget* m_dialogParent;
    std::unique_ptr<ProgramCommands> m_commands;
    bool m_radio = false;
};

} // namespace vireo::ui
