#include "ui/ClipboardPreviewLayout.h"

#include "ui/TrayPlacement.h"

#include <algorithm>

namespace orvane::ClipboardPreviewLayout {

int screenForPreview(const ScreenLayout& layout, const std::optional<QRect>& rowRect,
                     const std::optional<QPoint>& pointer) {
    if (layout.screens.isEmpty()) {
        return -1;
    }
    // The centre rather than the whole rectangle: a row cut by a screen edge still
    // belongs to the screen that shows most of it.
    if (rowRect && rowRect->isValid()) {
        if (const int index = TrayPlacement::screenContaining(layout, rowRect->center());
            index >= 0) {
            return index;
        }
    }
    if (pointer) {
        if (const int index = TrayPlacement::screenContaining(layout, *pointer); index >= 0) {
            return index;
        }
    }
    return layout.primary >= 0 && layout.primary < layout.screens.size() ? layout.primary : 0;
}

QRect visibleFrameForPreview(const ScreenLayout& layout, const std::optional<QRect>& rowRect,
                             const std::optional<QPoint>& pointer) {
    const int index = screenForPreview(layout, rowRect, pointer);
    if (index < 0) {
        return QRect(QPoint(0, 0), fallbackVisibleSize);
    }
    const ScreenArea& screen = layout.screens[index];
    return screen.available.isValid() ? screen.available : screen.frame;
}

Limits limits(QSize visibleSize) {
    Limits result;
    result.maxPanelWidth = std::max(visibleSize.width() - screenInset, 200);
    result.maxPanelHeight = std::max(visibleSize.height() - screenInset, 160);
    result.maxContentWidth = std::max(result.maxPanelWidth - 28, 160);
    result.maxContentHeight = std::max(result.maxPanelHeight - 28, 120);
    return result;
}

QSize panelSize(QSize requested, const Limits& limits) {
    return {std::min(std::max(requested.width(), minPanelWidth), limits.maxPanelWidth),
            std::min(std::max(requested.height(), minPanelHeight), limits.maxPanelHeight)};
}

QRect centredFrame(const QRect& visibleFrame, QSize panel) {
    const QPoint topLeft(visibleFrame.x() + (visibleFrame.width() - panel.width()) / 2,
                         visibleFrame.y() + (visibleFrame.height() - panel.height()) / 2);
    return {topLeft, panel};
}

int textLayoutWidth(const Limits& limits) {
    return std::max(limits.maxPanelWidth - 24, 80);
}

int textAvailableHeight(const Limits& limits) {
    return std::max(limits.maxPanelHeight - 24, 44);
}

bool textScrolls(int usedHeight, const Limits& limits) {
    return usedHeight > textAvailableHeight(limits) + 1;
}

QSize textPanelSize(QSize usedText, int scrollBarWidth, const Limits& limits) {
    const bool scrolls = textScrolls(usedText.height(), limits);
    const int width = usedText.width() + (scrolls ? scrollBarWidth : 0);
    const int height = std::min(usedText.height(), textAvailableHeight(limits));
    return panelSize(QSize(width + 2 * textPadding, height + 2 * textPadding), limits);
}

bool acceptsContentReport(QSizeF reported) {
    return reported.width() > minContentReport && reported.height() > minContentReport;
}

bool pointerNear(const QRect& panelFrame, QPoint pointer) {
    return panelFrame.adjusted(-2, -2, 2, 2).contains(pointer);
}

} // namespace orvane::ClipboardPreviewLayout
