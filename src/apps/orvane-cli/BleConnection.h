#pragma once

#include "bluetooth/BluetoothService.h"
#include "link/BleLink.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

namespace orvane {

class ProtocolStack;

// Holds the link to the device over BLE instead of a serial port: the BLE link holds the
// peripheral and is the stack's active link, connects to it once the adapter is on, and
// reconnects after a lost link while it lives.
//
// Main thread. Must be destroyed before the stack.
class BleConnection : public QObject {
    Q_OBJECT

public:
    static constexpr int reconnectDelayMs = 2000;

    using Log = std::function<void(const QString& line)>;

    BleConnection(ProtocolStack& stack, const QString& address, Log status, Log warn,
                  QObject* parent = nullptr);
    ~BleConnection() override;

    BleConnection(const BleConnection&) = delete;
    BleConnection& operator=(const BleConnection&) = delete;

    BluetoothService& bluetooth() { return *bluetooth_; }
    BleLink& link() { return *link_; }

private:
    void connectNow();
    void onLinkChanged();

    const QString address_;
    const Log status_;
    std::unique_ptr<BluetoothService> bluetooth_;
    std::unique_ptr<BleLink> link_;
    QTimer reconnect_;
};

} // namespace orvane
