#include "device/ui/program_tree_view.h"

#include "ui/gbk_text.h"
#include "ui/icons.h"
#include "ui/state_image_delegate.h"

#include <QMouseEvent>
#include <algorithm>

namespace vireo::ui {

namespace {
constexpr int kNodeRole = Qt::UserRole;
} // namespace

ProgramTreeView::ProgramTreeView(ProgramTree& model, const QString& objectName, QWidget* parent)
    : QTreeWidget(parent), m_model(model),
      m_pending(this, [this](Pending& pending) { applyReports(pending); })
{
    setObjectName(objectName);
    setHeaderHidden(true);
    setColumnCount(1);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setItemDelegate(new StateImageDelegate(this));
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { m_model.SetSelected(NodeOf(current)); });
    // What the operator opens or closes stays so until the model itself opens
    // or closes the node: a node's other changes leave it alone.
    connect(this, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { m_model.NoteExpanded(NodeOf(item), true); });
    connect(this, &QTreeWidget::itemCollapsed, this,
            [this](QTreeWidgetItem* item) { m_model.NoteExpanded(NodeOf(item), false); });

    // Take over whatever the tree already holds, then follow its changes.
    auto lock = m_model.Lock();
    std::vector<TreeNodeId> pending = m_model.Children(kNoTreeNode);
    for (size_t i = 0; i < pending.size(); ++i) {
        const TreeNode node = m_model.Node(pending[i]);
        const auto siblings = m_model.Children(node.parent);
        const size_t index =
            std::find(siblings.begin(), siblings.end(), node.id) - siblings.begin();
        applyAdded(node, node.parent, index);
        const auto children = m_model.Children(node.id);
        pending.insert(pending.end(), children.begin(), children.end());
    }
    m_model.SetObserver(this);
}

ProgramTreeView::~ProgramTreeView()
{
    m_model.SetObserver(nullptr);
}

TreeNodeId ProgramTreeView::NodeOf(const QTreeWidgetItem* item)
{
    return item == nullptr ? kNoTreeNode : item->data(0, kNodeRole).value<quint64>();
}

QTreeWidgetItem* ProgramTreeView::ItemOf(TreeNodeId id) const
{
    return m_items.value(id, nullptr);
}

void ProgramTreeView::BeginUpdate()
{
    m_pending.Update([](Pending& pending) {
        // A bracket that opens right after the last one closed joins it.
        if (!pending.reports.empty()) {
            const auto* last = std::get_if<Bracket>(&pending.reports.back());
            if (last != nullptr && *last == Bracket::End) {
                pending.reports.pop_back();
                return;
            }
        }
        pending.reports.emplace_back(Bracket::Begin);
    });
}

void ProgramTreeView::EndUpdate()
{
    m_pending.Update([](Pending& pending) { pending.reports.emplace_back(Bracket::End); });
}

void ProgramTreeView::NodeAdded(const TreeNode& node, TreeNodeId parent, size_t index)
{
    m_pending.Update([&](Pending& pending) {
        pending.reports.emplace_back(Added{node, parent, index});
    });
}

void ProgramTreeView::NodeRemoved(TreeNodeId id)
{
    m_pending.Update([id](Pending& pending) { pending.reports.emplace_back(Removed{id}); });
}

void ProgramTreeView::NodeChanged(const TreeNode& node)
{
    m_pending.Update([&](Pending& pending) {
        // A change carries the node's whole appearance, so a newer one simply
        // replaces the one still waiting. Ids are never reused, so nothing
        // between the two can stand for another node.
        const auto [it, inserted] = pending.changed.try_emplace(node.id, pending.reports.size());
        if (inserted) {
            pending.reports.emplace_back(Changed{node});
        } else {
            std::get<Changed>(pending.reports[it->second]).node = node;
        }
    });
}

void ProgramTreeView::NodeExpanded(TreeNodeId id, bool expanded)
{
    m_pending.Update([id, expanded](Pending& pending) {
        pending.reports.emplace_back(Expanded{id, expanded});
    });
}

size_t ProgramTreeView::PendingReports() const
{
    return m_pending.Inspect([](const Pending& pending) { return pending.reports.size(); });
}

void ProgramTreeView::applyReports(Pending& pending)
{
    for (Report& report : pending.reports) {
        if (const auto* bracket = std::get_if<Bracket>(&report)) {
            if (*bracket == Bracket::Begin) {
                if (m_updateDepth++ == 0) {
                    setUpdatesEnabled(false);
                }
            } else if (m_updateDepth > 0 && --m_updateDepth == 0) {
                setUpdatesEnabled(true);
            }
        } else if (const auto* added = std::get_if<Added>(&report)) {
            applyAdded(added->node, added->parent, added->index);
        } else if (const auto* removed = std::get_if<Removed>(&report)) {
            applyRemoved(removed->id);
        } else if (const auto* changed = std::get_if<Changed>(&report)) {
            if (QTreeWidgetItem* item = ItemOf(changed->node.id)) {
                applyChanged(item, changed->node);
            }
        } else if (const auto* expanded = std::get_if<Expanded>(&report)) {
            if (QTreeWidgetItem* item = ItemOf(expanded->id)) {
                item->setExpanded(expanded->expanded);
            }
        }
    }
}

void ProgramTreeView::applyAdded(const TreeNode& node, TreeNodeId parent, size_t index)
{
    auto* item = new QTreeWidgetItem;
    item->setData(0, kNodeRole, QVariant::fromValue<quint64>(node.id));
    if (parent == kNoTreeNode) {
        insertTopLevelItem(static_cast<int>(std::min<size_t>(index, topLevelItemCount())), item);
    } else if (QTreeWidgetItem* parentItem = ItemOf(parent)) {
        parentItem->insertChild(static_cast<int>(std::min<size_t>(index, parentItem->childCount())),
                                item);
    } else {
        delete item;
        return;
    }
    m_items.insert(node.id, item);
    applyChanged(item, node);
    if (node.expanded) {
        item->setExpanded(true);
    }
}

void ProgramTreeView::forget(QTreeWidgetItem* item)
{
    m_items.remove(NodeOf(item));
    for (int i = 0; i < item->childCount(); ++i) {
        forget(item->child(i));
    }
}

void ProgramTreeView::applyRemoved(TreeNodeId id)
{
    QTreeWidgetItem* item = ItemOf(id);
    if (item == nullptr) {
        return;
    }
    forget(item);
    delete item; // takes its subtree along
}

void ProgramTreeView::applyChanged(QTreeWidgetItem* item, const TreeNode& node)
{
    item->setText(0, FromGbk(node.text));
    item->setIcon(0, ProgramImage(node.image));
    const QIcon state = ProgramImage(node.stateImage);
    item->setData(0, kStateImageRole, state.isNull() ? QVariant() : QVariant::fromValue(state));
}

void ProgramTreeView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        if (QTreeWidgetItem* item = itemAt(event->position().toPoint())) {
            setCurrentItem(item);
        }
    }
    QTreeWidget::mousePressEvent(event);
}

} // namespace vireo::ui
