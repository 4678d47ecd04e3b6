#include "ui/AppShell.h"
#include "ui/ClipboardImageCache.h"
#include "ui/FloatingWindow.h"
#include "ui/MainSidebarView.h"
#include "ui/MainView.h"
#include "ui/SingleInstance.h"
#include "ui/TrayAvailability.h"
#include "ui/WindowSizeConfigurator.h"

#include <QDBusConnection>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <csignal>
#include <gtest/gtest.h>

using namespace orvane;

TEST(WindowSize, GrowsForTheLogAndNeverShrinks) {
    using C = WindowSizeConfigurator;
    EXPECT_EQ(C::resizedContent({536, 719}, true), QSize(616, 1010));
    EXPECT_EQ(C::resizedContent({700, 719}, true), QSize(700, 1010));
    EXPECT_EQ(C::resizedContent({616, 1009}, true), std::nullopt); // within 2 px
    EXPECT_EQ(C::resizedContent({616, 1007}, true), QSize(616, 1010));
    EXPECT_EQ(C::resizedContent({616, 1010}, false), std::nullopt);
    EXPECT_EQ(C::resizedContent({600, 716}, false), QSize(616, 719));

    // The offscreen screen is 800 high: room for the plain height, not for the log's.
    FloatingWindow window(FloatingWindow::Mode::floating);
    ASSERT_EQ(window.screen()->availableGeometry().height(), 800);
    EXPECT_EQ(window.size(), QSize(616, 719));
    EXPECT_EQ(window.minimumSize(), QSize(536, 719));
    window.sizeConfigurator().setSerialDebugLogEnabled(true);
    EXPECT_EQ(window.size(), QSize(616, 800));
    window.sizeConfigurator().setSerialDebugLogEnabled(false);
    EXPECT_EQ(window.size(), QSize(616, 800));
    window.resize(400, 500);
    EXPECT_EQ(window.size(), QSize(536, 719)); // the minimum; its height satisfies the rule
}

TEST(MainViewTest, SidebarAndSettingsFlagStayInStep) {
    ClipboardImageCache cache;
    MainView view(cache);
    QSignalSpy flag(&view, &MainView::showSettingsChanged);
    // Without a settings page the flag is kept but the clipboard stays on screen.
    view.setShowSettings(true);
    EXPECT_EQ(view.sidebarItem(), MainSidebarItem::clipboard);
    view.setShowSettings(false);

    auto* settings = new QWidget;
    view.setSettingsPanel(settings);
    flag.clear();
    view.setShowSettings(true);
    EXPECT_EQ(view.sidebarItem(), MainSidebarItem::settings);
    EXPECT_EQ(flag.size(), 1);
    view.sidebar()->findChild<QToolButton*>(QStringLiteral("clipboard"))->click();
    EXPECT_EQ(view.sidebarItem(), MainSidebarItem::clipboard);
    EXPECT_FALSE(view.showSettings());
    ASSERT_EQ(flag.size(), 2);
    EXPECT_FALSE(flag[1][0].toBool());
}

TEST(AppShellTest, EscapeHidesAndQuitNotifiesBeforeTheHookOnce) {
    ClipboardImageCache cache;
    AppShell shell(true, cache);
    QSignalSpy hidden(&shell, &AppShell::orvaneHideTransientUI);
    QSignalSpy active(&shell, &AppShell::orvaneDidBecomeActive);
    shell.presentMainWindow(false);
    EXPECT_TRUE(shell.window()->isVisible());
    EXPECT_GE(active.size(), 1);
    EXPECT_EQ(shell.presentationSource(), PanelPresentationSource::menuBar);
    // A left click on the icon while open keeps it open.
    shell.presentMainWindow(false);
    EXPECT_TRUE(shell.window()->isVisible());
    QTest::keyClick(shell.window(), Qt::Key_Escape);
    EXPECT_FALSE(shell.window()->isVisible());
    EXPECT_EQ(hidden.size(), 1);

    QStringList events;
    QObject::connect(&shell, &AppShell::orvaneWillTerminate, [&] { events << "willTerminate"; });
    shell.setShutdownHook([&] { events << "shutdown"; });
    shell.requestQuit();
    shell.requestQuit();
    EXPECT_EQ(events, QStringList({"willTerminate", "shutdown"}));
    shell.showMainWindow(PanelPresentationSource::dock);
    EXPECT_FALSE(shell.window()->isVisible());
}

TEST(AppShellTest, WithoutTrayTheWindowOpensAtStartAndClosingQuits) {
    ClipboardImageCache cache;
    AppShell shell(false, cache);
    int shutdowns = 0;
    shell.setShutdownHook([&] { ++shutdowns; });
    shell.start();
    EXPECT_TRUE(shell.window()->isVisible());
    EXPECT_EQ(shell.trayIcon(), nullptr);
    shell.window()->close();
    EXPECT_EQ(shutdowns, 1);
}

namespace {

class FakeTrayAvailability : public TrayAvailability {
public:
    bool isAvailable() const override { return available; }
    void setAppearedHandler(std::function<void()> handler) override {
        appeared = std::move(handler);
    }
    bool available = false;
    std::function<void()> appeared;
};

} // namespace

TEST(AppShellTest, ATrayThatAppearsLaterTakesTheIconAndClosingOnlyHides) {
    ClipboardImageCache cache;
    AppShell shell(false, cache);
    int shutdowns = 0;
    shell.setShutdownHook([&] { ++shutdowns; });
    FakeTrayAvailability tray;
    shell.watchTray(tray);
    shell.start();
    ASSERT_TRUE(shell.window()->isVisible());
    ASSERT_TRUE(tray.appeared);

    tray.available = true;
    tray.appeared();
    ASSERT_NE(shell.trayIcon(), nullptr);
    EXPECT_TRUE(shell.trayIcon()->isVisible());
    // The open window keeps its frame while the user has it, but closing now only hides.
    EXPECT_EQ(shell.window()->mode(), FloatingWindow::Mode::standalone);
    shell.window()->close();
    EXPECT_EQ(shutdowns, 0);
    EXPECT_FALSE(shell.isQuitting());
    EXPECT_FALSE(shell.window()->isVisible());
    QCoreApplication::processEvents();
    EXPECT_EQ(shell.window()->mode(), FloatingWindow::Mode::floating);
    shell.presentMainWindow(false);
    EXPECT_TRUE(shell.window()->isVisible());
}

// The name is claimed on a private session bus, so the test never meets a real session's
// Orvane; the second start is the real program.
class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) {
            GTEST_SKIP() << "dbus-daemon is not installed";
        }
        QProcess start;
        start.start(daemon, {QStringLiteral("--session"), QStringLiteral("--fork"),
                             QStringLiteral("--print-address=1"), QStringLiteral("--print-pid=1"),
                             QStringLiteral("--nosyslog")});
        ASSERT_TRUE(start.waitForFinished(10000));
        const QStringList lines =
            QString::fromUtf8(start.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 2);
        address_ = lines[0].trimmed();
        daemonPid_ = lines[1].trimmed().toInt();
    }
    void TearDown() override {
        QDBusConnection::disconnectFromBus(QStringLiteral("orvane-test"));
        if (daemonPid_ > 0) {
            ::kill(daemonPid_, SIGTERM);
        }
    }

    QString address_;
    int daemonPid_ = 0;
};

TEST_F(SingleInstanceTest, ASecondStartShowsTheFirstAndExits) {
    SingleInstance first(QDBusConnection::connectToBus(address_, QStringLiteral("orvane-test")));
    ASSERT_EQ(first.claim(), SingleInstance::Claim::primary) << first.failureReason().toStdString();
    QSignalSpy activations(&first, &SingleInstance::activationRequested);

    QTemporaryDir home;
    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(ORVANE_PROGRAM), {});
    ASSERT_TRUE(second.waitForStarted(10000));
    // The test's event loop must run to answer the call, so wait through the spy.
    ASSERT_TRUE(activations.wait(10000));
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
}

TEST(AppShellTest, QuitEndsTheEventLoopAlthoughTheWindowRefusesToClose) {
    ClipboardImageCache cache;
    AppShell shell(false, cache);
    shell.start();
    QTimer::singleShot(0, &shell, &AppShell::requestQuit);
    QTimer::singleShot(5000, [] { QCoreApplication::exit(1); }); // the loop would not end
    EXPECT_EQ(QCoreApplication::exec(), 0);
}

TEST(SingleInstanceWithoutBus, RunsAloneAndSaysWhy) {
    SingleInstance instance(QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/orvane-test-bus"), QStringLiteral("orvane-nobus")));
    EXPECT_EQ(instance.claim(), SingleInstance::Claim::noBus);
    EXPECT_FALSE(instance.failureReason().isEmpty());
    QDBusConnection::disconnectFromBus(QStringLiteral("orvane-nobus"));
}

TEST(FloatingWindowTest, OnlyTheFloatingWindowHidesOnEscape) {
    FloatingWindow standalone(FloatingWindow::Mode::standalone);
    standalone.show();
    QTest::keyClick(&standalone, Qt::Key_Escape);
    EXPECT_TRUE(standalone.isVisible());
    EXPECT_FALSE(standalone.windowFlags().testFlag(Qt::FramelessWindowHint));

    FloatingWindow floating(FloatingWindow::Mode::floating);
    EXPECT_TRUE(floating.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    floating.show();
    QSignalSpy hidden(&floating, &FloatingWindow::windowHidden);
    floating.close(); // a close request only hides
    EXPECT_FALSE(floating.isVisible());
    EXPECT_EQ(hidden.size(), 1);
}
