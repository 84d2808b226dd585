#include "app/ui/machine_tree_view.h"

#include "ui/gbk_text.h"
#include "ui/icons.h"
#include "ui/state_image_delegate.h"

#include <QMouseEvent>

namespace vireo::ui {

namespace {
constexpr int kNodeRole = Qt::UserRole;
constexpr int kModelTextRole = Qt::UserRole + 1; // the text without its mark
constexpr int kIndentation = 10;
} // namespace

MachineTreeView::MachineTreeView(QWidget* parent)
    : QTreeWidget(parent), m_pending(this, [this](Pending& pending) { applyReports(pending); })
{
    setObjectName(QStringLiteral("TreeView_machines"));
    setHeaderHidden(true);
    setColumnCount(1);
    setIndentation(kIndentation);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setItemDelegate(new StateImageDelegate(this));
}

NodeId MachineTreeView::NodeOf(const QTreeWidgetItem* item)
{
    return item == nullptr ? kNoNode : item->data(0, kNodeRole).value<quint64>();
}

QTreeWidgetItem* MachineTreeView::ItemOf(NodeId id) const
{
    return m_items.value(id, nullptr);
}

NodeId MachineTreeView::SelectedNode() const
{
    return NodeOf(currentItem());
}

void MachineTreeView::SetNodeMark(NodeId id, const QString& mark)
{
    if (mark.isEmpty()) {
        m_marks.remove(id);
    } else {
        m_marks.insert(id, mark);
    }
    if (QTreeWidgetItem* item = ItemOf(id)) {
        item->setText(0, item->data(0, kModelTextRole).toString() + mark);
    }
}

void MachineTreeView::SetNodeAlarm(NodeId id, bool alarm)
{
    if (QTreeWidgetItem* item = ItemOf(id)) {
        item->setData(0, kAlarmMarkRole, alarm ? QVariant(true) : QVariant());
    }
}

bool MachineTreeView::NodeAlarm(NodeId id) const
{
    const QTreeWidgetItem* item = ItemOf(id);
    return item != nullptr && item->data(0, kAlarmMarkRole).toBool();
}

void MachineTreeView::BeginUpdate()
{
    // Every batch is applied with repainting off (applyReports).
}

void MachineTreeView::EndUpdate() {}

void MachineTreeView::NodeAdded(const MachineNode& node, NodeId parent, size_t index)
{
    m_pending.Update([&](Pending& p) { p.reports.emplace_back(Added{node, parent, index}); });
}

void MachineTreeView::NodeRemoved(NodeId id)
{
    m_pending.Update([id](Pending& p) { p.reports.emplace_back(Removed{id}); });
}

void MachineTreeView::NodeChanged(const MachineNode& node)
{
    m_pending.Update([&](Pending& p) { p.reports.emplace_back(Changed{node}); });
}

void MachineTreeView::ChildrenReordered(NodeId parent, const std::vector<NodeId>& order)
{
    m_pending.Update([&](Pending& p) { p.reports.emplace_back(Reordered{parent, order}); });
}

void MachineTreeView::NodeSelected(NodeId id)
{
    m_pending.Update([id](Pending& p) { p.selected = id; });
}

void MachineTreeView::applyReports(Pending& pending)
{
    const bool wasEnabled = updatesEnabled();
    setUpdatesEnabled(false);
    for (const auto& report : pending.reports) {
        if (const auto* added = std::get_if<Added>(&report)) {
            applyAdded(added->node, added->parent, added->index);
        } else if (const auto* removed = std::get_if<Removed>(&report)) {
            applyRemoved(removed->id);
        } else if (const auto* changed = std::get_if<Changed>(&report)) {
            if (QTreeWidgetItem* item = ItemOf(changed->node.id)) {
                applyChanged(item, changed->node);
            }
        } else if (const auto* reordered = std::get_if<Reordered>(&report)) {
            applyReordered(reordered->parent, reordered->order);
        }
    }
    if (pending.selected != kNoNode) {
        if (QTreeWidgetItem* item = ItemOf(pending.selected)) {
            setCurrentItem(item);
        }
    }
    setUpdatesEnabled(wasEnabled);
}

void MachineTreeView::applyAdded(const MachineNode& node, NodeId parent, size_t index)
{
    auto* item = new QTreeWidgetItem;
    item->setData(0, kNodeRole, QVariant::fromValue<quint64>(node.id));
    applyChanged(item, node);
    if (parent == kNoNode) {
        insertTopLevelItem(static_cast<int>(std::min<size_t>(index, topLevelItemCount())), item);
    } else if (QTreeWidgetItem* parentItem = ItemOf(parent)) {
        parentItem->insertChild(static_cast<int>(std::min<size_t>(index, parentItem->childCount())),
                                item);
        if (!parentItem->isExpanded()) {
            parentItem->setExpanded(true);
        }
    } else {
        delete item;
        return;
    }
    m_items.insert(node.id, item);
}

void MachineTreeView::applyRemoved(NodeId id)
{
    QTreeWidgetItem* item = m_items.take(id);
    m_marks.remove(id);
    if (item == nullptr) {
        return;
    }
    // Machine nodes have no children; the root is never removed. Forget any
    // children all the same, so no stale pointer stays behind.
    for (int i = 0; i < item->childCount(); ++i) {
        m_items.remove(NodeOf(item->child(i)));
    }
    delete item;
}

void MachineTreeView::applyChanged(QTreeWidgetItem* item, const MachineNode& node)
{
    const QString text = FromGbk(node.text);
    item->setData(0, kModelTextRole, text);
    item->setText(0, text + m_marks.value(node.id));
    item->setIcon(0, MachineImage(node.image));
    const QIcon state = MachineImage(node.stateImage);
    item->setData(0, kStateImageRole, state.isNull() ? QVariant() : QVariant::fromValue(state));
}

void MachineTreeView::applyReordered(NodeId parent, const std::vector<NodeId>& order)
{
    QTreeWidgetItem* parentItem = ItemOf(parent);
    if (parentItem == nullptr) {
        return;
    }
    QTreeWidgetItem* current = currentItem();
    const bool signalsWereBlocked = blockSignals(true);
    const QList<QTreeWidgetItem*> children = parentItem->takeChildren();
    QList<QTreeWidgetItem*> sorted;
    for (const NodeId id : order) {
        if (QTreeWidgetItem* item = ItemOf(id); item != nullptr && children.contains(item)) {
            sorted.append(item);
        }
    }
    // Anything the order does not name keeps its place after the rest.
    for (QTreeWidgetItem* item : children) {
        if (!sorted.contains(item)) {
            sorted.append(item);
        }
    }
    parentItem->addChildren(sorted);
    if (current != nullptr) {
        setCurrentItem(current);
    }
    blockSignals(signalsWereBlocked);
}

void MachineTreeView::focusInEvent(QFocusEvent* event)
{
    QTreeWidget::focusInEvent(event);
    emit touched();
}

void MachineTreeView::mousePressEvent(QMouseEvent* event)
{
    // A right click selects the node under the mouse, as a left click does.
    if (event->button() == Qt::RightButton) {
        if (QTreeWidgetItem* item = itemAt(event->position().toPoint())) {
            setCurrentItem(item);
        }
    }
    QTreeWidget::mousePressEvent(event);
    emit touched();
}

} // namespace vireo::ui
