#include "ui/TrayPlacement.h"

#include "ui/DockLayout.h"

#include <algorithm>

namespace orvane::TrayPlacement {

int screenContaining(const ScreenLayout& layout, QPoint point) {
    for (int i = 0; i < layout.screens.size(); ++i) {
        if (layout.screens[i].frame.contains(point)) {
            return i;
        }
    }
    return -1;
}

QRect frameForIcon(const ScreenLayout& layout, const QRect& iconRect, QSize windowSize) {
    if (!iconRect.isValid()) {
        return DockLayout::frameBesideDock(layout, windowSize, dockMargin);
    }
    const QPoint iconCentre(iconRect.x() + iconRect.width() / 2,
                            iconRect.y() + iconRect.height() / 2);
    const QPoint topLeft(iconCentre.x() - windowSize.width() / 2,
                         iconRect.y() + iconRect.height() + iconGap);
    int index = screenContaining(layout, iconCentre);
    if (index < 0) {
        index = layout.primary >= 0 && layout.primary < layout.screens.size() ? layout.primary : 0;
    }
    if (layout.screens.isEmpty()) {
        return QRect(topLeft, windowSize);
    }
    const QRect& v = layout.screens[index].available;
    return QRect(DockLayout::clamp(topLeft, windowSize, v, screenMargin), windowSize);
}

PanelSide panelSideAt(const ScreenArea& screen, QPoint pointer) {
    const QRect& v = screen.available;
    if (pointer.y() < v.top()) {
        return PanelSide::top;
    }
    if (pointer.y() > v.bottom()) {
        return PanelSide::bottom;
    }
    if (pointer.x() < v.left()) {
        return PanelSide::left;
    }
    if (pointer.x() > v.right()) {
        return PanelSide::right;
    }
    const QRect& f = screen.frame;
    const int distances[] = {pointer.y() - f.top(), f.bottom() - pointer.y(),
                             pointer.x() - f.left(), f.right() - pointer.x()};
    return PanelSide(std::min_element(std::begin(distances), std::end(distances)) - distances);
}

QRect frameNearPointer(const ScreenLayout& layout, QPoint pointer, QSize windowSize) {
    const int w = windowSize.width();
    const int h = windowSize.height();
    if (layout.screens.isEmpty()) {
        return QRect(QPoint(pointer.x() - w / 2, pointer.y() + iconGap), windowSize);
    }
    int index = screenContaining(layout, pointer);
    if (index < 0) {
        index = layout.primary >= 0 && layout.primary < layout.screens.size() ? layout.primary : 0;
    }
    const ScreenArea& screen = layout.screens[index];
    const QRect& v = screen.available;
    // Against the panel. A panel that reserves no strip (as every panel looks to Qt on a
    // desktop of several monitors) leaves the pointer inside the free area: the click was
    // then about the middle of the panel, which thus ends about as far again from the
    // pointer; the window keeps clear of that.
    const auto clearance = [](int pointerToEdge) {
        return std::max(iconGap, pointerToEdge + screenMargin);
    };
    QPoint topLeft;
    switch (panelSideAt(screen, pointer)) {
    case PanelSide::top:
        topLeft = {pointer.x() - w / 2, std::max(v.top() + screenMargin,
                                                 pointer.y() + clearance(pointer.y() - v.top()))};
        break;
    case PanelSide::bottom:
        topLeft = {pointer.x() - w / 2,
                   std::min(v.bottom() + 1 - h - screenMargin,
                            pointer.y() - clearance(v.bottom() + 1 - pointer.y()) - h)};
        break;
    case PanelSide::left:
        topLeft = {
            std::max(v.left() + screenMargin, pointer.x() + clearance(pointer.x() - v.left())),
            pointer.y() - h / 2};
        break;
    case PanelSide::right:
        topLeft = {std::min(v.right() + 1 - w - screenMargin,
                            pointer.x() - clearance(v.right() + 1 - pointer.x()) - w),
                   pointer.y() - h / 2};
        break;
    }
    return QRect(DockLayout::clamp(topLeft, windowSize, v, screenMargin), windowSize);
}

} // namespace orvane::TrayPlacement
