#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QObject;

namespace orvane {

// One look at BlueZ's object tree over the system bus (org.bluez's ObjectManager): the
// adapters, the devices it knows and the GATT characteristics of connected ones. Used for
// what Qt Bluetooth does not expose on BlueZ: whether BlueZ is there and lets us in, the
// devices connected at the system level, and the characteristics' ATT MTU.
struct BluezObjectTree {
    enum class Access {
        ok,
        absent, // no system bus, or nobody owns org.bluez
        denied, // the bus policy refuses us
    };
    struct Adapter {
        QString path;
        QString address;
        bool powered = false;
    };
    struct Device {
        QString path;
        QString address; // upper-case AA:BB:CC:DD:EE:FF
        QString adapterPath;
        bool connected = false;
        QStringList serviceUUIDs; // canonical
    };
    struct Characteristic {
        QString path;
        QString uuid; // canonical
        int mtu = 0;  // 0: BlueZ does not say
    };

    Access access = Access::absent;
    QList<Adapter> adapters;
    QList<Device> devices;
    QList<Characteristic> characteristics;

    // Reads the tree; waits at most `timeoutMs` for BlueZ.
    static BluezObjectTree read(QDBusConnection bus, int timeoutMs = 2000);
    // Asks for the tree without waiting: `done` gets it from `context`'s event loop once
    // BlueZ answers (or the call times out), and never after `context` is gone. Without a
    // bus it runs at once, with an absent BlueZ.
    static void readAsync(QDBusConnection bus, QObject* context,
                          std::function<void(const BluezObjectTree&)> done, int timeoutMs = 25000);

    // The tree in a reply to GetManagedObjects, or why there is none.
    static BluezObjectTree fromReply(const QDBusMessage& reply);

    std::optional<Device> device(const QString& address) const;
    // The characteristic with this UUID under the device's object path.
    std::optional<Characteristic> characteristic(const QString& devicePath,
                                                 const QString& uuid) const;
};

} // namespace orvane
