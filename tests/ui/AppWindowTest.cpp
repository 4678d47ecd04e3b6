// The window as the program builds it (shell, views and AppModelBinding) on the real
// application model, against the simulated device on a pseudo-terminal. The clipboard is
// in memory; the model's own timers are the event loop's, as in the program.
#include "app/AppModel.h"
#include "support/DevsimProcess.h"
#include "support/EventLoopWait.h"
#include "support/FakeClipboardIO.h"
#include "support/FakeClipboardTimers.h"
#include "ui/AppModelBinding.h"
#include "ui/AppShell.h"
#include "ui/ClipboardHistoryRow.h"
#include "ui/ClipboardImageCache.h"
#include "ui/ClipboardPanelView.h"
#include "ui/ClipboardTransferOverlay.h"
#include "ui/FloatingWindow.h"
#include "ui/MainSidebarView.h"
#include "ui/MainView.h"
#include "ui/SerialPortPicker.h"
#include "ui/SerialStatusBar.h"
#include "ui/ToastBanner.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>
#include <utility>
#include <vector>

using namespace orvane;

namespace {

class AppWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(data.isValid());
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME"}) {
            savedEnv.emplace_back(name, qgetenv(name));
        }
        qputenv("XDG_DATA_HOME", data.filePath(QStringLiteral("data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", data.filePath(QStringLiteral("config")).toUtf8());
    }
    void TearDown() override {
        binding.reset();
        if (model) {
            model->shutdown();
        }
        for (const auto& [name, value] : savedEnv) {
            if (value.isNull()) {
                qunsetenv(name);
            } else {
                qputenv(name, value);
            }
        }
    }

    // The program's start: the model against the device's port, the binding, the window.
    void start(DevsimProcess& device) {
        ASSERT_TRUE(test::waitUntil([&] { return QFile::exists(device.link); }, 5000));
        AppModel::Parts parts;
        parts.serialPlatform = ProtocolStack::singlePortPlatform(device.link);
        parts.clipboardIO = &io;
        parts.clipboardTimers = &clock;
        model = std::make_unique<AppModel>(std::move(parts));
        binding = std::make_unique<AppModelBinding>(*model, shell);
        QCoreApplication::processEvents(); // startup()
        model->selectSerialPort(device.link);
        shell.showMainWindow(PanelPresentationSource::menuBar);
        // Nothing was configured, so the first start opened the settings: back to the history.
        shell.mainView()->sidebar()->setSelection(MainSidebarItem::clipboard);
        ASSERT_TRUE(test::waitUntil([&] { return model->serial().isConnected(); }, 8000));
    }

    ClipboardPanelView& panel() { return *shell.mainView()->clipboardPanel(); }
    QString rowText(int row) {
        return panel().rows()[row]->findChild<QLabel*>(QStringLiteral("preview"))->text();
    }
    QString percentText() {
        return panel().transferOverlay()->findChild<QLabel*>(QStringLiteral("percent"))->text();
    }

    QTemporaryDir data;
    std::vector<std::pair<const char*, QByteArray>> savedEnv;
    FakeClipboardIO io;
    FakeClipboardTimers clock;
    ClipboardImageCache images;
    AppShell shell{true, images};
    std::unique_ptr<AppModel> model;
    std::unique_ptr<AppModelBinding> binding;
};

} // namespace

TEST_F(AppWindowTest, PushedTextIsTheNewestRowAndADoubleClickUsesItWithoutPreview) {
    DevsimProcess device({"--interval", "100", "--push-text", "第一条", "--push-text", "第二条"});
    start(device);
    // The status bar offers the simulator's port as the one chosen.
    SerialPortPicker* picker = panel().statusBar()->portPicker();
    EXPECT_GE(picker->findText(device.link, Qt::MatchEndsWith), 0);
    EXPECT_TRUE(picker->currentText().endsWith(device.link)) << picker->currentText().toStdString();
    ASSERT_TRUE(test::waitUntil([&] { return panel().rows().size() == 2; }, 10000));
    EXPECT_EQ(rowText(0), "第二条");
    EXPECT_EQ(rowText(1), "第一条");
    // Close and connect again from the status bar (once the pushes are in: closing cuts a
    // transfer short).
    auto* toggle = panel().statusBar()->findChild<QPushButton*>(QStringLiteral("toggle"));
    EXPECT_EQ(toggle->text(), "关闭");
    toggle->click();
    ASSERT_TRUE(test::waitUntil([&] { return toggle->text() == "连接"; }, 5000));
    EXPECT_FALSE(model->serial().isConnected());
    toggle->click();
    ASSERT_TRUE(test::waitUntil([&] { return model->serial().isConnected(); }, 8000));
    EXPECT_EQ(toggle->text(), "关闭");

    QSignalSpy previews(&panel(), &ClipboardPanelView::previewRequested);
    const int writes = io.writes;
    ClipboardHistoryRow* older = panel().rows()[1];
    QTest::mouseClick(older, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseDClick(older, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::qWait(int(ClipboardPanelView::singleClickDelay.count()) + 100);
    EXPECT_EQ(previews.size(), 0);
    EXPECT_EQ(io.writes, writes + 1);
    EXPECT_EQ(io.content.text, "第一条");
}

TEST_F(AppWindowTest, SendShowsRisingProgressThenTheToastAndCancelEndsASend) {
    // A small device buffer makes a large file take long enough to be cancelled midway.
    DevsimProcess device({"--interval", "100", "--buffer-size", "2048", "--push-text", "发我"});
    start(device);
    ASSERT_TRUE(test::waitUntil([&] { return panel().rows().size() == 1; }, 10000));

    ClipboardTransferOverlay* overlay = panel().transferOverlay();
    ToastBanner* toast = panel().toastBanner();
    QStringList shown;
    QObject::connect(model.get(), &AppModel::clipboardTransferChanged, overlay, [&] {
        if (overlay->isVisible()) {
            shown.append(percentText());
        }
    });
    panel().rows()[0]->findChild<QPushButton*>(QStringLiteral("send"))->click();
    EXPECT_TRUE(overlay->isVisible());
    ASSERT_TRUE(test::waitUntil([&] { return toast->isVisible(); }, 8000));
    EXPECT_EQ(toast->message(), "发送成功 · 文本");
    EXPECT_EQ(toast->kind(), ToastBanner::Kind::success);
    EXPECT_TRUE(overlay->isDone());
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_EQ(shown.last(), "100%");
    QList<int> values;
    for (const QString& text : shown) {
        values.append(text.chopped(1).toInt());
    }
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end())) << shown.join(' ').toStdString();
    ASSERT_TRUE(test::waitUntil([&] { return !overlay->isVisible(); }, 3000));

    // A file of several megabytes, cancelled while it goes out.
    const QString path = data.filePath(QStringLiteral("大文件.bin"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(6 * 1024 * 1024, 'x'));
    }
    io.copy({ClipboardKind::files, path, {path}, {}});
    clock.advance(std::chrono::milliseconds(1000));
    ASSERT_TRUE(test::waitUntil([&] { return panel().rows().size() == 2; }, 5000));
    ASSERT_EQ(panel().rows()[0]->entry().kind, ClipboardKind::files);
    shown.clear();
    panel().rows()[0]->findChild<QPushButton*>(QStringLiteral("send"))->click();
    ASSERT_TRUE(test::waitUntil(
        [&] { return model->clipboardTransferProgress() > 0 || !overlay->isVisible(); }, 8000));
    ASSERT_TRUE(overlay->isVisible()) << toast->message().toStdString();
    ASSERT_FALSE(overlay->isDone());
    overlay->findChild<QPushButton*>(QStringLiteral("cancelSend"))->click();
    // The sending thread stops at its next step; the window follows the model's word.
    ASSERT_TRUE(test::waitUntil([&] { return !overlay->isVisible(); }, 5000));
    EXPECT_FALSE(model->isClipboardTransferring());
    EXPECT_EQ(toast->message(), "已取消发送");
    EXPECT_EQ(toast->kind(), ToastBanner::Kind::warning);
}

TEST_F(AppWindowTest, TheWindowGrowsForTheDebugLogAndKeepsItsMinimum) {
    DevsimProcess device({"--interval", "100"});
    start(device);
    FloatingWindow* window = shell.window();
    EXPECT_EQ(window->size(), QSize(616, 719));
    EXPECT_EQ(window->minimumSize(), QSize(536, 719));
    // The offscreen screen is 800 high, lower than the log's height.
    model->applySerialDebugLogEnabled(true);
    EXPECT_EQ(window->size(), QSize(616, 800));
    model->applySerialDebugLogEnabled(false);
    EXPECT_EQ(window->size(), QSize(616, 800)); // never shrinks
    window->resize(500, 600);
    EXPECT_EQ(window->size(), QSize(536, 719));

    // The settings flag: raised by the model, cleared by the tray icon's left click.
    model->setShowSettings(true);
    EXPECT_TRUE(shell.mainView()->showSettings());
    shell.presentMainWindow(false);
    EXPECT_FALSE(model->showSettings());

    QStringList menu;
    for (const QAction* action : shell.contextMenu()->actions()) {
        if (!action->isSeparator()) {
            menu << action->text() + QLatin1Char(' ') + action->shortcut().toString();
        }
    }
    EXPECT_EQ(menu, QStringList({"设置 ", "退出 Ctrl+Q"}));
}
