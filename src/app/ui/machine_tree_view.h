#pragma once

#include "app/machine_tree.h"
#include "device/ui/coalesced_post.h"

#include <QHash>
#include <QTreeWidget>
#include <variant>
#include <vector>

namespace vireo::ui {

// TreeView_machines: mirrors the registry's machine tree. The registry
// reports each change through MachineTreeObserver on whatever thread made it;
// the reports wait in order and are applied on this widget's thread together,
// in one posted call, with repainting off, so the widget only ever changes on
// the UI thread and a burst (thousands of machines at start-up, a machine's
// state many times a second) costs one update. Of the selections reported
// meanwhile, the last one counts.
class MachineTreeView : public QTreeWidget, public MachineTreeObserver
{
    Q_OBJECT
public:
    explicit MachineTreeView(QWidget* parent = nullptr);

    // The node an item stands for (kNoNode for none).
    static NodeId NodeOf(const QTreeWidgetItem* item);
    QTreeWidgetItem* ItemOf(NodeId id) const;
    NodeId SelectedNode() const;
    // A note shown after the node's text (the model's text is unchanged);
    // empty removes it.
    void SetNodeMark(NodeId id, const QString& mark);
    // A red badge over the node's image: the device has an alarm waiting for
    // the operator.
    void SetNodeAlarm(NodeId id, bool alarm);
    bool NodeAlarm(NodeId id) const;

    // MachineTreeObserver
    void BeginUpdate() override;
    void EndUpdate() override;
    void NodeAdded(const MachineNode& node, NodeId parent, size_t index) override;
    void NodeRemoved(NodeId id) override;
    void NodeChanged(const MachineNode& node) override;
    void ChildrenReordered(NodeId parent, const std::vector<NodeId>& order) override;
    void NodeSelected(NodeId id) override;

signals:
    // The tree took the focus or a mouse button went down on it.
    void touched();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    struct Added
    {
        MachineNode node;
        NodeId parent;
        size_t index;
    };
    struct Removed
    {
        NodeId id;
    };
    struct Changed
    {
        MachineNode node;
    };
    struct Reordered
    {
        NodeId parent;
        std::vector<NodeId> order;
    };
    struct Pending
    {
        std::vector<std::variant<Added, Removed, Changed, Reordered>> reports;
        NodeId selected = kNoNode;
    };

    void applyReports(Pending& pending);
    void applyAdded(const MachineNode& node, NodeId parent, size_t index);
    void applyRemoved(NodeId id);
    void applyChanged(QTreeWidgetItem* item, const MachineNode& node);
    void applyReordered(NodeId parent, const std::vector<NodeId>& order);

    QHash<NodeId, QTreeWidgetItem*> m_items;
    QHash<NodeId, QString> m_marks;
    CoalescedPost<Pending> m_pending;
};

} // namespace vireo::ui
