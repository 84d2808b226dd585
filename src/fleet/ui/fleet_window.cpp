#include "fleet/ui/fleet_window.h"

#include "fleet/fleet_texts.h"
#include "fleet/ui/fleet_table_model.h"
#include "ui/gbk_text.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>

namespace vireo::ui {

namespace {

constexpr int kCommandRows[] = {fleet_text::Connect,        fleet_text::Disconnect,
                                fleet_text::Renew,          fleet_text::QuerySignalOn,
                                fleet_text::QuerySignalOff, fleet_text::AcknowledgeAlarms};

} // namespace

FleetWindow::FleetWindow(std::shared_ptr<FleetModel> model, QWidget* parent) : QWidget(parent)
{
    setObjectName("FleetWindow");
    m_model = new FleetTableModel(std::move(model), this);
    m_proxy = new QSortFilterProxyModel(this);
    m_proxy->setSourceModel(m_model);
    m_proxy->setSortRole(FleetTableModel::SortRole);
    m_proxy->setFilterKeyColumn(-1);
    m_proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    // Rows whose values change while sorted move to their place at once.
    m_proxy->setDynamicSortFilter(true);

    m_toolbar = new QToolBar(this);
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_menu = new QMenu(this);
    for (size_t i = 0; i < std::size(kCommandRows); ++i) {
        auto* action = new QAction(this);
        const auto command = static_cast<Command>(i);
        connect(action, &QAction::triggered, this, [this, command] {
            const std::vector<NodeId> nodes = SelectedNodes();
            if (!nodes.empty()) {
                emit commandRequested(command, nodes);
            }
        });
        m_actions.push_back(action);
        m_toolbar->addAction(action);
        m_menu->addAction(action);
        if (command == Command::Renew || command == Command::QuerySignalOff) {
            m_toolbar->addSeparator();
            m_menu->addSeparator();
        }
    }
    m_toolbar->addSeparator();
    m_filter = new QLineEdit(this);
    m_filter->setObjectName("FleetFilter");
    m_filter->setClearButtonEnabled(true);
    m_filter->setMaximumWidth(260);
    m_filterLabel = m_toolbar->addWidget(new QLabel(this));
    m_toolbar->addWidget(m_filter);
    connect(m_filter, &QLineEdit::textChanged, m_proxy,
            &QSortFilterProxyModel::setFilterFixedString);
    // Return takes the rows the filter leaves, ready for a command.
    connect(m_filter, &QLineEdit::returnPressed, this, [this] {
        m_table->setFocus(Qt::OtherFocusReason);
        m_table->selectAll();
    });

    m_table = new QTableView(this);
    m_table->setObjectName("FleetTable");
    m_table->setModel(m_proxy);
    m_table->setSortingEnabled(true);
    m_table->sortByColumn(FleetTableModel::ColDevice, Qt::AscendingOrder);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    const int w = m_table->fontMetrics().averageCharWidth();
    const int widths[FleetTableModel::ColumnCount] = {26, 9,  26, 9,  11, 10, 22,
                                                      9,  11, 19, 13, 9,  40};
    for (int c = 0; c < FleetTableModel::ColumnCount; ++c) {
        m_table->setColumnWidth(c, widths[c] * w);
    }
    connect(m_table, &QTableView::customContextMenuRequested, this, [this](const QPoint& pos) {
        // From the keyboard the menu may be asked for anywhere in the table.
        if (!m_table->indexAt(pos).isValid() && !m_table->selectionModel()->hasSelection()) {
            return;
        }
        updateActions();
        m_menu->popup(m_table->viewport()->mapToGlobal(pos));
    });
    connect(m_table, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        const QModelIndex source = m_proxy->mapToSource(index);
        const NodeId node = m_model->NodeAt(source.row());
        if (node != kNoNode) {
            emit deviceActivated(node);
        }
    });
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &FleetWindow::updateActions);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_toolbar);
    layout->addWidget(m_table);
    ApplyCaptions();
    updateActions();
}

void FleetWindow::ApplyCaptions()
{
    setWindowTitle(LangText(fleet_text::Fleet));
    for (size_t i = 0; i < m_actions.size(); ++i) {
        m_actions[i]->setText(LangText(kCommandRows[i]));
    }
    if (auto* label = qobject_cast<QLabel*>(m_toolbar->widgetForAction(m_filterLabel))) {
        label->setText(LangText(fleet_text::Filter) + QLatin1Char(' '));
    }
    m_model->RetranslateHeaders();
}

QAction* FleetWindow::CommandAction(Command command) const
{
    return m_actions[static_cast<size_t>(command)];
}

std::vector<NodeId> FleetWindow::SelectedNodes() const
{
    QModelIndexList rows = m_table->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<NodeId> nodes;
    for (const QModelIndex& index : rows) {
        const NodeId node = m_model->NodeAt(m_proxy->mapToSource(index).row());
        if (node != kNoNode) {
            nodes.push_back(node);
        }
    }
    return nodes;
}

void FleetWindow::SelectNodes(const std::vector<NodeId>& nodes)
{
    QItemSelection selection;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (std::find(nodes.begin(), nodes.end(), m_model->NodeAt(row)) != nodes.end()) {
            const QModelIndex at = m_proxy->mapFromSource(m_model->index(row, 0));
            if (at.isValid()) {
                selection.select(at, at);
            }
        }
    }
    m_table->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect |
                                                     QItemSelectionModel::Rows);
}

void FleetWindow::AddSelectionCommand(QAction* action)
{
    m_toolbar->insertAction(m_filterLabel, action);
    m_toolbar->insertSeparator(m_filterLabel);
    m_menu->addSeparator();
    m_menu->addAction(action);
    m_extraActions.push_back(action);
    updateActions();
}

void FleetWindow::updateActions()
{
    const bool any = m_table->selectionModel()->hasSelection();
    for (QAction* action : m_actions) {
        action->setEnabled(any);
    }
    for (QAction* action : m_extraActions) {
        action->setEnabled(any);
    }
}

} // namespace vireo::ui
