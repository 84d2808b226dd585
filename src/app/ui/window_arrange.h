#pragma once

#include <Qt>

class QMdiArea;

namespace vireo::ui {

// The Window menu's arrangements of the document windows that are not
// minimised. Qt::Vertical stacks them top to bottom, each as wide as the
// area ("tile horizontally"); Qt::Horizontal sets them side by side, each as
// tall as the area ("tile vertically").
void TileWindows(QMdiArea* area, Qt::Orientation stacking);
void MinimizeAll(QMdiArea* area);
// Lines the minimised windows up along the bottom of the area.
void ArrangeIcons(QMdiArea* area);

} // namespace vireo::ui
