#pragma once

#include <QList>
#include <QRect>

namespace orvane {

// One screen as the placement arithmetic sees it: its whole geometry and the part that
// panels, docks and bars leave free (QScreen::geometry and availableGeometry).
struct ScreenArea {
    QRect frame;
    QRect available;

    friend bool operator==(const ScreenArea&, const ScreenArea&) = default;
};

// The screens in the desktop's order, with the index of the primary one (-1: none).
struct ScreenLayout {
    QList<ScreenArea> screens;
    int primary = -1;
};

} // namespace orvane
