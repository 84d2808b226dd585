#include "ui/state_image_delegate.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QStyle>
#include <algorithm>

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
        paintAlarmMark(painter, option, index);
        return;
    }
    const int extent = iconExtent(option);
    const QRect stateRect(option.rect.left(),
                          option.rect.top() + (option.rect.height() - extent) / 2, extent, extent);
    icon.paint(painter, stateRect);
    QStyleOptionViewItem rest(option);
    rest.rect.setLeft(option.rect.left() + extent + kGap);
    QStyledItemDelegate::paint(painter, rest, index);
    paintAlarmMark(painter, rest, index);
}

void StateImageDelegate::paintAlarmMark(QPainter* painter, const QStyleOptionViewItem& option,
                                        const QModelIndex& index)
{
    if (!index.data(kAlarmMarkRole).toBool()) {
        return;
    }
    QStyleOptionViewItem item(option);
    item.features |= QStyleOptionViewItem::HasDecoration;
    item.decorationSize = QSize(iconExtent(option), iconExtent(option));
    const QStyle* style = option.widget != nullptr ? option.widget->style() : QApplication::style();
    const QRect image =
        style->subElementRect(QStyle::SE_ItemViewItemDecoration, &item, option.widget);
    const int size = std::max(8, image.height() * 5 / 8);
    const QRect badge(image.right() - size + 2, image.bottom() - size + 2, size, size);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(Qt::white, 1));
    painter->setBrush(QColor(215, 25, 25));
    painter->drawEllipse(badge);
    QFont font = painter->font();
    font.setBold(true);
    font.setPixelSize(size - 2);
    painter->setFont(font);
    painter->setPen(Qt::white);
    painter->drawText(badge, Qt::AlignCenter, QStringLiteral("!"));
    painter->restore();
}

QSize StateImageDelegate::sizeHint(const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.rwidth() += stateWidth(option, index);
    return size;
}

} // namespace vireo::ui
