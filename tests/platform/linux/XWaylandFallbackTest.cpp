#include "platform/linux/XWaylandFallback.h"

#include <gtest/gtest.h>

using namespace orvane;

namespace {

XWaylandFallback::Decision
decideWith(std::initializer_list<std::pair<const char*, const char*>> vars,
           const XWaylandFallback::Findings& findings = {}) {
    QProcessEnvironment environment;
    for (const auto& [name, value] : vars) {
        environment.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    }
    return XWaylandFallback::decide(environment, findings);
}

TEST(XWaylandFallbackTest, WaylandSessionsRunThroughXWaylandUnlessTheUserChose) {
    const auto x11 = decideWith({{"XDG_SESSION_TYPE", "x11"}, {"DISPLAY", ":0"}});
    EXPECT_TRUE(x11.platform.isEmpty());
    EXPECT_TRUE(x11.logLine.isEmpty());

    const auto wayland = decideWith(
        {{"XDG_SESSION_TYPE", "wayland"}, {"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}});
    EXPECT_EQ(wayland.platform, u"xcb");
    EXPECT_TRUE(wayland.logLine.contains("XWayland"));

    // Some sessions announce Wayland only through the socket name.
    EXPECT_EQ(decideWith({{"WAYLAND_DISPLAY", "wayland-1"}, {"DISPLAY", ":1"}}).platform, u"xcb");

    const auto chosen = decideWith(
        {{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "wayland"}});
    EXPECT_TRUE(chosen.platform.isEmpty());
    EXPECT_TRUE(chosen.logLine.contains("QT_QPA_PLATFORM=wayland"));

    const auto noXWayland = decideWith({{"XDG_SESSION_TYPE", "wayland"}});
    EXPECT_TRUE(noXWayland.platform.isEmpty()); // xcb could not even start
    EXPECT_FALSE(noXWayland.logLine.isEmpty());

    const auto xcbChosen = decideWith(
        {{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "xcb"}});
    EXPECT_TRUE(xcbChosen.platform.isEmpty());
    EXPECT_TRUE(xcbChosen.logLine.isEmpty());
}

TEST(XWaylandFallbackTest, DataControlKeepsTheWindowNativeWhenQtCanBe) {
    const XWaylandFallback::Findings found{QStringLiteral("zwlr_data_control_manager_v1"), true};
    const auto native = decideWith({{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}, found);
    EXPECT_EQ(native.platform, u"wayland");
    EXPECT_TRUE(native.dataControl);
    EXPECT_TRUE(native.logLine.contains("zwlr_data_control_manager_v1"));

    // Without Qt's Wayland plugin the window needs XWayland; the clipboard does not.
    const XWaylandFallback::Findings noPlugin{QStringLiteral("ext_data_control_manager_v1"), false};
    const auto xwayland =
        decideWith({{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}, noPlugin);
    EXPECT_EQ(xwayland.platform, u"xcb");
    EXPECT_TRUE(xwayland.dataControl);
    EXPECT_TRUE(xwayland.logLine.contains("qt6-wayland"));

    const auto chosen =
        decideWith({{"WAYLAND_DISPLAY", "wayland-0"}, {"QT_QPA_PLATFORM", "xcb"}}, found);
    EXPECT_TRUE(chosen.platform.isEmpty());
    EXPECT_TRUE(chosen.dataControl);
}

} // namespace
