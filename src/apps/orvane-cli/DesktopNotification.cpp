#include "apps/orvane-cli/DesktopNotification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include <unistd.h>

namespace orvane::DesktopNotification {

namespace {

// Long enough for a server that is started on demand, short enough for an action's user.
constexpr int notifyTimeoutMs = 3000;
constexpr int serverDecidesHowLong = -1;
constexpr int lowUrgency = 0;

} // namespace

bool wanted() {
    return isatty(STDERR_FILENO) == 0;
}

void show(const QString& summary, const QString& body, bool passing) {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("orvane")}};
    if (passing) {
        hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(lowUrgency)));
        hints.insert(QStringLiteral("transient"), true);
    }
    message << QStringLiteral("Orvane") << 0u << QStringLiteral("orvane") << summary << body
            << QStringList() << hints << serverDecidesHowLong;
    bus.call(message, QDBus::Block, notifyTimeoutMs);
}

} // namespace orvane::DesktopNotification
