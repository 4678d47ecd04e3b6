#pragma once

#include "ui/ScreenArea.h"

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QSizeF>

#include <optional>

namespace orvane {

// Where the hover preview goes and how large it may grow, as plain arithmetic over
// screen rectangles so that every rule is checked without a display.
namespace ClipboardPreviewLayout {

constexpr int minPanelWidth = 160;
constexpr int minPanelHeight = 80;
// Kept free between the panel and the edges of the screen's free area (both sides).
constexpr int screenInset = 48;
// The text sits this far inside the panel on every side.
constexpr int textPadding = 10;
// Reports of a content size this small or smaller come from a layout still settling.
constexpr int minContentReport = 40;
// Assumed when the desktop reports no screen at all.
constexpr QSize fallbackVisibleSize{1280, 800};

struct Limits {
    int maxPanelWidth = 0;
    int maxPanelHeight = 0;
    int maxContentWidth = 0;
    int maxContentHeight = 0;

    QSize maxPanel() const { return {maxPanelWidth, maxPanelHeight}; }
    QSize maxContent() const { return {maxContentWidth, maxContentHeight}; }
    friend bool operator==(const Limits&, const Limits&) = default;
};

// The screen holding the centre of the entry's row; else the one under the pointer; else
// the primary (else the first). -1 only when there is no screen.
int screenForPreview(const ScreenLayout& layout, const std::optional<QRect>& rowRect,
                     const std::optional<QPoint>& pointer);

// The free area of that screen, or fallbackVisibleSize at the origin without screens.
QRect visibleFrameForPreview(const ScreenLayout& layout, const std::optional<QRect>& rowRect,
                             const std::optional<QPoint>& pointer);

Limits limits(QSize visibleSize);

// The requested size raised to the minima and cut to the panel limits.
QSize panelSize(QSize requested, const Limits& limits);

// Centred in the free area (the panel never exceeds it, see limits()).
QRect centredFrame(const QRect& visibleFrame, QSize panel);

// Text is laid out this wide, and scrolls once it is taller than textAvailableHeight.
int textLayoutWidth(const Limits& limits);
int textAvailableHeight(const Limits& limits);
bool textScrolls(int usedHeight, const Limits& limits);

// The panel for text of this laid-out size: the visible part of the text (plus the
// scroll bar when it scrolls) with the padding around it, within the limits.
QSize textPanelSize(QSize usedText, int scrollBarWidth, const Limits& limits);

// Whether a size reported by the content is to be taken.
bool acceptsContentReport(QSizeF reported);

// The pointer counts as inside within 2 pixels around the panel.
bool pointerNear(const QRect& panelFrame, QPoint pointer);

} // namespace ClipboardPreviewLayout

} // namespace orvane
