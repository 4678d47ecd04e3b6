#include "ui/ClipboardFormatting.h"

#include "ui/ClipboardImagePreviewMetrics.h"

#include <QTimeZone>

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::ClipboardFormatting;
namespace Metrics = orvane::ClipboardImagePreviewMetrics;

TEST(ClipboardFormatting, DataSizeSwitchesUnitsAtTheBinaryThresholds) {
    EXPECT_EQ(formatDataSize(0), "0 B");
    EXPECT_EQ(formatDataSize(1023), "1023 B");
    EXPECT_EQ(formatDataSize(1024), "1.0 KB");
    EXPECT_EQ(formatDataSize(1048575), "1024.0 KB");
    EXPECT_EQ(formatDataSize(1048576), "1.0 MB");
    EXPECT_EQ(formatDataSize(5 * 1048576 + 1048576 / 2), "5.5 MB");
}

TEST(ClipboardFormatting, TimeDependsOnTheCalendarDay) {
    const QTimeZone zone(8 * 3600);
    const QDateTime now(QDate(2026, 3, 1), QTime(0, 30), zone); // just after midnight
    const auto at = [&](QDate day, QTime time) {
        return QDateTime(day, time, zone).toMSecsSinceEpoch();
    };
    EXPECT_EQ(formatTime(0, now), "--");
    EXPECT_EQ(formatTime(-5, now), "--");
    EXPECT_EQ(formatTime(at(QDate(2026, 3, 1), QTime(0, 10, 5)), now), "00:10:05");
    EXPECT_EQ(formatTime(at(QDate(2026, 2, 28), QTime(9, 5)), now), "昨天 09:05");
    EXPECT_EQ(formatTime(at(QDate(2026, 2, 27), QTime(23, 59)), now), "02-27 23:59");
    EXPECT_EQ(formatTime(at(QDate(2025, 3, 1), QTime(8, 0)), now), "03-01 08:00");
}

TEST(ClipboardFormatting, PreviewByKind) {
    ClipboardEntry text;
    text.text = QStringLiteral("\n  你好 world \t\n");
    EXPECT_EQ(preview(text), "你好 world");
    text.text = QStringLiteral(" \n\t ");
    EXPECT_EQ(preview(text), "空文本");
    ClipboardEntry files;
    files.kind = ClipboardKind::files;
    files.files = {QStringLiteral("/a/x.txt"), QStringLiteral("/b/y.png")};
    EXPECT_EQ(preview(files), "/a/x.txt · /b/y.png");
    ClipboardEntry image;
    image.kind = ClipboardKind::image;
    image.text = QStringLiteral("[截图]");
    EXPECT_EQ(preview(image), "截图");
}

TEST(ClipboardFormatting, PreviewPanelTextKeepsTheStartOfAHugeText) {
    using ClipboardFormatting::previewPanelMaxChars;
    using ClipboardFormatting::previewPanelText;
    const QString fits(previewPanelMaxChars, QChar('a'));
    EXPECT_EQ(previewPanelText(fits), fits);

    // Cut after the last whole line in reach.
    const QString line = QString(99, QChar('x')) + QLatin1Char('\n');
    const QString log = line.repeated(previewPanelMaxChars / 100 + 5);
    const QString shown = previewPanelText(log);
    const qsizetype cut = previewPanelMaxChars / 100 * 100 - 1;
    EXPECT_EQ(shown.left(cut), log.left(cut));
    EXPECT_EQ(
        shown.mid(cut),
        QStringLiteral("\n…（预览仅显示前 %1 个字符，全文共 %2 个字符）").arg(cut).arg(log.size()));

    // One endless line: cut at the limit, never inside a surrogate pair.
    const QString emoji = QString(previewPanelMaxChars - 1, QChar('b')) + QStringLiteral("😀c");
    EXPECT_TRUE(previewPanelText(emoji).startsWith(emoji.left(previewPanelMaxChars - 1) +
                                                   QLatin1Char('\n')));
}

TEST(ClipboardImagePreviewMetrics, FitScalesDownOnlyAndFloors) {
    EXPECT_EQ(Metrics::fit({1024, 512}, {256, 256}), QSizeF(256, 128));
    EXPECT_EQ(Metrics::fit({100, 50}, {300, 300}), QSizeF(100, 50));   // never enlarged
    EXPECT_EQ(Metrics::fit({1000, 330}, {250, 250}), QSizeF(250, 82)); // 82.5 floored
    EXPECT_EQ(Metrics::fit({12800, 1}, {100, 100}), QSizeF(100, 1));   // at least 1
    EXPECT_EQ(Metrics::fit({0, 50}, {300, 100}), QSizeF(240, 100));
}

TEST(ClipboardImagePreviewMetrics, MakeRaisesTheBoxAndAddsTheFrame) {
    const auto result = Metrics::make({640, 400}, {50, 50});
    EXPECT_EQ(result.pixelWidth, 640);
    EXPECT_EQ(result.pixelHeight, 400);
    EXPECT_EQ(result.display, QSizeF(160, 100)); // box raised to 160 x 100
    EXPECT_EQ(result.panelSize, QSizeF(184, 124));
}

TEST(ClipboardImagePreviewMetrics, ThumbnailHeightIsProportionalWithinBounds) {
    EXPECT_EQ(Metrics::thumbnailHeight({}, 48, 120), 48);          // not loaded yet
    EXPECT_EQ(Metrics::thumbnailHeight({640, 0}, 48, 120), 48);    // empty image
    EXPECT_EQ(Metrics::thumbnailHeight({640, 200}, 48, 120), 100); // 320 * 200 / 640
    EXPECT_EQ(Metrics::thumbnailHeight({100, 400}, 48, 120), 120);
    EXPECT_EQ(Metrics::thumbnailHeight({4000, 10}, 48, 120), 48);
    EXPECT_EQ(Metrics::thumbnailHeight({4000, 10}, 0, 120), 1);
}
