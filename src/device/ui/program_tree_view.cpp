#include "device/ui/program_tree_view.h"

#include "ui/gbk_text.h"
#include "ui/icons.h"
#include "ui/state_image_delegate.h"

#include <QMouseEvent>
#include <algorithm>

namespace vireo::ui {

namespace {
constexpr int kNodeRole = Qt::UserRole;

template <typename F> void post(QObject* context, F&& apply)
{
    QMetaObject::invokeMethod(context, std::forward<F>(apply), Qt::QueuedConnection);
}
} // namespace

ProgramTreeView::ProgramTreeView(ProgramTree& model, const QString& objectName, QWidget* parent)
    : QTreeWidget(parent), m_model(model)
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
    post(this, [this] {
        if (m_updateDepth++ == 0) {
            setUpdatesEnabled(false);
        }
    });
}

void ProgramTreeView::EndUpdate()
{
    post(this, [this] {
        if (m_updateDepth > 0 && --m_updateDepth == 0) {
            setUpdatesEnabled(true);
        }
    });
}

void ProgramTreeView::NodeAdded(const TreeNode& node, TreeNodeId parent, size_t index)
{
    post(this, [this, node, parent, index] { applyAdded(node, parent, index); });
}

void ProgramTreeView::NodeRemoved(TreeNodeId id)
{
    post(this, [this, id] { applyRemoved(id); });
}

void ProgramTreeView::NodeChanged(const TreeNode& node)
{
    post(this, [this, node] {
        if (QTreeWidgetItem* item = ItemOf(node.id)) {
            applyChanged(item, node);
        }
    });
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
    item->setExpanded(node.expanded);
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
