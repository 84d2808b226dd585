#pragma once

#include "database/program_tree.h"
#include "device/ui/coalesced_post.h"

#include <QHash>
#include <QTreeWidget>
#include <unordered_map>
#include <variant>
#include <vector>

namespace vireo::ui {

// TreeView_TV / TreeView_RADIO: mirrors one ProgramTree of the device window.
// The tree reports its changes from the session thread or the UI thread; the
// reports wait in order and are applied together in one posted call. A node
// changed again before its last change was applied keeps one pending change
// (the newest), so a device that changes a node at any rate never floods the
// UI. The widget's selection and the operator's expansion go back to the
// model; the model's own expansion (the playing program's path) comes here.
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
    void NodeExpanded(TreeNodeId id, bool expanded) override;

    // Reports waiting to be applied.
    size_t PendingReports() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    struct Added
    {
        TreeNode node;
        TreeNodeId parent;
        size_t index;
    };
    struct Removed
    {
        TreeNodeId id;
    };
    struct Changed
    {
        TreeNode node;
    };
    struct Expanded
    {
        TreeNodeId id;
        bool expanded;
    };
    enum class Bracket { Begin, End };
    using Report = std::variant<Bracket, Added, Removed, Changed, Expanded>;
    struct Pending
    {
        std::vector<Report> reports;
        // Node -> position of its change among the reports.
        std::unordered_map<TreeNodeId, size_t> changed;
    };

    void applyReports(Pending& pending);
    void applyAdded(const TreeNode& node, TreeNodeId parent, size_t index);
    void applyRemoved(TreeNodeId id);
    void applyChanged(QTreeWidgetItem* item, const TreeNode& node);
    void forget(QTreeWidgetItem* item);

    ProgramTree& m_model;
    QHash<TreeNodeId, QTreeWidgetItem*> m_items;
    int m_updateDepth = 0;
    CoalescedPost<Pending> m_pending;
};

} // namespace vireo::ui
