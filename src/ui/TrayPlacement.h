#pragma once

#include "ui/ScreenArea.h"

#include <QRect>
#include <QSize>

namespace orvane {

// Where the window goes when it is opened from the tray icon.
namespace TrayPlacement {

constexpr int iconGap = 6;      // between the icon and the window
constexpr int screenMargin = 8; // kept free to the available area's edges
constexpr int dockMargin = 12;  // beside the panel when the icon's position is unknown

// The first screen whose geometry contains the point; -1 when none does.
int screenContaining(const ScreenLayout& layout, QPoint point);

// Centred below the icon and clamped into the available area of the icon's screen
// (else the primary, else the first screen; with no screen the unclamped position).
// An icon in a bottom panel thus gets the window just above that panel. An empty
// iconRect (the tray host does not tell) places the window beside the desktop's panel.
QRect frameForIcon(const ScreenLayout& layout, const QRect& iconRect, QSize windowSize);

} // namespace TrayPlacement

} // namespace orvane
