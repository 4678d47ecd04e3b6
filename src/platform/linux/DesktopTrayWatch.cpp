#include "platform/linux/DesktopTrayWatch.h"

#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <QThread>

#include <cstdlib>
#include <xcb/xcb.h>

namespace orvane {

DesktopTrayWatch::DesktopTrayWatch(QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , available_(QSystemTrayIcon::isSystemTrayAvailable()) {
    if (available_) {
        return;
    }
    if (bus.isConnected()) {
        busWatcher_ = new QDBusServiceWatcher(QStringLiteral("org.kde.StatusNotifierWatcher"), bus,
                                              QDBusServiceWatcher::WatchForRegistration, this);
        connect(busWatcher_, &QDBusServiceWatcher::serviceRegistered, this,
                &DesktopTrayWatch::recheck);
    }
    // Off X11 (a Wayland session) only the bus can announce a host.
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11) {
        return;
    }
    xcb_connection_t* connection = x11->connection();
    static const char name[] = "MANAGER";
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
    if (!reply) {
        return;
    }
    managerAtom_ = reply->atom;
    std::free(reply);
    // Qt's own screen setup already listens for structure changes on the root window, the
    // mask a tray's MANAGER announcement is sent with.
    QCoreApplication::instance()->installNativeEventFilter(this);
    filtering_ = true;
}

DesktopTrayWatch::~DesktopTrayWatch() {
    stopWatching();
}

void DesktopTrayWatch::setAppearedHandler(std::function<void()> handler) {
    appeared_ = std::move(handler);
}

bool DesktopTrayWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    // The announcement names the selection; the look afterwards decides whether it is the
    // tray's, of this screen. Queued: the filter runs inside Qt's event dispatch.
    if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
        reinterpret_cast<const xcb_client_message_event_t*>(event)->type == managerAtom_) {
        QMetaObject::invokeMethod(this, &DesktopTrayWatch::recheck, Qt::QueuedConnection);
    }
    return false;
}

void DesktopTrayWatch::recheck() {
    Q_ASSERT(QThread::currentThread() == thread());
    if (available_ || !QSystemTrayIcon::isSystemTrayAvailable()) {
        return;
    }
    available_ = true;
    stopWatching();
    if (appeared_) {
        appeared_();
    }
}

void DesktopTrayWatch::stopWatching() {
    if (filtering_) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
        filtering_ = false;
    }
    delete busWatcher_;
    busWatcher_ = nullptr;
}

} // namespace orvane
