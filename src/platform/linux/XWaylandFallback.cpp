#include "platform/linux/XWaylandFallback.h"

#include <QFileInfo>
#include <QLibraryInfo>

namespace orvane::XWaylandFallback {

namespace {

Decision withDataControl(const QProcessEnvironment& environment, const Findings& findings) {
    const QString through =
        QStringLiteral("Wayland session: clipboard through %1, without window focus; ")
            .arg(findings.dataControl);
    const QString chosen = environment.value(QStringLiteral("QT_QPA_PLATFORM"));
    if (!chosen.isEmpty()) {
        return {
            {}, true, through + QStringLiteral("keeping QT_QPA_PLATFORM=%1 as set").arg(chosen)};
    }
    if (findings.waylandPlugin) {
        return {QStringLiteral("wayland"), true, through + QStringLiteral("window on Wayland")};
    }
    if (!environment.value(QStringLiteral("DISPLAY")).isEmpty()) {
        return {QStringLiteral("xcb"), true,
                through + QStringLiteral("window through XWayland (qt6-wayland is not installed)")};
    }
    return {
        {}, true, through + QStringLiteral("qt6-wayland is not installed and DISPLAY is not set")};
}

} // namespace

Decision decide(const QProcessEnvironment& environment, const Findings& findings) {
    const bool waylandSession =
        environment.value(QStringLiteral("XDG_SESSION_TYPE")) == u"wayland" ||
        !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
    if (!waylandSession) {
        return {};
    }
    if (!findings.dataControl.isEmpty()) {
        return withDataControl(environment, findings);
    }
    const QString chosen = environment.value(QStringLiteral("QT_QPA_PLATFORM"));
    if (!chosen.isEmpty()) {
        if (chosen.startsWith(u"xcb")) {
            return {};
        }
        return {{},
                false,
                QStringLiteral("Wayland session: keeping QT_QPA_PLATFORM=%1 as set; "
                               "clipboard changes are seen only while an Orvane window "
                               "has focus")
                    .arg(chosen)};
    }
    if (environment.value(QStringLiteral("DISPLAY")).isEmpty()) {
        return {{},
                false,
                QStringLiteral("Wayland session without XWayland (DISPLAY is not set): "
                               "clipboard changes are seen only while an Orvane window "
                               "has focus")};
    }
    return {QStringLiteral("xcb"), false,
            QStringLiteral("Wayland session: running through XWayland "
                           "(QT_QPA_PLATFORM=xcb) so that clipboard changes are seen "
                           "without window focus")};
}

bool waylandPluginInstalled() {
    return QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                             QStringLiteral("/platforms/libqwayland-generic.so"));
}

Decision applyToProcess(const Findings& findings) {
    const Decision decision = decide(QProcessEnvironment::systemEnvironment(), findings);
    if (!decision.platform.isEmpty()) {
        qputenv("QT_QPA_PLATFORM", decision.platform.toLatin1());
    }
    return decision;
}

} // namespace orvane::XWaylandFallback
