#pragma once

#include <QStyledItemDelegate>

namespace vireo::ui {

// Item data role holding a node's state image (a QIcon). Tree views draw it
// to the left of the node image, as the classic tree control does.
inline constexpr int kStateImageRole = Qt::UserRole + 10;

class StateImageDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    static int stateWidth(const QStyleOptionViewItem& option, const QModelIndex& index);
};

} // namespace vireo::ui
