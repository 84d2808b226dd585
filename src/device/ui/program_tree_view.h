#pragma once

#include "database/program_tree.h"

#include <QHash>
#include <QTreeWidget>

namespace vireo::ui {

// TreeView_TV / TreeView_RADIO: mirrors one ProgramTree of the device window.
// The tree reports its changes from the session thread or the UI thread; each
// report is re-posted to this widget in order and applied there. The widget's
// selection goes back to the model, which every command reads.
class ProgramTreeView : public QTreeWidget, public ProgramTreeObserver
{
    Q_OBJECT
public:
    ProgramTreeView(ProgramTree& model, const QString& objectName, QWidget* parent = nullptr);
    ~ProgramTreeView() override;

    static TreeNodeId NodeOf(const QTreeWidgetItem* item);
    QTreeWidgetItem* ItemOf(TreeNodeId id) const;
    ProgramTree& Model() { return m_model; }

    // ProgramTreeObserver
    void BeginUpdate() override;
    void EndUpdate() override;
    void NodeAdded(const TreeNode& node, TreeNodeId parent, size_t index) override;
    void NodeRemoved(TreeNodeId id) override;
    void NodeChanged(const TreeNode& node) override;

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void applyAdded(const TreeNode& node, TreeNodeId parent, size_t index);
    void applyRemoved(TreeNodeId id);
    void applyChanged(QTreeWidgetItem* item, const TreeNode& node);
    void forget(QTreeWidgetItem* item);

    ProgramTree& m_model;
    QHash<TreeNodeId, QTreeWidgetItem*> m_items;
    int m_updateDepth = 0;
};

} // namespace vireo::ui
