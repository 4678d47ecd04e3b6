#pragma once

#include "ui/ScreenArea.h"

#include <QRect>
#include <QSize>

#include <optional>

namespace orvane {

// Where the window goes when the tray icon's position is unknown: beside the desktop's
// panel, found as the widest gap between a screen's geometry and its available
// geometry. Pure arithmetic in screen coordinates (y grows downwards).
namespace DockLayout {

enum class Edge { bottom, left, right };

// The screen that hosts the panel: none without screens, the only one of one; otherwise
// the screen with the widest left, right or bottom gap, the first on a tie. A top bar
// is not counted, so a desktop with only a top bar counts as "bottom".
std::optional<int> screenHostingDock(const ScreenLayout& layout);

// Left when the left gap is wider than both others, right when the right gap is, else bottom.
Edge edge(const ScreenArea& screen);

// Keeps (x, y) of a window of this size at least margin inside the area; a window that
// fits only with less margin gets half of what is left on each side; when the window is
// larger than the area its top-left corner stays at the margin.
QPoint clamp(QPoint topLeft, QSize windowSize, const QRect& area, int margin);

// The window's frame beside the panel of screenHostingDock(), clamped to its available
// area; with no screen at all a frame at the origin.
QRect frameBesideDock(const ScreenLayout& layout, QSize windowSize, int margin);

} // namespace DockLayout

} // namespace orvane
