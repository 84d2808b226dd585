#pragma once

#include "app/machine_tree.h"

#include <QWidget>
#include <memory>
#include <vector>

class QAction;
class QLineEdit;
class QMenu;
class QSortFilterProxyModel;
class QTableView;
class QToolBar;

namespace vireo {
class FleetModel;
}

namespace vireo::ui {

class FleetTableModel;

// The fleet window: every machine of the registry in a sortable table with a
// filter box. Commands act on the selected rows; the main window carries them
// out (FleetCommand) and shows a device window on a double click.
class FleetWindow : public QWidget
{
    Q_OBJECT
public:
    enum class Command {
        Connect,
        Disconnect,
        Renew,
        QuerySignalOn,
        QuerySignalOff,
        AcknowledgeAlarms
    };

    explicit FleetWindow(std::shared_ptr<FleetModel> model, QWidget* parent = nullptr);

    void ApplyCaptions();
    // The machines of the selected rows, in the order shown.
    std::vector<NodeId> SelectedNodes() const;
    void SelectNodes(const std::vector<NodeId>& nodes);

    FleetTableModel* TableModel() const { return m_model; }
    QSortFilterProxyModel* Proxy() const { return m_proxy; }
    QTableView* Table() const { return m_table; }
    QLineEdit* FilterBox() const { return m_filter; }
    QAction* CommandAction(Command command) const;
    // A command of another feature on the selected rows: on the toolbar and
    // in the context menu, enabled while rows are selected.
    void AddSelectionCommand(QAction* action);

signals:
    void commandRequested(vireo::ui::FleetWindow::Command command,
                          const std::vector<vireo::NodeId>& nodes);
    void deviceActivated(vireo::NodeId node);

private:
    void updateActions();

    FleetTableModel* m_model = nullptr;
    QSortFilterProxyModel* m_proxy = nullptr;
    QTableView* m_table = nullptr;
    QLineEdit* m_filter = nullptr;
    QToolBar* m_toolbar = nullptr;
    QMenu* m_menu = nullptr;
    QAction* m_filterLabel = nullptr;
    std::vector<QAction*> m_actions; // by Command
    std::vector<QAction*> m_extraActions;
};

} // namespace vireo::ui
