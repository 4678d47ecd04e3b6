#include "ui/TrayPlacement.h"

#include "ui/DockLayout.h"

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

} // namespace orvane::TrayPlacement
