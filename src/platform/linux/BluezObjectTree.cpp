#include "platform/linux/BluezObjectTree.h"

#include "bluetooth/BLEUUIDs.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QMap>
#include <QVariantMap>

namespace orvane {

namespace {

using InterfaceMap = QMap<QString, QVariantMap>;
using ManagedObjects = QMap<QDBusObjectPath, InterfaceMap>;

const QString bluezService = QStringLiteral("org.bluez");

} // namespace

} // namespace orvane

Q_DECLARE_METATYPE(orvane::InterfaceMap)
Q_DECLARE_METATYPE(orvane::ManagedObjects)

namespace orvane {

namespace {

void registerTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<InterfaceMap>();
        qDBusRegisterMetaType<ManagedObjects>();
        return true;
    }();
    Q_UNUSED(registered);
}

QDBusMessage managedObjectsCall() {
    return QDBusMessage::createMethodCall(bluezService, QStringLiteral("/"),
                                          QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                                          QStringLiteral("GetManagedObjects"));
}

} // namespace

BluezObjectTree BluezObjectTree::read(QDBusConnection bus, int timeoutMs) {
    if (!bus.isConnected()) {
        return {};
    }
    registerTypes();
    return fromReply(bus.call(managedObjectsCall(), QDBus::Block, timeoutMs));
}

void BluezObjectTree::readAsync(QDBusConnection bus, QObject* context,
                                std::function<void(const BluezObjectTree&)> done, int timeoutMs) {
    if (!bus.isConnected()) {
        done({});
        return;
    }
    registerTypes();
    auto* watcher =
        new QDBusPendingCallWatcher(bus.asyncCall(managedObjectsCall(), timeoutMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [watcher, done = std::move(done)] {
                         watcher->deleteLater();
                         done(fromReply(watcher->reply()));
                     });
}

BluezObjectTree BluezObjectTree::fromReply(const QDBusMessage& reply) {
    registerTypes();
    BluezObjectTree tree;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        const QDBusError error(reply);
        tree.access = error.type() == QDBusError::AccessDenied ? Access::denied : Access::absent;
        return tree;
    }
    tree.access = Access::ok;
    const auto objects =
        qdbus_cast<ManagedObjects>(reply.arguments().constFirst().value<QDBusArgument>());
    for (auto object = objects.cbegin(); object != objects.cend(); ++object) {
        const QString path = object.key().path();
        const InterfaceMap& interfaces = object.value();
        if (const auto adapter = interfaces.find(QStringLiteral("org.bluez.Adapter1"));
            adapter != interfaces.end()) {
            tree.adapters.append({path,
                                  adapter->value(QStringLiteral("Address")).toString().toUpper(),
                                  adapter->value(QStringLiteral("Powered")).toBool()});
        }
        if (const auto device = interfaces.find(QStringLiteral("org.bluez.Device1"));
            device != interfaces.end()) {
            QStringList uuids;
            for (const QString& uuid : device->value(QStringLiteral("UUIDs")).toStringList()) {
                uuids.append(BLEUUIDs::canonical(uuid));
            }
            tree.devices.append(
                {path, device->value(QStringLiteral("Address")).toString().toUpper(),
                 device->value(QStringLiteral("Adapter")).value<QDBusObjectPath>().path(),
                 device->value(QStringLiteral("Connected")).toBool(), uuids});
        }
        if (const auto characteristic =
                interfaces.find(QStringLiteral("org.bluez.GattCharacteristic1"));
            characteristic != interfaces.end()) {
            tree.characteristics.append(
                {path,
                 BLEUUIDs::canonical(characteristic->value(QStringLiteral("UUID")).toString()),
                 characteristic->value(QStringLiteral("MTU")).toInt()});
        }
    }
    return tree;
}

std::optional<BluezObjectTree::Device> BluezObjectTree::device(const QString& address) const {
    for (const Device& device : devices) {
        if (device.address == address) {
            return device;
        }
    }
    return std::nullopt;
}

std::optional<BluezObjectTree::Characteristic>
BluezObjectTree::characteristic(const QString& devicePath, const QString& uuid) const {
    for (const Characteristic& c : characteristics) {
        if (c.uuid == uuid && c.path.startsWith(devicePath + u'/')) {
            return c;
        }
    }
    return std::nullopt;
}

} // namespace orvane
