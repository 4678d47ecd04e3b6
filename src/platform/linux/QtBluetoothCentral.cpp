#include "platform/linux/QtBluetoothCentral.h"

#include "bluetooth/BLEUUIDs.h"
#include "platform/linux/BleControllerErrorText.h"
#include "platform/linux/BluezObjectTree.h"

#include <QBluetoothAddress>
#include <QBluetoothDeviceDiscoveryAgent>
#include <QBluetoothUuid>
#include <QLowEnergyCharacteristic>
#include <QLowEnergyDescriptor>
#include <QRegularExpression>
#include <QThread>

namespace orvane {

namespace {

// BlueZ's MTU counts the 3-byte ATT header of a write.
constexpr int attHeaderLength = 3;
constexpr int defaultWriteLength = 20;

QString canonicalUuid(const QBluetoothUuid& uuid) {
    return BLEUUIDs::canonical(uuid.toString(QUuid::WithoutBraces));
}

QString mtuKey(const QString& service, const QString& characteristic) {
    return service + u'/' + characteristic;
}

// BlueZ names its devices' objects after their address: …/dev_AA_BB_CC_DD_EE_FF.
QString addressFromDevicePath(const QString& path) {
    const qsizetype at = path.lastIndexOf(QStringLiteral("/dev_"));
    return at < 0 ? QString() : path.mid(at + 5).replace(u'_', u':').toUpper();
}

} // namespace

QtBluetoothCentral::QtBluetoothCentral(Log warn, QObject* parent)
    : QObject(parent)
    , warn_(std::move(warn))
    , bus_(QDBusConnection::systemBus()) {
    if (bus_.isConnected()) {
        // BlueZ starting or stopping, adapters coming and going, power switched: each
        // changes the state. Subscribing needs no access to BlueZ itself.
        const QString bluez = QStringLiteral("org.bluez");
        bluezWatcher_ = std::make_unique<QDBusServiceWatcher>(
            bluez, bus_, QDBusServiceWatcher::WatchForOwnerChange);
        connect(bluezWatcher_.get(), &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this] { probeBluez(); });
        for (const char* signal : {"InterfacesAdded", "InterfacesRemoved"}) {
            bus_.connect(
                bluez, QStringLiteral("/"), QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                QString::fromLatin1(signal), this, SLOT(onBluezObjectsChanged(QDBusMessage)));
        }
        bus_.connect(bluez, QString(), QStringLiteral("org.freedesktop.DBus.Properties"),
                     QStringLiteral("PropertiesChanged"), this,
                     SLOT(onPropertiesChanged(QString, QVariantMap, QStringList, QDBusMessage)));
        bus_.connect(bluez, QString(), QStringLiteral("org.bluez.Device1"),
                     QStringLiteral("Disconnected"), this,
                     SLOT(onDeviceDisconnected(QString, QString, QDBusMessage)));
    }
    probeBluez();
}

void QtBluetoothCentral::probeBluez() {
    // A hung bluetoothd must not hold up the caller (the program's start above all): the
    // state stays as it is until BlueZ answers, and only the newest look counts.
    const quint64 probe = ++probeCount_;
    BluezObjectTree::readAsync(bus_, this, [this, probe](const BluezObjectTree& tree) {
        if (probe == probeCount_) {
            applyBluezTree(tree);
        }
    });
}

void QtBluetoothCentral::applyBluezTree(const BluezObjectTree& tree) {
    State state = State::unsupported;
    QString path;
    QString address;
    if (tree.access == BluezObjectTree::Access::denied) {
        state = State::unauthorized;
    } else if (!tree.adapters.isEmpty()) {
        const BluezObjectTree::Adapter& adapter = tree.adapters.constFirst();
        path = adapter.path;
        address = adapter.address;
        state = adapter.powered ? State::poweredOn : State::poweredOff;
    }
    if (address != adapterAddress_) {
        if (agent_) { // bound to the adapter that is gone
            agent_->stop();
            agent_.reset();
        }
        adapterAddress_ = address;
    }
    adapterPath_ = path;
    setState(state);
}

void QtBluetoothCentral::onBluezObjectsChanged(const QDBusMessage& signal) {
    const QList<QVariant> args = signal.arguments();
    // Only adapters matter here; devices come and go with every scan.
    if (signal.member() == QStringLiteral("InterfacesRemoved") && args.size() == 2 &&
        !args[1].toStringList().contains(QStringLiteral("org.bluez.Adapter1"))) {
        return;
    }
    if (signal.member() == QStringLiteral("InterfacesAdded") && !adapterPath_.isEmpty()) {
        return; // we have an adapter already
    }
    probeBluez();
}

QtBluetoothCentral::~QtBluetoothCentral() {
    delegate_ = nullptr;
    if (agent_) {
        agent_->stop();
    }
    closeLink();
}

void QtBluetoothCentral::warn(const QString& line) const {
    if (warn_) {
        warn_(line);
    }
}

void QtBluetoothCentral::report(std::function<void(Delegate&)> event) {
    // Events reach the delegate from the event loop, never from inside the call that led
    // to them: Qt reports some failures synchronously.
    QMetaObject::invokeMethod(
        this,
        [this, event = std::move(event)] {
            if (delegate_) {
                event(*delegate_);
            }
        },
        Qt::QueuedConnection);
}

void QtBluetoothCentral::setDelegate(Delegate* delegate) {
    Q_ASSERT(QThread::currentThread() == thread());
    delegate_ = delegate;
    if (delegate_) {
        report([state = state_](Delegate& d) { d.centralStateChanged(state); });
    }
}

void QtBluetoothCentral::setState(State state) {
    if (state_ != state) {
        state_ = state;
        if (delegate_) { // a new delegate hears the state from setDelegate
            report([state](Delegate& d) { d.centralStateChanged(state); });
        }
    }
}

void QtBluetoothCentral::onPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                             const QStringList& invalidated,
                                             const QDBusMessage& signal) {
    Q_UNUSED(invalidated);
    if (interface == QStringLiteral("org.bluez.Adapter1") && signal.path() == adapterPath_ &&
        changed.contains(QStringLiteral("Powered"))) {
        setState(changed.value(QStringLiteral("Powered")).toBool() ? State::poweredOn
                                                                   : State::poweredOff);
    }
}

void QtBluetoothCentral::onDeviceDisconnected(const QString& reason, const QString& message,
                                              const QDBusMessage& signal) {
    Q_UNUSED(message);
    disconnectReasons_.insert(addressFromDevicePath(signal.path()), reason);
}

std::optional<QString> QtBluetoothCentral::canonicalIdentifier(const QString& text) const {
    static const QRegularExpression address(QStringLiteral("^[0-9A-F]{2}(:[0-9A-F]{2}){5}$"));
    const QString upper = text.trimmed().toUpper();
    if (!address.match(upper).hasMatch()) {
        return std::nullopt;
    }
    return upper;
}

// ---- Scanning -------------------------------------------------------------------------

void QtBluetoothCentral::scanForPeripherals() {
    Q_ASSERT(QThread::currentThread() == thread());
    if (state_ != State::poweredOn) {
        return;
    }
    if (!agent_) {
        agent_ =
            std::make_unique<QBluetoothDeviceDiscoveryAgent>(QBluetoothAddress(adapterAddress_));
        agent_->setLowEnergyDiscoveryTimeout(0); // the service ends the scan itself
        connect(agent_.get(), &QBluetoothDeviceDiscoveryAgent::deviceDiscovered, this,
                &QtBluetoothCentral::onDeviceSeen);
        connect(agent_.get(), &QBluetoothDeviceDiscoveryAgent::deviceUpdated, this,
                [this](const QBluetoothDeviceInfo& info) { onDeviceSeen(info); });
        connect(agent_.get(), &QBluetoothDeviceDiscoveryAgent::errorOccurred, this,
                &QtBluetoothCentral::onDiscoveryAgentError);
    }
    if (!agent_->isActive()) {
        agent_->start(QBluetoothDeviceDiscoveryAgent::LowEnergyMethod);
    }
}

void QtBluetoothCentral::stopScan() {
    if (agent_ && agent_->isActive()) {
        agent_->stop();
    }
}

void QtBluetoothCentral::onDeviceSeen(const QBluetoothDeviceInfo& info) {
    Advertisement advertisement;
    advertisement.id = info.address().toString().toUpper();
    // BlueZ stands in the address for a missing name; that is no name to show.
    QString dashed = advertisement.id;
    dashed.replace(u':', u'-');
    if (!info.name().isEmpty() && info.name().toUpper() != dashed) {
        advertisement.peripheralName = info.name();
    }
    advertisement.rssi = info.rssi();
    for (const QBluetoothUuid& uuid : info.serviceUuids()) {
        advertisement.serviceUUIDs.append(canonicalUuid(uuid));
    }
    seen_.insert(advertisement.id, info);
    report([advertisement](Delegate& d) { d.didDiscover(advertisement); });
}

void QtBluetoothCentral::onDiscoveryAgentError() {
    switch (agent_->error()) {
    case QBluetoothDeviceDiscoveryAgent::PoweredOffError:
        setState(State::poweredOff);
        break;
    case QBluetoothDeviceDiscoveryAgent::MissingPermissionsError:
        setState(State::unauthorized);
        break;
    case QBluetoothDeviceDiscoveryAgent::InvalidBluetoothAdapterError:
    case QBluetoothDeviceDiscoveryAgent::UnsupportedPlatformError:
    case QBluetoothDeviceDiscoveryAgent::UnsupportedDiscoveryMethod:
        setState(State::unsupported);
        break;
    default:
        warn(QStringLiteral("[BLE] scan failed: ") + agent_->errorString());
        break;
    }
}

// ---- Peripherals known to BlueZ ----------------------------------------------------------

bool QtBluetoothCentral::isKnownPeripheral(const QString& id) {
    if (state_ != State::poweredOn) {
        return false;
    }
    const auto device = BluezObjectTree::read(bus_).device(id);
    return device && device->adapterPath == adapterPath_;
}

QStringList QtBluetoothCentral::connectedPeripherals(const QStringList& services) {
    QStringList ids;
    if (state_ != State::poweredOn) {
        return ids;
    }
    for (const auto& device : BluezObjectTree::read(bus_).devices) {
        const bool offers = std::any_of(services.begin(), services.end(), [&](const QString& s) {
            return device.serviceUUIDs.contains(BLEUUIDs::canonical(s));
        });
        if (device.connected && device.adapterPath == adapterPath_ && offers) {
            ids.append(device.address);
        }
    }
    return ids;
}

bool QtBluetoothCentral::isPeripheralConnected(const QString& id) {
    if (link_ && link_->id == id && link_->phase == Link::Phase::connected) {
        return true;
    }
    if (state_ != State::poweredOn) {
        return false;
    }
    const auto device = BluezObjectTree::read(bus_).device(id);
    return device && device->connected;
}

// ---- Connection ---------------------------------------------------------------------

QtBluetoothCentral::Link* QtBluetoothCentral::linkFor(const QString& id) {
    return link_ && link_->id == id ? link_.get() : nullptr;
}

void QtBluetoothCentral::connectPeripheral(const QString& id) {
    Q_ASSERT(QThread::currentThread() == thread());
    openLink(id, true);
}

void QtBluetoothCentral::openLink(const QString& id, bool reportConnect) {
    closeLink(); // one peripheral at a time
    auto link = std::make_unique<Link>();
    link->id = id;
    link->reportConnect = reportConnect;
    disconnectReasons_.remove(id);
    const QBluetoothAddress local(adapterAddress_);
    const auto seen = seen_.find(id);
    QBluetoothDeviceInfo info =
        seen != seen_.end() ? *seen : QBluetoothDeviceInfo(QBluetoothAddress(id), QString(), 0);
    info.setCoreConfigurations(QBluetoothDeviceInfo::LowEnergyCoreConfiguration);
    link->controller = QLowEnergyController::createCentral(info, local, this);
    Link* raw = link.get();
    QLowEnergyController* controller = link->controller;
    connect(controller, &QLowEnergyController::connected, this,
            [this, raw] { onControllerConnected(*raw); });
    connect(controller, &QLowEnergyController::disconnected, this,
            [this, raw] { onControllerDisconnected(*raw); });
    connect(controller, &QLowEnergyController::errorOccurred, this,
            [this, raw](QLowEnergyController::Error error) { onControllerError(*raw, error); });
    connect(controller, &QLowEnergyController::discoveryFinished, this,
            [this, raw] { runServiceDiscovery(*raw); });
    link_ = std::move(link);
    controller->connectToDevice();
}

void QtBluetoothCentral::closeLink() {
    if (!link_) {
        return;
    }
    std::unique_ptr<Link> link = std::move(link_);
    if (QLowEnergyController* controller = link->controller) {
        controller->disconnect(this);
        if (controller->state() == QLowEnergyController::UnconnectedState) {
            controller->deleteLater(); // it may be the sender of the signal being handled
        } else {
            // Deleted once BlueZ confirms, or with the central at the latest.
            connect(controller, &QLowEnergyController::disconnected, controller,
                    &QObject::deleteLater);
            controller->disconnectFromDevice();
        }
    }
}

void QtBluetoothCentral::cancelPeripheralConnection(const QString& id) {
    Q_ASSERT(QThread::currentThread() == thread());
    Link* link = linkFor(id);
    if (!link) {
        return;
    }
    const bool wasOpen =
        link->phase == Link::Phase::connected || link->phase == Link::Phase::connecting;
    closeLink();
    if (wasOpen) {
        // A disconnection we asked for ends cleanly.
        report([id](Delegate& d) { d.didDisconnect(id, std::nullopt); });
    }
}

void QtBluetoothCentral::onControllerConnected(Link& link) {
    link.phase = Link::Phase::connected;
    if (const auto device = BluezObjectTree::read(bus_).device(link.id)) {
        link.devicePath = device->path;
    }
    if (link.reportConnect) {
        report([id = link.id, name = link.controller->remoteName()](Delegate& d) {
            d.didConnect(id, name);
        });
    }
    if (link.discoveryRequested) {
        link.controller->discoverServices();
    }
}

std::optional<BLEError> QtBluetoothCentral::errorFor(const Link& link,
                                                     QLowEnergyController::Error error) const {
    const QString text = bleControllerErrorText(error);
    // BlueZ's own reason, when it gave one, says best what happened.
    const QString reason = disconnectReasons_.value(link.id);
    if (reason == QStringLiteral("org.bluez.Reason.Timeout")) {
        return BLEError{BLEError::Kind::connectionTimeout, text};
    }
    if (reason == QStringLiteral("org.bluez.Reason.Authentication") ||
        error == QLowEnergyController::AuthorizationError) {
        return BLEError{BLEError::Kind::pairingRemoved, text};
    }
    if (reason == QStringLiteral("org.bluez.Reason.Local") ||
        reason == QStringLiteral("org.bluez.Reason.Remote") ||
        error == QLowEnergyController::NoError) {
        return std::nullopt;
    }
    return BLEError{BLEError::Kind::other, text};
}

void QtBluetoothCentral::onControllerError(Link& link, QLowEnergyController::Error error) {
    warn(QStringLiteral("[BLE] %1: controller error %2: %3")
             .arg(link.id)
             .arg(int(error))
             .arg(link.controller->errorString()));
    const std::optional<BLEError> mapped = errorFor(link, error);
    if (link.phase == Link::Phase::connecting) {
        link.phase = Link::Phase::closed;
        const BLEError failure =
            mapped.value_or(BLEError{BLEError::Kind::other, bleControllerErrorText(error)});
        report([id = link.id, failure](Delegate& d) { d.didFailToConnect(id, failure); });
        return;
    }
    link.closeError = mapped; // reported with the disconnection that follows
}

void QtBluetoothCentral::onControllerDisconnected(Link& link) {
    const Link::Phase phase = std::exchange(link.phase, Link::Phase::closed);
    if (phase == Link::Phase::connecting) {
        const BLEError failure =
            errorFor(link, link.controller->error())
                .value_or(BLEError{BLEError::Kind::other,
                                   bleControllerErrorText(link.controller->error())});
        report([id = link.id, failure](Delegate& d) { d.didFailToConnect(id, failure); });
    } else if (phase == Link::Phase::connected) {
        std::optional<BLEError> error = link.closeError;
        if (!error) {
            error = errorFor(link, QLowEnergyController::NoError);
        }
        report([id = link.id, error](Delegate& d) { d.didDisconnect(id, error); });
    }
}

// ---- Services and characteristics -----------------------------------------------------------

void QtBluetoothCentral::discoverServices(const QString& id, const QStringList& services) {
    Q_ASSERT(QThread::currentThread() == thread());
    Link* link = linkFor(id);
    if (!link) {
        // Connected at the system level only: we still need a controller of our own.
        openLink(id, false);
        link = link_.get();
    }
    link->wantedServices.clear();
    for (const QString& service : services) {
        link->wantedServices.append(BLEUUIDs::canonical(service));
    }
    link->discoveryRequested = true;
    if (link->phase == Link::Phase::connected) {
        link->controller->discoverServices();
    }
}

void QtBluetoothCentral::runServiceDiscovery(Link& link) {
    QStringList found;
    for (const QBluetoothUuid& uuid : link.controller->services()) {
        const QString canonical = canonicalUuid(uuid);
        if (link.wantedServices.contains(canonical)) {
            found.append(canonical);
        }
    }
    report([id = link.id, found](Delegate& d) { d.didDiscoverServices(id, found); });
}

QLowEnergyService* QtBluetoothCentral::serviceFor(const QString& id, const QString& service) {
    Link* link = linkFor(id);
    return link ? link->services.value(BLEUUIDs::canonical(service)) : nullptr;
}

void QtBluetoothCentral::discoverCharacteristics(const QString& id, const QString& service,
                                                 const QStringList& characteristics) {
    Q_ASSERT(QThread::currentThread() == thread());
    Link* link = linkFor(id);
    if (!link || link->phase != Link::Phase::connected) {
        return;
    }
    const QString serviceUUID = BLEUUIDs::canonical(service);
    QLowEnergyService* object = link->services.value(serviceUUID);
    if (!object) {
        object =
            link->controller->createServiceObject(QBluetoothUuid(serviceUUID), link->controller);
        if (!object) {
            warn(QStringLiteral("[BLE] service %1 is not offered by %2").arg(serviceUUID, id));
            return;
        }
        link->services.insert(serviceUUID, object);
        connect(
            object, &QLowEnergyService::characteristicChanged, this,
            [this, id, serviceUUID](const QLowEnergyCharacteristic& c, const QByteArray& value) {
                if (delegate_) {
                    delegate_->didUpdateValue(id, {serviceUUID, canonicalUuid(c.uuid())}, value);
                }
            });
        connect(object, &QLowEnergyService::descriptorWritten, this,
                [this, id, serviceUUID, object](const QLowEnergyDescriptor& descriptor,
                                                const QByteArray&) {
                    if (descriptor.type() !=
                        QBluetoothUuid::DescriptorType::ClientCharacteristicConfiguration) {
                        return;
                    }
                    QString uuid;
                    for (const QLowEnergyCharacteristic& c : object->characteristics()) {
                        if (c.clientCharacteristicConfiguration() == descriptor) {
                            uuid = canonicalUuid(c.uuid());
                        }
                    }
                    report([id, serviceUUID, uuid](Delegate& d) {
                        d.didUpdateNotificationState(id, {serviceUUID, uuid}, std::nullopt);
                    });
                });
        connect(object, &QLowEnergyService::errorOccurred, this,
                [this, id, serviceUUID](QLowEnergyService::ServiceError error) {
                    if (error != QLowEnergyService::DescriptorWriteError) {
                        warn(QStringLiteral("[BLE] service %1 error %2")
                                 .arg(serviceUUID)
                                 .arg(int(error)));
                        return;
                    }
                    const BLEError failure{BLEError::Kind::other,
                                           QStringLiteral("无法开启通知 (%1)").arg(int(error))};
                    report([id, serviceUUID, failure](Delegate& d) {
                        d.didUpdateNotificationState(id, {serviceUUID, QString()}, failure);
                    });
                });
    }
    const auto reportCharacteristics = [this, id, serviceUUID, characteristics, object] {
        Link* link = linkFor(id);
        if (!link) {
            return;
        }
        const BluezObjectTree tree = BluezObjectTree::read(bus_);
        QStringList found;
        for (const QLowEnergyCharacteristic& c : object->characteristics()) {
            const QString uuid = canonicalUuid(c.uuid());
            if (!characteristics.contains(uuid)) {
                continue;
            }
            found.append(uuid);
            if (const auto bluez = tree.characteristic(link->devicePath, uuid);
                bluez && bluez->mtu > 0) {
                link->mtus.insert(mtuKey(serviceUUID, uuid), bluez->mtu);
            }
        }
        report([id, serviceUUID, found](Delegate& d) {
            d.didDiscoverCharacteristics(id, serviceUUID, found);
        });
    };
    if (object->state() == QLowEnergyService::RemoteServiceDiscovered) {
        reportCharacteristics();
        return;
    }
    connect(object, &QLowEnergyService::stateChanged, this,
            [reportCharacteristics](QLowEnergyService::ServiceState state) {
                if (state == QLowEnergyService::RemoteServiceDiscovered) {
                    reportCharacteristics();
                }
            });
    if (object->state() == QLowEnergyService::RemoteService) {
        object->discoverDetails(QLowEnergyService::SkipValueDiscovery);
    }
}

void QtBluetoothCentral::setNotifyValue(const QString& id, const Characteristic& characteristic,
                                        bool enabled) {
    Q_ASSERT(QThread::currentThread() == thread());
    QLowEnergyService* service = serviceFor(id, characteristic.service);
    if (!service) {
        return;
    }
    const QLowEnergyDescriptor cccd =
        service->characteristic(QBluetoothUuid(characteristic.uuid))
            .descriptor(QBluetoothUuid::DescriptorType::ClientCharacteristicConfiguration);
    if (!cccd.isValid()) {
        report([id, characteristic](Delegate& d) {
            d.didUpdateNotificationState(
                id, characteristic,
                BLEError{BLEError::Kind::other,
                         QStringLiteral("特征 %1 不支持通知").arg(characteristic.uuid)});
        });
        return;
    }
    service->writeDescriptor(cccd, enabled ? QLowEnergyCharacteristic::CCCDEnableNotification
                                           : QLowEnergyCharacteristic::CCCDDisable);
}

int QtBluetoothCentral::maximumWriteLength(const QString& id,
                                           const Characteristic& characteristic) {
    Link* link = linkFor(id);
    const int mtu =
        link ? link->mtus.value(mtuKey(characteristic.service, characteristic.uuid)) : 0;
    return mtu > attHeaderLength ? mtu - attHeaderLength : defaultWriteLength;
}

void QtBluetoothCentral::writeWithoutResponse(const QString& id,
                                              const Characteristic& characteristic,
                                              QByteArrayView bytes) {
    Q_ASSERT(QThread::currentThread() == thread());
    QLowEnergyService* service = serviceFor(id, characteristic.service);
    if (!service) {
        return;
    }
    service->writeCharacteristic(service->characteristic(QBluetoothUuid(characteristic.uuid)),
                                 bytes.toByteArray(), QLowEnergyService::WriteWithoutResponse);
}

} // namespace orvane
