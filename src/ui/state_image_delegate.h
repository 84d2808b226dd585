#pragma once

#include <QStyledItemDelegate>

namespace vireo::ui {

// Item data role holding a node's state image (a QIcon). Tree views draw it
// to the left of the node image, as the classic tree control does.
inline constexpr int kStateImageRole = Qt::UserRole + 10;
// Item data role that, when true, marks the node with a red alarm badge over
// the corner of its node image.
inline constexpr int kAlarmMarkRole = Qt::UserRole + 11;

class StateImageDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    static void paintAlarmMark(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index);
    static int stateWidth(const QStyleOptionViewItem& option, const QModelIndex& index);
};

} // namespace vireo::ui
