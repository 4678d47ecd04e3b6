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

enum class PanelSide { top, bottom, left, right };

// The first screen whose geometry contains the point; -1 when none does.
int screenContaining(const ScreenLayout& layout, QPoint point);

// Centred below the icon and clamped into the available area of the icon's screen
// (else the primary, else the first screen; with no screen the unclamped position).
// An icon in a bottom panel thus gets the window just above that panel. An empty
// iconRect (the tray host does not tell) places the window beside the desktop's panel.
QRect frameForIcon(const ScreenLayout& layout, const QRect& iconRect, QSize windowSize);

// The screen side whose panel the pointer is on: the reserved strip (between the screen's
// geometry and its available area) that holds the pointer, top and bottom before left and
// right in a corner; with the pointer in the free area (a panel that reserves nothing) the
// nearest side, the same order on a tie.
PanelSide panelSideAt(const ScreenArea& screen, QPoint pointer);

// For a tray host that does not tell where its icon is: the user clicked it, so the
// pointer is on it. The window goes against that panel's side of the pointer's screen
// (else the primary, else the first), centred on the pointer along the panel and clamped
// into the available area. Where no strip is reserved, the window starts as far beyond
// the pointer as the pointer is from the screen's edge, plus the margin. With no screen
// at all: just below and centred on the pointer.
QRect frameNearPointer(const ScreenLayout& layout, QPoint pointer, QSize windowSize);

} // namespace TrayPlacement

} // namespace orvane
