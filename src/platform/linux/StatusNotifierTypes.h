#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>

class QIcon;

namespace orvane {

// One size of an icon as a StatusNotifier item sends it: ARGB32 pixels in network byte
// order, row by row (D-Bus a(iiay) element).
struct StatusNotifierPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using StatusNotifierPixmaps = QList<StatusNotifierPixmap>;

// The item's tooltip (D-Bus (sa(iiay)ss)).
struct StatusNotifierToolTip {
    QString iconName;
    StatusNotifierPixmaps pixmaps;
    QString title;
    QString text;
};

// The icon at a few panel sizes; empty for a null icon.
StatusNotifierPixmaps statusNotifierPixmaps(const QIcon& icon);

// Once, before any of these types crosses the bus.
void registerStatusNotifierTypes();

QDBusArgument& operator<<(QDBusArgument& out, const StatusNotifierPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& in, StatusNotifierPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& out, const StatusNotifierToolTip& toolTip);
const QDBusArgument& operator>>(const QDBusArgument& in, StatusNotifierToolTip& toolTip);

} // namespace orvane

Q_DECLARE_METATYPE(orvane::StatusNotifierPixmap)
Q_DECLARE_METATYPE(orvane::StatusNotifierToolTip)
