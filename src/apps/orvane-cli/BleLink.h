#pragma once

#include "bluetooth/BluetoothService.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

namespace orvane {

class SerialService;

// Holds the link to the device over BLE instead of a serial port: chooses the peripheral
// in the serial service, connects to it once the adapter is on, hands every frame it
// delivers to the serial service (which routes it like a serial frame and writes the
// replies back through here) and reconnects after a lost link while it lives.
//
// Main thread. Must be destroyed before the serial service.
class BleLink : public QObject {
    Q_OBJECT

public:
    static constexpr int reconnectDelayMs = 2000;

    using Log = std::function<void(const QString& line)>;

    BleLink(SerialService& serial, const QString& address, Log status, Log warn,
            QObject* parent = nullptr);
    ~BleLink() override;

    BleLink(const BleLink&) = delete;
    BleLink& operator=(const BleLink&) = delete;

    BluetoothService& bluetooth() { return *bluetooth_; }

private:
    // Owned by the link, reached weakly from the serial service's I/O queue.
    struct WriteRelay {
        BluetoothService* bluetooth = nullptr;
    };

    void connectNow();
    void onLinkChanged();

    SerialService& serial_;
    const QString address_;
    const Log status_;
    std::unique_ptr<BluetoothService> bluetooth_;
    std::shared_ptr<WriteRelay> relay_;
    QTimer reconnect_;
};

} // namespace orvane
