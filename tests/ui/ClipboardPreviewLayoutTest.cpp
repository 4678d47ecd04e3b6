#include "ui/ClipboardPreviewLayout.h"

#include <gtest/gtest.h>

using namespace orvane;
namespace L = ClipboardPreviewLayout;

namespace {

// Two screens side by side, the second one larger; the first is the primary.
ScreenLayout twoScreens() {
    ScreenLayout layout;
    layout.screens = {ScreenArea{QRect(0, 0, 1000, 600), QRect(0, 0, 1000, 600)},
                      ScreenArea{QRect(1000, 0, 1280, 800), QRect(1000, 0, 1280, 770)}};
    layout.primary = 0;
    return layout;
}

} // namespace

TEST(ClipboardPreviewLayout, LimitsFollowTheScreenWithTheirMinima) {
    EXPECT_EQ(L::limits(QSize(1000, 600)), (L::Limits{952, 552, 924, 524}));
    EXPECT_EQ(L::limits(QSize(100, 100)), (L::Limits{200, 160, 172, 132}));
    EXPECT_EQ(L::limits(QSize(210, 180)), (L::Limits{200, 160, 172, 132}));

    const L::Limits limits = L::limits(QSize(1000, 600));
    EXPECT_EQ(L::panelSize(QSize(5000, 5000), limits), QSize(952, 552));
    EXPECT_EQ(L::panelSize(QSize(30, 20), limits), QSize(160, 80));
    EXPECT_EQ(L::panelSize(QSize(400, 300), limits), QSize(400, 300));
}

TEST(ClipboardPreviewLayout, ScreenIsTheRowsElseThePointersElseThePrimary) {
    const ScreenLayout layout = twoScreens();
    const QRect rowOnSecond(1100, 100, 400, 60);
    EXPECT_EQ(L::screenForPreview(layout, rowOnSecond, QPoint(10, 10)), 1);
    EXPECT_EQ(L::screenForPreview(layout, QRect(-900, 0, 100, 40), QPoint(1500, 500)), 1);
    EXPECT_EQ(L::screenForPreview(layout, std::nullopt, QPoint(-5, -5)), 0);
    ScreenLayout secondPrimary = layout;
    secondPrimary.primary = 1;
    EXPECT_EQ(L::screenForPreview(secondPrimary, std::nullopt, std::nullopt), 1);
    EXPECT_EQ(L::visibleFrameForPreview(ScreenLayout{}, rowOnSecond, QPoint()),
              QRect(0, 0, 1280, 800));
}

TEST(ClipboardPreviewLayout, CentresInTheFreeAreaOfTheRowsScreen) {
    const ScreenLayout layout = twoScreens();
    const QRect area = L::visibleFrameForPreview(layout, QRect(1100, 100, 400, 60), QPoint(10, 10));
    EXPECT_EQ(area, QRect(1000, 0, 1280, 770));
    const QRect frame = L::centredFrame(area, QSize(400, 300));
    EXPECT_EQ(frame, QRect(1440, 235, 400, 300));
    EXPECT_EQ(frame.center(), area.center());
}

TEST(ClipboardPreviewLayout, TextScrollsOnlyWhenTallerThanItsSpace) {
    const L::Limits limits = L::limits(QSize(1000, 600));
    EXPECT_EQ(L::textLayoutWidth(limits), 928);
    EXPECT_EQ(L::textAvailableHeight(limits), 528);
    EXPECT_FALSE(L::textScrolls(529, limits));
    EXPECT_TRUE(L::textScrolls(530, limits));
    // A word: the minimum width; a long text: the visible part plus the scroll bar.
    EXPECT_EQ(L::textPanelSize(QSize(30, 18), 12, limits), QSize(160, 80));
    EXPECT_EQ(L::textPanelSize(QSize(928, 9000), 12, limits), QSize(952, 548));
}

TEST(ClipboardPreviewLayout, TinyContentReportsAreIgnored) {
    EXPECT_FALSE(L::acceptsContentReport(QSizeF(40, 300)));
    EXPECT_FALSE(L::acceptsContentReport(QSizeF(300, 40)));
    EXPECT_TRUE(L::acceptsContentReport(QSizeF(40.5, 41)));
    EXPECT_TRUE(L::pointerNear(QRect(100, 100, 50, 50), QPoint(98, 151)));
    EXPECT_FALSE(L::pointerNear(QRect(100, 100, 50, 50), QPoint(97, 120)));
}
