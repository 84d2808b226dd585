#include "ui/state_image_delegate.h"

#include <QIcon>
#include <QPainter>

namespace vireo::ui {

namespace {
constexpr int kGap = 2;

QIcon stateIcon(const QModelIndex& index)
{
    return index.data(kStateImageRole).value<QIcon>();
}

int iconExtent(const QStyleOptionViewItem& option)
{
    return option.decorationSize.isValid() ? option.decorationSize.height() : 16;
}
} // namespace

int StateImageDelegate::stateWidth(const QStyleOptionViewItem& option, const QModelIndex& index)
{
    return stateIcon(index).isNull() ? 0 : iconExtent(option) + kGap;
}

void StateImageDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const
{
    const QIcon icon = stateIcon(index);
    if (icon.isNull()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const int extent = iconExtent(option);
    const QRect stateRect(option.rect.left(),
                          option.rect.top() + (option.rect.height() - extent) / 2, extent, extent);
    icon.paint(painter, stateRect);
    QStyleOptionViewItem rest(option);
    rest.rect.setLeft(option.rect.left() + extent + kGap);
    QStyledItemDelegate::paint(painter, rest, index);
}

QSize StateImageDelegate::sizeHint(const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.rwidth() += stateWidth(option, index);
    return size;
}

} // namespace vireo::ui
