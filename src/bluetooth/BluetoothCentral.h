#pragma once

#include "bluetooth/BLEError.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

namespace orvane {

// What BluetoothService needs of the platform's BLE stack: a central that scans, connects
// one peripheral at a time, discovers the UART bridge's services and characteristics,
// switches notifications on and writes without response. Peripherals are named by their
// identifier in canonical text form (see canonicalIdentifier), services and
// characteristics by canonical UUID text (BLEUUIDs::canonical).
//
// Threads: every call is made on the main thread, and every Delegate event is delivered
// there, never from inside the call that caused it unless the comment says so.
class BluetoothCentral {
public:
    // The stack's availability, numbered as the status line's log reports it.
    enum class State : int {
        unknown = 0,
        resetting = 1,
        unsupported = 2,
        unauthorized = 3,
        poweredOff = 4,
        poweredOn = 5,
    };

    struct Characteristic {
        QString service;
        QString uuid;
        friend bool operator==(const Characteristic&, const Characteristic&) = default;
    };

    struct Advertisement {
        QString id;
        std::optional<QString> peripheralName; // the name the stack holds for the peripheral
        std::optional<QString> localName;      // the advertised local name
        int rssi = 0;
        QStringList serviceUUIDs;
    };

    class Delegate {
    public:
        virtual void centralStateChanged(State state) = 0;
        virtual void didDiscover(const Advertisement& advertisement) = 0;
        virtual void didConnect(const QString& id, const QString& currentName) = 0;
        virtual void didFailToConnect(const QString& id, const BLEError& error) = 0;
        // `error` is empty for a disconnection that was asked for or ended cleanly.
        virtual void didDisconnect(const QString& id, const std::optional<BLEError>& error) = 0;
        virtual void didDiscoverServices(const QString& id, const QStringList& services) = 0;
        virtual void didDiscoverCharacteristics(const QString& id, const QString& service,
                                                const QStringList& characteristics) = 0;
        virtual void didUpdateNotificationState(const QString& id,
                                                const Characteristic& characteristic,
                                                const std::optional<BLEError>& error) = 0;
        virtual void didUpdateValue(const QString& id, const Characteristic& characteristic,
                                    const QByteArray& value) = 0;

    protected:
        ~Delegate() = default;
    };

    virtual ~BluetoothCentral() = default;

    // Events go to `delegate` from now on (null: nowhere). The delegate must outlive the
    // central or be unset first.
    virtual void setDelegate(Delegate* delegate) = 0;
    virtual State state() const = 0;

    // The identifier that `text` spells, in canonical form; nothing when it is none.
    virtual std::optional<QString> canonicalIdentifier(const QString& text) const = 0;

    // Scans for every peripheral in range, each reported once per sighting through
    // didDiscover, until stopScan().
    virtual void scanForPeripherals() = 0;
    virtual void stopScan() = 0;

    // True when the stack knows this peripheral without a scan (bonded or cached).
    virtual bool isKnownPeripheral(const QString& id) = 0;
    // Peripherals connected at the system level that offer one of `services`.
    virtual QStringList connectedPeripherals(const QStringList& services) = 0;
    virtual bool isPeripheralConnected(const QString& id) = 0;

    // Connects; success or failure comes back as didConnect or didFailToConnect. No time
    // limit of the central's own.
    virtual void connectPeripheral(const QString& id) = 0;
    virtual void cancelPeripheralConnection(const QString& id) = 0;

    // Reports those of `services` that the peripheral offers through didDiscoverServices.
    virtual void discoverServices(const QString& id, const QStringList& services) = 0;
    virtual void discoverCharacteristics(const QString& id, const QString& service,
                                         const QStringList& characteristics) = 0;
    virtual void setNotifyValue(const QString& id, const Characteristic& characteristic,
                                bool enabled) = 0;
    // The most bytes one write without response may carry.
    virtual int maximumWriteLength(const QString& id, const Characteristic& characteristic) = 0;
    virtual void writeWithoutResponse(const QString& id, const Characteristic& characteristic,
                                      QByteArrayView bytes) = 0;
};

} // namespace orvane
