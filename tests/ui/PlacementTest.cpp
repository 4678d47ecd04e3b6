#include "ui/DockLayout.h"
#include "ui/TrayPlacement.h"

#include <gtest/gtest.h>

using namespace orvane;

namespace {

// A 1920x1080 screen at the origin whose panel takes `gap` pixels on one side.
ScreenArea screenWithPanel(DockLayout::Edge edge, int gap, QPoint origin = {0, 0}) {
    const QRect frame(origin, QSize(1920, 1080));
    QRect available = frame;
    switch (edge) {
    case DockLayout::Edge::left:
        available.setLeft(frame.left() + gap);
        break;
    case DockLayout::Edge::right:
        available.setRight(frame.right() - gap);
        break;
    case DockLayout::Edge::bottom:
        available.setBottom(frame.bottom() - gap);
        break;
    }
    return {frame, available};
}

ScreenLayout one(const ScreenArea& screen) {
    return {{screen}, 0};
}

const QSize window(616, 719);

} // namespace

TEST(DockLayout, PlacesBesideThePanelOnEachEdge) {
    // Left panel of 70: 12 right of the free area's left edge, vertically centred.
    EXPECT_EQ(
        DockLayout::frameBesideDock(one(screenWithPanel(DockLayout::Edge::left, 70)), window, 12),
        QRect(QPoint(82, 540 - 359), window));
    EXPECT_EQ(
        DockLayout::frameBesideDock(one(screenWithPanel(DockLayout::Edge::right, 70)), window, 12),
        QRect(QPoint(1920 - 70 - 616 - 12, 540 - 359), window));
    // Bottom panel of 48: horizontally centred, 12 above it.
    EXPECT_EQ(
        DockLayout::frameBesideDock(one(screenWithPanel(DockLayout::Edge::bottom, 48)), window, 12),
        QRect(QPoint((1920 - 616) / 2, 1080 - 48 - 719 - 12), window));
}

TEST(DockLayout, EdgeNeedsAStrictlyWiderGapAndIgnoresATopBar) {
    ScreenArea topOnly{QRect(0, 0, 1920, 1080), QRect(0, 32, 1920, 1048)};
    EXPECT_EQ(DockLayout::edge(topOnly), DockLayout::Edge::bottom);
    ScreenArea tie{QRect(0, 0, 1920, 1080), QRect(40, 0, 1840, 1080)}; // left 40, right 40
    EXPECT_EQ(DockLayout::edge(tie), DockLayout::Edge::bottom);
    EXPECT_EQ(DockLayout::frameBesideDock(one(topOnly), window, 12).bottom() + 1, 1080 - 12);
}

TEST(DockLayout, PicksTheScreenWithTheWidestPanel) {
    ScreenLayout layout{{screenWithPanel(DockLayout::Edge::bottom, 30),
                         screenWithPanel(DockLayout::Edge::left, 60, {1920, 0}),
                         screenWithPanel(DockLayout::Edge::right, 60, {3840, 0})},
                        0};
    EXPECT_EQ(DockLayout::screenHostingDock(layout), 1); // first of the tie
    EXPECT_EQ(DockLayout::frameBesideDock(layout, window, 12).x(), 1920 + 60 + 12);
    EXPECT_EQ(DockLayout::screenHostingDock(ScreenLayout{}), std::nullopt);
    EXPECT_EQ(DockLayout::frameBesideDock(ScreenLayout{}, window, 12), QRect(QPoint(0, 0), window));
}

TEST(DockLayout, ClampKeepsTheMarginOnEverySide) {
    const QRect area(0, 30, 1000, 800);
    EXPECT_EQ(DockLayout::clamp({-50, 100}, {200, 100}, area, 8), QPoint(8, 100));
    EXPECT_EQ(DockLayout::clamp({950, 100}, {200, 100}, area, 8), QPoint(1000 - 200 - 8, 100));
    EXPECT_EQ(DockLayout::clamp({100, 0}, {200, 100}, area, 8), QPoint(100, 38));
    EXPECT_EQ(DockLayout::clamp({100, 900}, {200, 100}, area, 8), QPoint(100, 830 - 100 - 8));
    // As high as the area (a small screen's whole free height), or nearly: kept inside.
    EXPECT_EQ(DockLayout::clamp({100, 500}, {200, 800}, area, 8), QPoint(100, 30));
    EXPECT_EQ(DockLayout::clamp({100, 0}, {200, 790}, area, 8), QPoint(100, 35));
    // Larger than the area: pinned to the top-left margin rather than pushed off screen.
    EXPECT_EQ(DockLayout::clamp({500, 500}, {1200, 900}, area, 8), QPoint(8, 38));
}

TEST(TrayPlacement, CentresBelowTheIconAndClampsToTheScreen) {
    const ScreenArea topBar{QRect(0, 0, 1920, 1080), QRect(0, 28, 1920, 1052)};
    // In the middle: centred below the icon, and at least 8 below the bar.
    EXPECT_EQ(TrayPlacement::frameForIcon(one(topBar), QRect(900, 2, 24, 24), window),
              QRect(QPoint(912 - 308, 28 + 8), window));
    const ScreenArea noBar{QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1080)};
    EXPECT_EQ(TrayPlacement::frameForIcon(one(noBar), QRect(900, 40, 24, 24), window).y(),
              40 + 24 + 6);
    // Near the right edge: pushed left so that 8 remain.
    EXPECT_EQ(TrayPlacement::frameForIcon(one(topBar), QRect(1880, 2, 24, 24), window).right() + 1,
              1920 - 8);
    // An icon in a bottom panel: the window sits just above that panel.
    const ScreenArea bottomBar = screenWithPanel(DockLayout::Edge::bottom, 40);
    EXPECT_EQ(TrayPlacement::frameForIcon(one(bottomBar), QRect(1800, 1048, 24, 24), window),
              QRect(QPoint(1920 - 616 - 8, 1040 - 719 - 8), window));
}

TEST(TrayPlacement, FallsBackWhenIconOrScreenIsUnknown) {
    const ScreenArea left = screenWithPanel(DockLayout::Edge::left, 70);
    EXPECT_EQ(TrayPlacement::frameForIcon(one(left), QRect(), window).x(), 82);
    // The icon on no screen: clamped into the primary one.
    ScreenLayout two{{left, screenWithPanel(DockLayout::Edge::bottom, 40, {1920, 0})}, 1};
    EXPECT_EQ(TrayPlacement::frameForIcon(two, QRect(-500, -500, 24, 24), window).topLeft(),
              QPoint(1920 + 8, 8));
    EXPECT_EQ(TrayPlacement::frameForIcon(ScreenLayout{}, QRect(100, 0, 20, 20), window),
              QRect(QPoint(110 - 308, 26), window));
}

TEST(TrayPlacement, ByThePointerAgainstThePanelItIsOn) {
    const QRect frame(0, 0, 1920, 1080);
    // A top bar's tray in the corner, closer to the right edge than to the top: still the
    // top bar, and the window stays 8 inside its free area.
    const ScreenArea top{frame, QRect(0, 32, 1920, 1048)};
    EXPECT_EQ(TrayPlacement::frameNearPointer(one(top), {1915, 16}, window),
              QRect(QPoint(1920 - 616 - 8, 32 + 8), window));
    EXPECT_EQ(TrayPlacement::frameNearPointer(one(top), {700, 16}, window),
              QRect(QPoint(700 - 308, 40), window));
    const ScreenArea bottom = screenWithPanel(DockLayout::Edge::bottom, 40);
    EXPECT_EQ(TrayPlacement::frameNearPointer(one(bottom), {5, 1060}, window),
              QRect(QPoint(8, 1040 - 719 - 8), window));
    const ScreenArea left = screenWithPanel(DockLayout::Edge::left, 48);
    EXPECT_EQ(TrayPlacement::frameNearPointer(one(left), {24, 500}, window),
              QRect(QPoint(48 + 8, 500 - 359), window));
    const ScreenArea right = screenWithPanel(DockLayout::Edge::right, 48);
    EXPECT_EQ(TrayPlacement::frameNearPointer(one(right), {1900, 1070}, window),
              QRect(QPoint(1920 - 48 - 616 - 8, 1080 - 719 - 8), window));
}

TEST(TrayPlacement, ByThePointerWhereNoPanelReservesSpace) {
    const ScreenArea bare{QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1080)};
    EXPECT_EQ(TrayPlacement::panelSideAt(bare, {960, 1075}), TrayPlacement::PanelSide::bottom);
    EXPECT_EQ(TrayPlacement::panelSideAt(bare, {3, 3}), TrayPlacement::PanelSide::top);
    EXPECT_EQ(TrayPlacement::panelSideAt(bare, {1917, 540}), TrayPlacement::PanelSide::right);
    // Clicked in the middle of a 60-pixel panel: the window clears the whole panel.
    EXPECT_EQ(TrayPlacement::frameNearPointer(one(bare), {960, 30}, window).y(), 60 + 8);
    EXPECT_EQ(TrayPlacement::frameNearPointer(one(bare), {960, 1050}, window).bottom() + 1,
              1080 - 60 - 8);
    EXPECT_EQ(TrayPlacement::frameNearPointer(one(bare), {1, 500}, window).x(), 2 + 8);
    EXPECT_EQ(TrayPlacement::frameNearPointer(one(bare), {1919, 500}, window).x(), 1918 - 8 - 616);
    // A pointer off every screen goes to the primary one; without screens it is all there is.
    ScreenLayout two{{bare, screenWithPanel(DockLayout::Edge::bottom, 40, {1920, 0})}, 1};
    EXPECT_TRUE(QRect(1920, 0, 1920, 1040)
                    .contains(TrayPlacement::frameNearPointer(two, {-50, 5000}, window)));
    EXPECT_EQ(TrayPlacement::frameNearPointer(ScreenLayout{}, {400, 10}, window),
              QRect(QPoint(400 - 308, 16), window));
}
