#include "app/AppModel.h"
#include "serial/SerialService.h"
#include "support/DesktopScene.h"
#include "support/DevsimProcess.h"
#include "support/EventLoopWait.h"
#include "ui/AppShell.h"
#include "ui/ClipboardPanelView.h"
#include "ui/FloatingWindow.h"
#include "ui/MainSidebarView.h"
#include "ui/MainView.h"
#include "ui/SerialLogPanelView.h"
#include "ui/SerialLogTextView.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextBlock>

#include <gtest/gtest.h>

using namespace orvane;

namespace {

QString lines(int from, int count) {
    QString text;
    for (int i = from; i < from + count; ++i) {
        text += QStringLiteral("12:00:00.000 RX line %1\n").arg(i);
    }
    return text;
}

QString lastLine(const SerialLogTextView& view) {
    return view.document()->lastBlock().text();
}

QString topLine(const SerialLogTextView& view) {
    return view.cursorForPosition(QPoint(4, 4)).block().text();
}

} // namespace

TEST(SerialLogTextViewTest, FollowsWhilePinnedHoldsWhenScrolledUpAndResetRepins) {
    SerialLogTextView view;
    view.resize(400, 240);
    view.show();
    view.appendDelta(lines(0, 100));
    QScrollBar* bar = view.verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(lastLine(view), QStringLiteral("12:00:00.000 RX line 99"));

    view.appendDelta(lines(100, 20));
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(view.isPinnedToBottom());

    // Scrolled up by more than the tolerance: new lines leave the view where it is.
    bar->setValue(bar->maximum() - 5);
    EXPECT_FALSE(view.isPinnedToBottom());
    const int held = bar->value();
    view.appendDelta(lines(120, 20));
    view.appendDelta(QString()); // nothing
    EXPECT_EQ(bar->value(), held);
    EXPECT_LT(bar->value(), bar->maximum());

    // Back at the bottom: following resumes.
    bar->setValue(bar->maximum());
    view.appendDelta(lines(140, 3));
    EXPECT_EQ(bar->value(), bar->maximum());

    bar->setValue(0);
    view.resetText(QString());
    EXPECT_TRUE(view.document()->isEmpty());
    EXPECT_TRUE(view.isPinnedToBottom());
    view.appendDelta(lines(0, 100));
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(view.document()->blockCount(), 100); // no empty line at the end
}

TEST(SerialLogTextViewTest, DropsTheOldestLinesBehindAMarkerAndKeepsAScrolledUpView) {
    SerialLogTextView view;
    view.resize(400, 240);
    view.show();
    view.setMaximumLines(100);
    view.appendDelta(lines(0, 90));
    EXPECT_EQ(view.droppedLines(), 0);
    QScrollBar* bar = view.verticalScrollBar();
    bar->setValue(bar->maximum() - 20);
    const QString reading = topLine(view);

    view.appendDelta(lines(90, 30));
    EXPECT_GT(view.droppedLines(), 0);
    EXPECT_EQ(view.document()->firstBlock().text(), SerialLogTextView::droppedMarker);
    EXPECT_LE(view.document()->blockCount(), 101);
    EXPECT_EQ(view.document()->findBlockByNumber(1).text(),
              QStringLiteral("12:00:00.000 RX line %1").arg(view.droppedLines()));
    EXPECT_EQ(lastLine(view), QStringLiteral("12:00:00.000 RX line 119"));
    EXPECT_EQ(topLine(view), reading);

    // Later drops keep a single marker.
    view.appendDelta(lines(120, 200));
    EXPECT_EQ(view.document()->firstBlock().text(), SerialLogTextView::droppedMarker);
    EXPECT_NE(view.document()->findBlockByNumber(1).text(), SerialLogTextView::droppedMarker);
    EXPECT_EQ(lastLine(view), QStringLiteral("12:00:00.000 RX line 319"));
}

TEST(SerialLogTextViewTest, ABurstGoesInBySlicesInOrderAndAResetDropsWhatWaits) {
    SerialLogTextView view;
    view.resize(400, 240);
    view.show();
    const int burst = 2 * SerialLogTextView::sliceLines + 50;
    view.appendDelta(lines(0, burst));
    EXPECT_EQ(view.document()->blockCount(), SerialLogTextView::sliceLines);
    EXPECT_TRUE(view.hasPendingLines());
    view.appendDelta(lines(burst, 3)); // behind the burst, not before its rest
    for (int pass = 0; pass < 10 && view.hasPendingLines(); ++pass) {
        QCoreApplication::processEvents();
    }
    ASSERT_FALSE(view.hasPendingLines());
    ASSERT_EQ(view.document()->blockCount(), burst + 3);
    for (int i : {0, SerialLogTextView::sliceLines, burst - 1, burst + 2}) {
        EXPECT_EQ(view.document()->findBlockByNumber(i).text(),
                  QStringLiteral("12:00:00.000 RX line %1").arg(i));
    }
    EXPECT_EQ(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());

    view.appendDelta(lines(0, burst));
    view.resetText(lines(7, 1));
    QCoreApplication::processEvents();
    EXPECT_FALSE(view.hasPendingLines());
    EXPECT_EQ(view.document()->toPlainText(), QStringLiteral("12:00:00.000 RX line 7"));
}

TEST(SerialLogPanelViewTest, ToolbarFollowsPauseAndLogPresence) {
    SerialLogPanelView panel;
    EXPECT_FALSE(panel.copyButton()->isEnabled());
    EXPECT_FALSE(panel.clearButton()->isEnabled());
    EXPECT_TRUE(panel.pausedBadge()->isHidden());
    EXPECT_EQ(panel.pauseButton()->text(), QStringLiteral("暂停"));

    QSignalSpy pause(&panel, &SerialLogPanelView::pauseRequested);
    panel.pauseButton()->click();
    ASSERT_EQ(pause.size(), 1);
    EXPECT_TRUE(pause[0][0].toBool());
    panel.setPaused(true);
    EXPECT_FALSE(panel.pausedBadge()->isHidden());
    EXPECT_EQ(panel.pauseButton()->text(), QStringLiteral("继续"));
    panel.pauseButton()->click();
    EXPECT_FALSE(pause[1][0].toBool());

    panel.setHasLogs(true);
    EXPECT_TRUE(panel.copyButton()->isEnabled());
    EXPECT_TRUE(panel.clearButton()->isEnabled());
}

// The real model, binding and window against the simulated device.
class SerialLogBindingTest : public ::testing::Test, protected test::DesktopScene {
protected:
    void SetUp() override { ASSERT_TRUE(data.isValid()); }
};

TEST_F(SerialLogBindingTest, ToggleSizesTheWindowPauseStopsLinesButNotTheLink) {
    DevsimProcess device({"--interval", "100"});
    ASSERT_TRUE(test::waitUntil([&] { return QFile::exists(device.link); }, 5000));
    buildScene(sceneParts(device.link));
    AppModel& model = *this->model;
    AppShell& shell = *this->shell;
    shell.start();
    QCoreApplication::processEvents();
    FloatingWindow& window = *shell.window();
    ASSERT_TRUE(window.isVisible());
    EXPECT_EQ(window.height(), 719);
    // Nothing is configured yet, so the first start opened the settings; back to the history.
    shell.mainView()->sidebar()->setSelection(MainSidebarItem::clipboard);

    auto* panel = shell.mainView()->clipboardPanel()->findChild<SerialLogPanelView*>();
    ASSERT_NE(panel, nullptr);
    EXPECT_FALSE(panel->isVisible());
    model.applySerialDebugLogEnabled(true);
    // The offscreen screen is 800 high; the window takes all of it, frame included.
    EXPECT_EQ(window.frameGeometry().height(), 800);
    EXPECT_TRUE(panel->isVisible());

    model.selectSerialPort(device.link);
    SerialLogTextView& text = *panel->textView();
    SerialLogStore& store = model.serial().logStore();
    ASSERT_TRUE(test::waitUntil([&] { return text.document()->blockCount() > 4; }, 8000));
    EXPECT_TRUE(panel->copyButton()->isEnabled());
    panel->copyButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), store.plainText());

    panel->pauseButton()->click();
    EXPECT_TRUE(model.serial().isLogPaused());
    EXPECT_FALSE(panel->pausedBadge()->isHidden());
    const QString shown = text.toPlainText();
    const QString stored = store.plainText();
    device.skipPending();
    for (int probe = 0; probe < 3; ++probe) {
        ASSERT_TRUE(
            test::waitUntil([&] { return bool(device.waitFor("probe_matched", {}, 0)); }, 3000));
    }
    test::waitUntil([] { return false; }, 600); // one batch interval for stragglers
    EXPECT_EQ(text.toPlainText(), shown);
    EXPECT_EQ(store.plainText(), stored);
    EXPECT_TRUE(model.serial().isConnected());

    panel->pauseButton()->click();
    EXPECT_FALSE(model.serial().isLogPaused());
    ASSERT_TRUE(test::waitUntil([&] { return text.toPlainText() != shown; }, 5000));

    panel->clearButton()->click();
    EXPECT_FALSE(store.hasLogs());
    EXPECT_FALSE(panel->clearButton()->isEnabled());
    // Whatever arrived since the clear is all the view shows.
    EXPECT_TRUE(test::waitUntil([&] { return store.hasLogs(); }, 3000));
    EXPECT_EQ(text.toPlainText() + QLatin1Char('\n'), store.plainText());

    model.applySerialDebugLogEnabled(false);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(window.frameGeometry().height(), 800); // never shrinks

    // Hidden, the log goes on recording (bounded) and the view is let go; shown again, it
    // has what came in meanwhile. Neither touches the user's pause.
    EXPECT_FALSE(model.serial().isLogPaused());
    EXPECT_EQ(store.maximumEntries(), AppModel::hiddenLogEntries);
    EXPECT_TRUE(text.toPlainText().isEmpty());
    const qsizetype hiddenFrom = store.entries().size();
    ASSERT_TRUE(test::waitUntil([&] { return store.entries().size() > hiddenFrom + 2; }, 5000));
    panel->pauseButton()->click();
    model.applySerialDebugLogEnabled(true);
    EXPECT_TRUE(model.serial().isLogPaused());
    EXPECT_EQ(text.toPlainText() + QLatin1Char('\n'), store.plainText());
    model.applySerialDebugLogEnabled(false);
    EXPECT_TRUE(model.serial().isLogPaused());
}
