#include "ui/WindowSizeConfigurator.h"

#include "storage/AppStore.h"
#include "support/XvfbServer.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace orvane;

TEST(WindowSize, ALowWorkAreaLowersBothHeightsToItself) {
    using C = WindowSizeConfigurator;
    using H = C::Heights;
    EXPECT_EQ(C::heightsFor(0, false), (H{719, 719})); // screen unknown
    EXPECT_EQ(C::heightsFor(0, true), (H{719, 1010}));
    EXPECT_EQ(C::heightsFor(1400, true), (H{719, 1010}));
    EXPECT_EQ(C::heightsFor(1010, true), (H{719, 1010}));
    EXPECT_EQ(C::heightsFor(1009, true), (H{719, 1009}));
    EXPECT_EQ(C::heightsFor(719, false), (H{719, 719}));
    EXPECT_EQ(C::heightsFor(690, false), (H{690, 690})); // 768 lines less a panel
    EXPECT_EQ(C::heightsFor(690, true), (H{690, 690}));

    // A window already taller than the work area (moved from a larger screen) comes down.
    EXPECT_EQ(C::resizedContent({616, 1010}, true, 690), QSize(616, 690));
    EXPECT_EQ(C::resizedContent({616, 690}, true, 690), std::nullopt);
    EXPECT_EQ(C::resizedContent({616, 1010}, false, 0), std::nullopt);
}

// The real program on a 1280 x 720 X screen with the serial log on: the window fits.
TEST(WindowSizeOnX11, WithTheLogTheWindowFitsA720LineScreen) {
    QString whyNot;
    const auto xvfb = XvfbServer::start(&whyNot, {QStringLiteral("1280x720x24")});
    if (!xvfb) {
        GTEST_SKIP() << whyNot.toStdString();
    }
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QString dataHome = home.filePath(QStringLiteral("data"));
    const QByteArray oldDataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", dataHome.toUtf8());
    {
        auto store = AppStore::open();
        ASSERT_TRUE(store.ok());
        auto settings = store.value()->getSettings();
        ASSERT_TRUE(settings.ok());
        settings.value().serialDebugLogEnabled = true;
        ASSERT_TRUE(store.value()->saveSettings(settings.value()).ok());
    }
    qputenv("XDG_DATA_HOME", oldDataHome);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), xvfb->display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    relaxStringChecksForX(env);
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(ORVANE_PROGRAM), {});
    ASSERT_TRUE(program.waitForStarted(5000));

    // Without a tray the window opens at start; the log makes it grow to the screen.
    int height = 0;
    (void)QTest::qWaitFor(
        [&] {
            QProcess tool;
            tool.setProcessEnvironment(env);
            tool.start(QStringLiteral("xdotool"),
                       {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                        QStringLiteral("--name"), QStringLiteral("^Orvane$"),
                        QStringLiteral("getwindowgeometry"), QStringLiteral("--shell")});
            tool.waitForFinished(5000);
            const QString out = QString::fromUtf8(tool.readAllStandardOutput());
            for (const QString& line : out.split('\n')) {
                if (line.startsWith(QStringLiteral("HEIGHT="))) {
                    height = line.section('=', 1).toInt();
                }
            }
            return height >= 700;
        },
        8000);
    program.terminate();
    program.waitForFinished(5000);
    EXPECT_GE(height, 700);
    EXPECT_LE(height, 720);
}
