#include "ui/ClipboardPanelView.h"

#include "ui/ClipboardHistoryRow.h"
#include "ui/ClipboardImageCache.h"
#include "ui/ClipboardImageThumbnail.h"
#include "ui/ClipboardTransferOverlay.h"
#include "ui/SerialPortPicker.h"
#include "ui/SerialStatusBar.h"
#include "ui/ToastBanner.h"

#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace orvane;

namespace {

ClipboardEntry textEntry(qint64 id, const QString& text) {
    ClipboardEntry entry;
    entry.id = id;
    entry.text = text;
    entry.dataSize = text.toUtf8().size();
    entry.timestamp = 1;
    return entry;
}

ClipboardEntry imageEntry(qint64 id, const QString& path) {
    ClipboardEntry entry;
    entry.id = id;
    entry.kind = ClipboardKind::image;
    entry.text = QStringLiteral("[截图]");
    entry.imagePath = path;
    return entry;
}

class ClipboardPanelViewTest : public ::testing::Test {
protected:
    ClipboardImageCache cache;
    ClipboardPanelView panel{cache};

    void SetUp() override {
        panel.resize(560, 700);
        panel.show();
    }
};

} // namespace

TEST_F(ClipboardPanelViewTest, ShowsTheHistoryNewestFirstOrTheEmptyState) {
    auto* empty = panel.findChild<QLabel*>(QStringLiteral("emptyHistory"));
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->isVisible());
    EXPECT_EQ(empty->text(), "暂无历史记录");

    ClipboardState state;
    state.history = {textEntry(7, QStringLiteral("newest")), textEntry(3, QStringLiteral("older"))};
    state.current = state.history[1];
    panel.setClipboardState(state);
    ASSERT_EQ(panel.rows().size(), 2);
    EXPECT_FALSE(empty->isVisible());
    EXPECT_EQ(panel.rows()[0]->findChild<QLabel*>(QStringLiteral("preview"))->text(), "newest");
    EXPECT_EQ(panel.rows()[0]->highlight(), ClipboardHistoryRow::Highlight::none);
    EXPECT_EQ(panel.rows()[1]->highlight(), ClipboardHistoryRow::Highlight::current);
    panel.setPreviewedEntryId(3);
    EXPECT_EQ(panel.rows()[1]->highlight(), ClipboardHistoryRow::Highlight::previewed);

    // The row's buttons name the entry they belong to.
    QSignalSpy deletes(&panel, &ClipboardPanelView::deleteRequested);
    QSignalSpy sends(&panel, &ClipboardPanelView::sendRequested);
    panel.rows()[1]->findChild<QPushButton*>(QStringLiteral("delete"))->click();
    panel.rows()[0]->findChild<QPushButton*>(QStringLiteral("send"))->click();
    ASSERT_EQ(deletes.size(), 1);
    EXPECT_EQ(deletes[0][0].toLongLong(), 3);
    ASSERT_EQ(sends.size(), 1);
    EXPECT_EQ(sends[0][0].toLongLong(), 7);
    EXPECT_EQ(panel.rows()[0]->findChild<QPushButton*>(QStringLiteral("openFolder")), nullptr);

    panel.setClipboardState({});
    EXPECT_TRUE(panel.rows().isEmpty());
    EXPECT_TRUE(empty->isVisible());
}

TEST_F(ClipboardPanelViewTest, DoubleClickUsesTheEntryAndNeverOpensThePreview) {
    ClipboardState state;
    state.history = {textEntry(1, QStringLiteral("alpha"))};
    panel.setClipboardState(state);
    QSignalSpy previews(&panel, &ClipboardPanelView::previewRequested);
    QSignalSpy used(&panel, &ClipboardPanelView::entryDoubleClicked);
    ClipboardHistoryRow* row = panel.rows()[0];

    // What a widget receives for a double click: a click, then the double click.
    QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseDClick(row, Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_EQ(used.size(), 1);
    EXPECT_EQ(used[0][0].value<ClipboardEntry>().id, 1);
    EXPECT_FALSE(panel.hasPendingSingleClick());
    QTest::qWait(int(ClipboardPanelView::singleClickDelay.count()) + 80);
    EXPECT_EQ(previews.size(), 0);

    // A single click opens it once the delay has passed, with the size recomputed.
    QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(panel.hasPendingSingleClick());
    ASSERT_TRUE(previews.wait(1000));
    EXPECT_EQ(previews[0][0].value<ClipboardEntry>().dataSize, 5);

    // Hiding the window drops a click still waiting.
    QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(5, 5));
    panel.hideTransientUI();
    EXPECT_FALSE(panel.hasPendingSingleClick());
}

TEST_F(ClipboardPanelViewTest, OverlayShowsProgressThenDoneAndCancels) {
    ClipboardTransferOverlay* overlay = panel.transferOverlay();
    QSignalSpy cancels(&panel, &ClipboardPanelView::cancelTransferRequested);
    panel.setTransfer(true, 42);
    EXPECT_TRUE(overlay->isVisible());
    EXPECT_EQ(overlay->findChild<QLabel*>(QStringLiteral("percent"))->text(), "42%");
    auto* cancel = overlay->findChild<QPushButton*>(QStringLiteral("cancelSend"));
    EXPECT_TRUE(cancel->isVisible());
    cancel->click();
    EXPECT_EQ(cancels.size(), 1);
    panel.setTransfer(true, 100);
    EXPECT_TRUE(overlay->isDone());
    EXPECT_FALSE(cancel->isVisible());
    panel.setTransfer(false, 0);
    EXPECT_FALSE(overlay->isVisible());
}

TEST_F(ClipboardPanelViewTest, StatusBarListsPortsAndReportsChoices) {
    SerialStatusBar* bar = panel.statusBar();
    SerialPortPicker* picker = bar->portPicker();
    EXPECT_EQ(picker->count(), 1);
    EXPECT_EQ(picker->itemText(0), "无可用串口");

    QSignalSpy chosen(bar, &SerialStatusBar::portSelected);
    bar->setPorts(
        {SerialPortInfo::make(QStringLiteral("/dev/ttyACM0"), QStringLiteral("Halvex KVM")),
         SerialPortInfo::make(QStringLiteral("/dev/ttyUSB1"), QStringLiteral("/dev/ttyUSB1"))},
        QStringLiteral("/dev/ttyUSB1"));
    ASSERT_EQ(picker->count(), 2);
    EXPECT_EQ(picker->itemText(0), "Halvex KVM · /dev/ttyACM0");
    EXPECT_EQ(picker->currentIndex(), 1);
    EXPECT_EQ(chosen.size(), 0); // filling the list is no choice
    emit picker->activated(0);
    ASSERT_EQ(chosen.size(), 1);
    EXPECT_EQ(chosen[0][0].toString(), "/dev/ttyACM0");

    // A saved port that is unplugged stays visible as the choice in force.
    bar->setPorts({}, QStringLiteral("/dev/ttyACM0"));
    EXPECT_EQ(picker->currentText(), "/dev/ttyACM0");

    QSignalSpy connects(bar, &SerialStatusBar::connectRequested);
    QSignalSpy closes(bar, &SerialStatusBar::closeRequested);
    auto* toggle = bar->findChild<QPushButton*>(QStringLiteral("toggle"));
    EXPECT_FALSE(toggle->isVisible());
    bar->setToggle(SerialStatusBar::Toggle::close);
    EXPECT_EQ(toggle->text(), "关闭");
    toggle->click();
    bar->setToggle(SerialStatusBar::Toggle::connect);
    EXPECT_EQ(toggle->text(), "连接");
    toggle->click();
    EXPECT_EQ(closes.size(), 1);
    EXPECT_EQ(connects.size(), 1);
}

TEST_F(ClipboardPanelViewTest, OpenFolderShowsTheFileInItsExistingDirectory) {
    struct Recorder : FileRevealer {
        QStringList& shown;
        explicit Recorder(QStringList& list)
            : shown(list) {}
        void reveal(const QString& path) override { shown.append(path); }
    };
    QStringList shown;
    panel.setFileRevealer(std::make_unique<Recorder>(shown));
    QTemporaryDir dir;
    ClipboardEntry files;
    files.id = 4;
    files.kind = ClipboardKind::files;
    files.files = {QString(), dir.filePath(QStringLiteral("report.pdf"))};
    ClipboardState state;
    state.history = {files};
    panel.setClipboardState(state);
    panel.rows()[0]->findChild<QPushButton*>(QStringLiteral("openFolder"))->click();
    EXPECT_EQ(shown, QStringList{dir.filePath(QStringLiteral("report.pdf"))});

    files.files = {dir.filePath(QStringLiteral("gone/report.pdf")),
                   dir.filePath(QStringLiteral("x"))};
    EXPECT_EQ(ClipboardPanelView::fileToShow(files), std::nullopt);
    EXPECT_FALSE(panel.openFileDirectory(files));
    EXPECT_EQ(shown.size(), 1);
}

TEST_F(ClipboardPanelViewTest, ThumbnailsLoadOnceAndFailedKeysAreNotRetried) {
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.png"));
    QImage image(640, 200, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    ASSERT_TRUE(image.save(good));
    const QString missing = dir.filePath(QStringLiteral("deleted.png"));

    QSignalSpy finished(&cache, &ClipboardImageCache::finished);
    ClipboardState state;
    state.history = {imageEntry(1, good), imageEntry(2, missing)};
    panel.setClipboardState(state);
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.size() == 2; }, 5000));
    QCoreApplication::processEvents();

    auto* ready = panel.rows()[0]->findChild<ClipboardImageThumbnail*>();
    auto* failed = panel.rows()[1]->findChild<ClipboardImageThumbnail*>();
    EXPECT_EQ(ready->phase(), ClipboardImageThumbnail::ThumbnailPhase::ready);
    EXPECT_EQ(ready->height(), 100); // 320 * 200 / 640
    EXPECT_EQ(failed->phase(), ClipboardImageThumbnail::ThumbnailPhase::unavailable);
    EXPECT_TRUE(cache.hasFailed(missing));

    // The file appears later: the key stays failed, nothing is loaded again.
    ASSERT_TRUE(image.save(missing));
    cache.load(imageEntry(2, missing));
    cache.load(imageEntry(1, good));
    QTest::qWait(100);
    EXPECT_EQ(finished.size(), 2);
    EXPECT_TRUE(cache.cached(good).has_value());
    EXPECT_FALSE(cache.cached(missing).has_value());

    // Entries that left the history take their images with them; those still in it stay.
    state.history = {imageEntry(1, good), textEntry(3, QStringLiteral("x"))};
    panel.setClipboardState(state);
    EXPECT_TRUE(cache.cached(good).has_value());
    EXPECT_FALSE(cache.hasFailed(missing));
    state.history = {textEntry(3, QStringLiteral("x"))};
    panel.setClipboardState(state);
    EXPECT_FALSE(cache.cached(good).has_value());
}

TEST(ClipboardImageCacheTest, KeysByPathThenDataThenIdAndDecodesSmall) {
    ClipboardEntry entry = imageEntry(12, QStringLiteral("/x.png"));
    entry.imageData = QByteArray("abc");
    EXPECT_EQ(ClipboardImageCache::key(entry), "/x.png");
    entry.imagePath.reset();
    EXPECT_EQ(ClipboardImageCache::key(entry), "image:" + entry.computeFingerprint());
    entry.imageData.reset();
    EXPECT_EQ(ClipboardImageCache::key(entry), "12");

    // A full-screen screenshot held in memory is kept at thumbnail scale only.
    QImage big(1920, 1080, QImage::Format_RGB32);
    big.fill(Qt::white);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(big.save(&buffer, "PNG"));
    entry.imageData = png;
    ClipboardImageCache cache;
    QSignalSpy finished(&cache, &ClipboardImageCache::finished);
    cache.load(entry);
    cache.load(entry); // already loading: no second job
    ASSERT_TRUE(finished.wait(5000));
    QTest::qWait(50);
    EXPECT_EQ(finished.size(), 1);
    const auto image = cache.cached(ClipboardImageCache::key(entry));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->size(), QSize(640, 360));
}

TEST_F(ClipboardPanelViewTest, ToastShowsTheKindsMessageUntilCleared) {
    ToastBanner* toast = panel.toastBanner();
    EXPECT_FALSE(toast->isVisible());
    toast->showToast(QStringLiteral("已取消发送"), ToastBanner::Kind::warning);
    EXPECT_TRUE(toast->isVisible());
    EXPECT_EQ(toast->message(), "已取消发送");
    EXPECT_EQ(toast->kind(), ToastBanner::Kind::warning);
    // Above the overlay, so that the result of a send shows while the overlay is up.
    panel.setTransfer(true, 100);
    const QObjectList& stack = panel.children(); // bottom to top
    EXPECT_GT(stack.indexOf(toast), stack.indexOf(panel.transferOverlay()));
    // A short file name is not broken over two lines.
    toast->showToast(QStringLiteral("发送成功 · 固件包.bin"), ToastBanner::Kind::success);
    EXPECT_LT(toast->height(), 2 * toast->fontMetrics().height() + 20);
    toast->clearToast();
    EXPECT_FALSE(toast->isVisible());
}

TEST_F(ClipboardPanelViewTest, OpeningThePortListAsksForAFreshOne) {
    QSignalSpy refresh(panel.statusBar(), &SerialStatusBar::refreshPortsRequested);
    panel.statusBar()->portPicker()->showPopup();
    EXPECT_EQ(refresh.size(), 1);
    panel.statusBar()->portPicker()->hidePopup();
}
