// Runs under tests/support/run-under-sway with ORVANE_TEST_COMPOSITOR=weston: a private
// headless compositor that offers no clipboard data control.

#include "platform/linux/XWaylandFallback.h"
#include "platform/linux/wayland/DataControlClipboardIO.h"
#include "platform/linux/wayland/DataControlDiscovery.h"

#include <gtest/gtest.h>
#include <wayland-client.h>

using namespace orvane;

namespace {

void listGlobal(void* data, wl_registry*, uint32_t, const char* interface, uint32_t) {
    static_cast<QStringList*>(data)->append(QString::fromLatin1(interface));
}

void forgetGlobal(void*, wl_registry*, uint32_t) {}

const wl_registry_listener listing = {listGlobal, forgetGlobal};

TEST(DataControlFallbackTest, WithoutDataControlStartUpFallsBack) {
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        GTEST_SKIP() << "needs a compositor (tests/support/run-under-sway)";
    }
    // The compositor answers, it just lacks the managers.
    wl_display* display = wl_display_connect(nullptr);
    ASSERT_TRUE(display);
    QStringList globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listing, &globals);
    ASSERT_GE(wl_display_roundtrip(display), 0);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    EXPECT_TRUE(globals.contains(u"wl_compositor"));
    EXPECT_FALSE(globals.contains(u"ext_data_control_manager_v1"));
    EXPECT_FALSE(globals.contains(u"zwlr_data_control_manager_v1"));

    // As the program decides at start, before any Qt platform is chosen.
    const auto found = DataControlDiscovery::probe();
    ASSERT_FALSE(found);
    const XWaylandFallback::Findings findings{{}, XWaylandFallback::waylandPluginInstalled()};
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM")); // the driver's, not a user's
    environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":77"));
    const auto xwayland = XWaylandFallback::decide(environment, findings);
    EXPECT_EQ(xwayland.platform, u"xcb");
    EXPECT_FALSE(xwayland.dataControl);
    EXPECT_EQ(xwayland.logLine,
              u"Wayland session: running through XWayland (QT_QPA_PLATFORM=xcb) so that "
              u"clipboard changes are seen without window focus");

    environment.remove(QStringLiteral("DISPLAY"));
    const auto focusOnly = XWaylandFallback::decide(environment, findings);
    EXPECT_TRUE(focusOnly.platform.isEmpty());
    EXPECT_FALSE(focusOnly.dataControl);
    EXPECT_EQ(focusOnly.logLine,
              u"Wayland session without XWayland (DISPLAY is not set): clipboard changes "
              u"are seen only while an Orvane window has focus");

    // The backend, if tried all the same, says why it cannot run.
    DataControlClipboardIO io([](const QString&) {});
    EXPECT_TRUE(io.start());
}

} // namespace
