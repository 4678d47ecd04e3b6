#include "ui/DockLayout.h"

#include <algorithm>

namespace orvane::DockLayout {

namespace {

int leftGap(const ScreenArea& s) {
    return s.available.left() - s.frame.left();
}

int rightGap(const ScreenArea& s) {
    return (s.frame.x() + s.frame.width()) - (s.available.x() + s.available.width());
}

int bottomGap(const ScreenArea& s) {
    return (s.frame.y() + s.frame.height()) - (s.available.y() + s.available.height());
}

} // namespace

std::optional<int> screenHostingDock(const ScreenLayout& layout) {
    const auto count = layout.screens.size();
    if (count == 0) {
        return std::nullopt;
    }
    if (count == 1) {
        return 0;
    }
    int best = 0;
    int bestGap = -1;
    for (int i = 0; i < count; ++i) {
        const ScreenArea& s = layout.screens[i];
        const int gap = std::max({leftGap(s), rightGap(s), bottomGap(s)});
        if (gap > bestGap) {
            best = i;
            bestGap = gap;
        }
    }
    return best;
}

Edge edge(const ScreenArea& screen) {
    const int left = leftGap(screen);
    const int right = rightGap(screen);
    const int bottom = bottomGap(screen);
    if (left > right && left > bottom) {
        return Edge::left;
    }
    if (right > left && right > bottom) {
        return Edge::right;
    }
    return Edge::bottom;
}

QPoint clamp(QPoint topLeft, QSize windowSize, const QRect& area, int margin) {
    // A window that fits the area but not with the margin on both sides (one that took
    // the whole free height of a small screen) gets what margin there is, split evenly,
    // and so stays whole inside the area.
    const auto axisMargin = [margin](int areaSize, int size) {
        const int spare = areaSize - size;
        return spare >= 0 && spare < 2 * margin ? spare / 2 : margin;
    };
    const int marginX = axisMargin(area.width(), windowSize.width());
    const int marginY = axisMargin(area.height(), windowSize.height());
    const int minX = area.x() + marginX;
    const int minY = area.y() + marginY;
    const int maxX = std::max(minX, area.x() + area.width() - windowSize.width() - marginX);
    const int maxY = std::max(minY, area.y() + area.height() - windowSize.height() - marginY);
    return {std::min(std::max(topLeft.x(), minX), maxX),
            std::min(std::max(topLeft.y(), minY), maxY)};
}

QRect frameBesideDock(const ScreenLayout& layout, QSize windowSize, int margin) {
    const auto index = screenHostingDock(layout);
    if (!index) {
        return QRect(QPoint(0, 0), windowSize);
    }
    const ScreenArea& screen = layout.screens[*index];
    const QRect& v = screen.available;
    const int w = windowSize.width();
    const int h = windowSize.height();
    const int midX = v.x() + v.width() / 2;
    const int midY = v.y() + v.height() / 2;
    QPoint topLeft;
    switch (edge(screen)) {
    case Edge::left:
        topLeft = {v.x() + margin, midY - h / 2};
        break;
    case Edge::right:
        topLeft = {v.x() + v.width() - w - margin, midY - h / 2};
        break;
    case Edge::bottom:
        topLeft = {midX - w / 2, v.y() + v.height() - h - margin};
        break;
    }
    return QRect(clamp(topLeft, windowSize, v, margin), windowSize);
}

} // namespace orvane::DockLayout
