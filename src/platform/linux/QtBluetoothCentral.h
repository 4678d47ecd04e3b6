#pragma once

#include "bluetooth/BluetoothCentral.h"

#include <QBluetoothDeviceInfo>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QHash>
#include <QLowEnergyController>
#include <QLowEnergyService>
#include <QObject>
#include <QPointer>
#include <QVariantMap>

#include <functional>
#include <memory>

class QBluetoothDeviceDiscoveryAgent;

namespace orvane {

struct BluezObjectTree;

// The BLE central on BlueZ through Qt Bluetooth: low-energy discovery, one
// QLowEnergyController at a time, GATT discovery without reading values, notifications
// through the 0x2902 descriptor and writes without response. Peripherals are named by
// their BlueZ address ("AA:BB:CC:DD:EE:FF").
//
// BlueZ is asked directly over the system bus (BluezObjectTree) for what Qt does not
// report there: whether BlueZ is present and lets us in (asked at construction without
// touching Qt Bluetooth and without waiting for the answer, so a machine without Bluetooth
// comes to "unsupported" soon and a hung bluetoothd holds nothing up; asked again whenever
// BlueZ or an adapter comes or goes), adapter power changes, devices connected at the system
// level, the characteristics' MTU and BlueZ's reason for a disconnection.
//
// Main thread only, like every Qt Bluetooth object.
class QtBluetoothCentral final : public QObject, public BluetoothCentral {
    Q_OBJECT

public:
    using Log = std::function<void(const QString& line)>;

    explicit QtBluetoothCentral(Log warn = {}, QObject* parent = nullptr);
    ~QtBluetoothCentral() override;

    void setDelegate(Delegate* delegate) override;
    State state() const override { return state_; }
    std::optional<QString> canonicalIdentifier(const QString& text) const override;
    void scanForPeripherals() override;
    void stopScan() override;
    bool isKnownPeripheral(const QString& id) override;
    QStringList connectedPeripherals(const QStringList& services) override;
    bool isPeripheralConnected(const QString& id) override;
    void connectPeripheral(const QString& id) override;
    void cancelPeripheralConnection(const QString& id) override;
    void discoverServices(const QString& id, const QStringList& services) override;
    void discoverCharacteristics(const QString& id, const QString& service,
                                 const QStringList& characteristics) override;
    void setNotifyValue(const QString& id, const Characteristic& characteristic,
                        bool enabled) override;
    int maximumWriteLength(const QString& id, const Characteristic& characteristic) override;
    void writeWithoutResponse(const QString& id, const Characteristic& characteristic,
                              QByteArrayView bytes) override;

private slots:
    void onPropertiesChanged(const QString& interface, const QVariantMap& changed,
                             const QStringList& invalidated, const QDBusMessage& signal);
    void onBluezObjectsChanged(const QDBusMessage& signal);
    void onDeviceDisconnected(const QString& reason, const QString& message,
                              const QDBusMessage& signal);

private:
    // The link to one peripheral.
    struct Link {
        enum class Phase { connecting, connected, closing, closed };
        QString id;
        QString devicePath;
        QPointer<QLowEnergyController> controller; // child of the central
        Phase phase = Phase::connecting;
        bool reportConnect = true;  // false when the system had it connected already
        QStringList wantedServices; // reported once discovery finishes
        bool discoveryRequested = false;
        QHash<QString, QLowEnergyService*> services; // by canonical UUID, owned by controller
        QHash<QString, int> mtus;                    // by "service/characteristic"
        std::optional<BLEError> closeError;
    };

    // Looks at BlueZ afresh, without waiting for it: which adapter we use and the state
    // that follows, applied when the answer comes.
    void probeBluez();
    void applyBluezTree(const BluezObjectTree& tree);
    void setState(State state);
    void report(std::function<void(Delegate&)> event);
    void warn(const QString& line) const;
    Link* linkFor(const QString& id);
    void openLink(const QString& id, bool reportConnect);
    void closeLink();
    void onControllerConnected(Link& link);
    void onControllerDisconnected(Link& link);
    void onControllerError(Link& link, QLowEnergyController::Error error);
    void runServiceDiscovery(Link& link);
    void onDiscoveryAgentError();
    void onDeviceSeen(const QBluetoothDeviceInfo& info);
    std::optional<BLEError> errorFor(const Link& link, QLowEnergyController::Error error) const;
    QLowEnergyService* serviceFor(const QString& id, const QString& service);

    const Log warn_;
    QDBusConnection bus_;
    Delegate* delegate_ = nullptr;
    State state_ = State::unknown; // until BlueZ has answered
    quint64 probeCount_ = 0;
    QString adapterPath_;
    QString adapterAddress_;
    std::unique_ptr<QDBusServiceWatcher> bluezWatcher_;
    std::unique_ptr<QBluetoothDeviceDiscoveryAgent> agent_;
    QHash<QString, QBluetoothDeviceInfo> seen_;
    QHash<QString, QString> disconnectReasons_; // BlueZ's last reason, by address
    std::unique_ptr<Link> link_;
};

} // namespace orvane
