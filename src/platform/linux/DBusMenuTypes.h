#pragma once

#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QVariantMap>

namespace orvane {

// A menu entry and, to the depth asked, its children (D-Bus (ia{sv}av), each child a
// variant holding the same structure).
struct DBusMenuLayoutItem {
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayoutItem> children;
};

// An entry's properties by its id (D-Bus (ia{sv})).
struct DBusMenuItemProperties {
    int id = 0;
    QVariantMap properties;
};

// Once, before any of these types crosses the bus.
void registerDBusMenuTypes();

QDBusArgument& operator<<(QDBusArgument& out, const DBusMenuLayoutItem& item);
const QDBusArgument& operator>>(const QDBusArgument& in, DBusMenuLayoutItem& item);
QDBusArgument& operator<<(QDBusArgument& out, const DBusMenuItemProperties& item);
const QDBusArgument& operator>>(const QDBusArgument& in, DBusMenuItemProperties& item);

} // namespace orvane

Q_DECLARE_METATYPE(orvane::DBusMenuLayoutItem)
Q_DECLARE_METATYPE(orvane::DBusMenuItemProperties)
