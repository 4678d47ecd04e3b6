#include "ui/ClipboardHoverPreview.h"

#include "support/EventLoopWait.h"
#include "support/XvfbServer.h"
#include "ui/ClipboardHoverPreviewController.h"
#include "ui/ClipboardImageCache.h"
#include "ui/ClipboardPreviewContent.h"

#include <QImage>
#include <QMap>
#include <QProcess>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include <cstdlib>
#include <gtest/gtest.h>

using namespace orvane;
using namespace std::chrono_literals;

namespace {

ClipboardEntry textEntry(qint64 id, const QString& text) {
    ClipboardEntry entry;
    entry.id = id;
    entry.text = text;
    return entry;
}

// One 1000 x 600 screen, a clock the test moves, and no pointer nearby.
class ClipboardHoverPreviewTest : public ::testing::Test {
protected:
    ClipboardImageCache cache;
    ClipboardHoverPreviewController controller{cache};
    std::chrono::steady_clock::time_point now{};

    void SetUp() override {
        controller.setClock([this] { return now; });
        controller.setScreenSource([] {
            ScreenLayout layout;
            layout.screens = {ScreenArea{QRect(0, 0, 1000, 600), QRect(0, 0, 1000, 600)}};
            layout.primary = 0;
            return layout;
        });
        controller.setPointerSource([] { return std::optional<QPoint>(); });
        controller.setPlacementEnabled(true);
    }

    QRect panelFrame() const { return controller.panel()->geometry(); }
};

} // namespace

TEST_F(ClipboardHoverPreviewTest, AWordGetsTheMinimumWidthAndALongTextScrollsWithinTheScreen) {
    QSignalSpy active(&controller, &ClipboardHoverPreviewController::activeEntryChanged);
    controller.show(textEntry(1, QStringLiteral("好")));
    ASSERT_TRUE(controller.panel()->isVisible());
    EXPECT_GE(panelFrame().width(), 160);
    EXPECT_LT(panelFrame().width(), 300);
    EXPECT_EQ(controller.panel()->textView()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(panelFrame().center(), QRect(0, 0, 1000, 600).center());
    ASSERT_EQ(active.size(), 1);
    EXPECT_EQ(active[0][0].value<std::optional<qint64>>(), 1);

    QStringList lines;
    for (int i = 0; i < 400; ++i) {
        lines << QStringLiteral("第 %1 行：").arg(i) +
                     QStringLiteral("周五下午三点在二楼会议室评审新版固件，请提前准备测试报告。")
                         .repeated(3);
    }
    controller.show(textEntry(2, lines.join(QLatin1Char('\n'))));
    const QRect frame = panelFrame();
    EXPECT_LE(frame.width(), 952);
    EXPECT_GT(frame.width(), 900);
    EXPECT_EQ(frame.height(), 548);
    EXPECT_TRUE(QRect(24, 24, 952, 552).contains(frame));
    QTextEdit* text = controller.panel()->textView();
    EXPECT_EQ(text->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_GT(text->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(text->verticalScrollBar()->value(), 0);

    // Without placement (native Wayland) the size still follows the rules.
    controller.hide();
    controller.setPlacementEnabled(false);
    controller.panel()->move(3, 4);
    controller.show(textEntry(1, QStringLiteral("好")));
    EXPECT_EQ(controller.panel()->pos(), QPoint(3, 4));
    EXPECT_GE(controller.panel()->width(), 160);
}

TEST_F(ClipboardHoverPreviewTest, AClosingClickDoesNotReopenWithinFourTenthsOfASecond) {
    controller.show(textEntry(1, QStringLiteral("hello")));
    ClipboardHoverPreview* panel = controller.panel();
    QTest::mouseClick(panel->textView()->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(controller.activeEntry());

    now += 399ms;
    controller.show(textEntry(1, QStringLiteral("hello")));
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(controller.activeEntry());
    now += 1ms;
    controller.show(textEntry(1, QStringLiteral("hello")));
    EXPECT_TRUE(panel->isVisible());

    // Escape and hide() close without suppressing the next show.
    QTest::keyClick(panel, Qt::Key_Escape);
    EXPECT_FALSE(panel->isVisible());
    controller.show(textEntry(3, QStringLiteral("again")));
    EXPECT_TRUE(panel->isVisible());
    controller.hide();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(controller.lastPresentedSize(), QSize());
}

TEST_F(ClipboardHoverPreviewTest, ImagesFitWithTheirPixelSizeAndTinyReportsAreIgnored) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("shot.png"));
    QImage image(1600, 1200, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    ASSERT_TRUE(image.save(path));
    ClipboardEntry entry;
    entry.id = 7;
    entry.kind = ClipboardKind::image;
    entry.imagePath = path;

    controller.show(entry);
    ClipboardPreviewContent* content = controller.panel()->content();
    EXPECT_EQ(content->caption(), QStringLiteral("1600 × 1200"));
    ASSERT_TRUE(orvane::test::waitUntil(
        [&] { return content->imagePhase() == ClipboardPreviewContent::ImagePhase::ready; }, 5000));
    const QSize presented = controller.lastPresentedSize();
    EXPECT_LE(presented.height(), 552);
    EXPECT_GT(presented.height(), 400);
    EXPECT_EQ(presented, content->preferredSize());

    controller.noteContentChanged(QSizeF(40, 300));
    EXPECT_EQ(controller.lastPresentedSize(), presented);
    controller.noteContentChanged(QSizeF(300, 200));
    EXPECT_EQ(controller.lastPresentedSize(), QSize(300, 200));

    // A missing picture says so instead of showing an empty panel.
    entry.id = 8;
    entry.imagePath = dir.filePath(QStringLiteral("gone.png"));
    controller.show(entry);
    EXPECT_EQ(content->imagePhase(), ClipboardPreviewContent::ImagePhase::unavailable);
    EXPECT_GE(controller.lastPresentedSize().width(), 160);
}

TEST_F(ClipboardHoverPreviewTest, ARowOnTheSecondScreenCentresThePreviewThere) {
    controller.setScreenSource([] {
        ScreenLayout layout;
        layout.screens = {ScreenArea{QRect(0, 0, 1000, 600), QRect(0, 0, 1000, 600)},
                          ScreenArea{QRect(1000, 0, 1280, 800), QRect(1000, 0, 1280, 770)}};
        layout.primary = 0;
        return layout;
    });
    controller.setPointerSource([] { return std::optional<QPoint>(QPoint(10, 10)); });
    controller.show(textEntry(1, QStringLiteral("第二块屏幕")), QRect(1100, 300, 500, 60));
    EXPECT_EQ(panelFrame().center(), QRect(1000, 0, 1280, 770).center());
    controller.show(textEntry(1, QStringLiteral("第二块屏幕")));
    EXPECT_EQ(panelFrame().center(), QRect(0, 0, 1000, 600).center());
}

// A real X display (Xvfb, one 1000 x 600 screen): the row's click opens the preview,
// which the X server places centred within the screen's limits. Xvfb cannot show Qt two
// screens side by side (its RandR reports a Xinerama desktop as one monitor), so the
// choice between screens is left to the layout tests.
TEST(ClipboardHoverPreviewOnX11, ALongTextIsCentredWithinTheLimitsOfARealScreen) {
    QString whyNot;
    const auto xvfb = XvfbServer::start(&whyNot, {QStringLiteral("1000x600x24")});
    if (!xvfb) {
        GTEST_SKIP() << whyNot.toStdString();
    }
    QProcess probe;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), xvfb->display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    relaxStringChecksForX(env);
    probe.setProcessEnvironment(env);
    probe.start(QStringLiteral(ORVANE_PREVIEW_PROBE), {QStringLiteral("0")});
    ASSERT_TRUE(probe.waitForFinished(30000));
    const QString output = QString::fromUtf8(probe.readAllStandardOutput());
    ASSERT_EQ(probe.exitCode(), 0)
        << output.toStdString() << probe.readAllStandardError().toStdString();

    QMap<QString, QList<int>> values;
    for (const QString& line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QStringList parts = line.split(QLatin1Char(' '));
        const QString key = parts.takeFirst();
        for (const QString& part : parts) {
            values[key].append(part.toInt());
        }
    }
    const QList<int> a = values.value(QStringLiteral("available"));
    const QList<int> p = values.value(QStringLiteral("panel"));
    ASSERT_EQ(a.size(), 4) << output.toStdString();
    ASSERT_EQ(p.size(), 4) << output.toStdString();
    const QRect area(a[0], a[1], a[2], a[3]);
    const QRect panel(p[0], p[1], p[2], p[3]);
    EXPECT_EQ(area, QRect(0, 0, 1000, 600));
    EXPECT_TRUE(QRect(24, 24, 952, 552).contains(panel)) << output.toStdString();
    EXPECT_GT(panel.height(), 500) << output.toStdString();
    EXPECT_LE(std::abs(panel.center().x() - area.center().x()), 1) << output.toStdString();
    EXPECT_LE(std::abs(panel.center().y() - area.center().y()), 1) << output.toStdString();
}
