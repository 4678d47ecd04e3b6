#include "app/XdgAutostart.h"

#include <QDir>
#include <QTemporaryDir>

#include <cerrno>
#include <gtest/gtest.h>

using namespace orvane;

// The user reads Chinese chosen by the kind of failure, never the system's own text.
TEST(XdgAutostartTest, FailuresAreToldByTheirKind) {
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    // A directory where the entry belongs can be neither replaced nor deleted.
    ASSERT_TRUE(QDir().mkpath(config.path() + QStringLiteral("/autostart/orvane.desktop/x")));
    const auto enabled = XdgAutostart::setEnabled(true, QStringLiteral("/usr/bin/orvane"));
    const auto disabled = XdgAutostart::setEnabled(false, QStringLiteral("/usr/bin/orvane"));
    qputenv("XDG_CONFIG_HOME", saved);
    ASSERT_FALSE(enabled);
    EXPECT_EQ(enabled.error(), "无法写入自启动项");
    ASSERT_FALSE(disabled);
    EXPECT_EQ(disabled.error(), "无法写入自启动项");

    const QString autostart = QDir::homePath() + QStringLiteral("/.config/autostart");
    EXPECT_EQ(XdgAutostart::failureText(EACCES, autostart), "没有权限写入 ~/.config/autostart");
    EXPECT_EQ(XdgAutostart::failureText(EROFS, QStringLiteral("/etc/xdg/autostart")),
              "没有权限写入 /etc/xdg/autostart");
    EXPECT_EQ(XdgAutostart::failureText(ENOSPC, autostart), "磁盘已满");
    EXPECT_EQ(XdgAutostart::failureText(EDQUOT, autostart), "磁盘已满");
}
