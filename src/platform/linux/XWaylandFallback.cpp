#include "platform/linux/XWaylandFallback.h"

namespace orvane::XWaylandFallback {

Decision decide(const QProcessEnvironment& environment) {
    const bool waylandSession =
        environment.value(QStringLiteral("XDG_SESSION_TYPE")) == u"wayland" ||
        !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
    if (!waylandSession) {
        return {};
    }
    const QString chosen = environment.value(QStringLiteral("QT_QPA_PLATFORM"));
    if (!chosen.isEmpty()) {
        if (chosen.startsWith(u"xcb")) {
            return {};
        }
        return {false, QStringLiteral("Wayland session: keeping QT_QPA_PLATFORM=%1 as set; "
                                      "clipboard changes are seen only while an Orvane window "
                                      "has focus")
                           .arg(chosen)};
    }
    if (environment.value(QStringLiteral("DISPLAY")).isEmpty()) {
        return {false, QStringLiteral("Wayland session without XWayland (DISPLAY is not set): "
                                      "clipboard changes are seen only while an Orvane window "
                                      "has focus")};
    }
    return {true, QStringLiteral("Wayland session: running through XWayland "
                                 "(QT_QPA_PLATFORM=xcb) so that clipboard changes are seen "
                                 "without window focus")};
}

QString applyToProcess() {
    const Decision decision = decide(QProcessEnvironment::systemEnvironment());
    if (decision.useXcb) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    return decision.logLine;
}

} // namespace orvane::XWaylandFallback
