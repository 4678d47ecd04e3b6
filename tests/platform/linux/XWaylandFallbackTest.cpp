#include "platform/linux/XWaylandFallback.h"

#include <gtest/gtest.h>

using namespace orvane;

namespace {

XWaylandFallback::Decision
decideWith(std::initializer_list<std::pair<const char*, const char*>> vars) {
    QProcessEnvironment environment;
    for (const auto& [name, value] : vars) {
        environment.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    }
    return XWaylandFallback::decide(environment);
}

TEST(XWaylandFallbackTest, WaylandSessionsRunThroughXWaylandUnlessTheUserChose) {
    const auto x11 = decideWith({{"XDG_SESSION_TYPE", "x11"}, {"DISPLAY", ":0"}});
    EXPECT_FALSE(x11.useXcb);
    EXPECT_TRUE(x11.logLine.isEmpty());

    const auto wayland = decideWith(
        {{"XDG_SESSION_TYPE", "wayland"}, {"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}});
    EXPECT_TRUE(wayland.useXcb);
    EXPECT_TRUE(wayland.logLine.contains("XWayland"));

    // Some sessions announce Wayland only through the socket name.
    EXPECT_TRUE(decideWith({{"WAYLAND_DISPLAY", "wayland-1"}, {"DISPLAY", ":1"}}).useXcb);

    const auto chosen = decideWith(
        {{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "wayland"}});
    EXPECT_FALSE(chosen.useXcb);
    EXPECT_TRUE(chosen.logLine.contains("QT_QPA_PLATFORM=wayland"));

    const auto noXWayland = decideWith({{"XDG_SESSION_TYPE", "wayland"}});
    EXPECT_FALSE(noXWayland.useXcb); // xcb could not even start
    EXPECT_FALSE(noXWayland.logLine.isEmpty());

    const auto xcbChosen = decideWith(
        {{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "xcb"}});
    EXPECT_FALSE(xcbChosen.useXcb);
    EXPECT_TRUE(xcbChosen.logLine.isEmpty());
}

} // namespace
