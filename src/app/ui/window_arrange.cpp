#include "app/ui/window_arrange.h"

#include <QMdiArea>
#include <QMdiSubWindow>

namespace vireo::ui {

namespace {
QList<QMdiSubWindow*> visibleWindows(QMdiArea* area, bool minimized)
{
    QList<QMdiSubWindow*> windows;
    for (QMdiSubWindow* window : area->subWindowList(QMdiArea::CreationOrder)) {
        if (window->isVisible() && window->isMinimized() == minimized) {
            windows.append(window);
        }
    }
    return windows;
}
} // namespace

void TileWindows(QMdiArea* area, Qt::Orientation stacking)
{
    const QList<QMdiSubWindow*> windows = visibleWindows(area, false);
    if (windows.isEmpty()) {
        return;
    }
    const QRect bounds = area->viewport()->rect();
    const int count = static_cast<int>(windows.size());
    for (int i = 0; i < count; ++i) {
        QMdiSubWindow* window = windows[i];
        if (window->isMaximized()) {
            window->showNormal();
        }
        QRect cell;
        if (stacking == Qt::Vertical) {
            const int top = bounds.height() * i / count;
            const int bottom = bounds.height() * (i + 1) / count;
            cell = QRect(0, top, bounds.width(), bottom - top);
        } else {
            const int left = bounds.width() * i / count;
            const int right = bounds.width() * (i + 1) / count;
            cell = QRect(left, 0, right - left, bounds.height());
        }
        window->setGeometry(cell);
    }
}

void MinimizeAll(QMdiArea* area)
{
    for (QMdiSubWindow* window : area->subWindowList()) {
        window->showMinimized();
    }
}

void ArrangeIcons(QMdiArea* area)
{
    const QRect bounds = area->viewport()->rect();
    int x = 0;
    int rowTop = -1;
    for (QMdiSubWindow* icon : visibleWindows(area, true)) {
        const QSize size = icon->size();
        if (rowTop < 0) {
            rowTop = bounds.height() - size.height();
        }
        if (x > 0 && x + size.width() > bounds.width()) {
            x = 0;
            rowTop -= size.height();
        }
        icon->move(x, rowTop);
        x += size.width();
    }
}

} // namespace vireo::ui
