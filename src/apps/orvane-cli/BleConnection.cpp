#include "apps/orvane-cli/BleConnection.h"

#include "app/ProtocolStack.h"
#include "common/LogCategories.h"
#include "platform/linux/QtBluetoothCentral.h"

namespace orvane {

BleConnection::BleConnection(ProtocolStack& stack, const QString& address, Log status, Log warn,
                             QObject* parent)
    : QObject(parent)
    , address_(address.toUpper())
    , status_(std::move(status)) {
    bluetooth_ = std::make_unique<BluetoothService>(std::make_unique<QtBluetoothCentral>(warn),
                                                    BluetoothService::Callbacks{{}, warn, warn});
    SerialService& serial = stack.service();
    BleLink::Journal journal;
    journal.log = [&serial](const QString& direction, const QString& summary,
                            const QStringList& rows) {
        serial.appendLog(direction, summary, rows, lcBle());
    };
    link_ = std::make_unique<BleLink>(*bluetooth_, stack.frameRouter(), std::move(journal));
    link_->hold(address_, {});
    serial.setOtherLinkChosen(true);
    stack.attachBle(*link_);

    reconnect_.setSingleShot(true);
    reconnect_.setInterval(reconnectDelayMs);
    QObject::connect(&reconnect_, &QTimer::timeout, this, &BleConnection::connectNow);
    QObject::connect(bluetooth_.get(), &BluetoothService::statusTextChanged, this,
                     [this] { status_(bluetooth_->statusText()); });
    QObject::connect(bluetooth_.get(), &BluetoothService::isConnectedChanged, this,
                     &BleConnection::onLinkChanged);
    QObject::connect(bluetooth_.get(), &BluetoothService::connectedDeviceIDChanged, this,
                     &BleConnection::onLinkChanged);
    // Once the adapter is on, a short scan gives the peripheral a chance to be seen first.
    bluetooth_->setAutoConnectDeviceID(address_);
    bluetooth_->setOnAutoConnect([this] { connectNow(); });
}

BleConnection::~BleConnection() {
    QObject::disconnect(bluetooth_.get(), nullptr, this, nullptr);
    reconnect_.stop();
    link_.reset();
    bluetooth_->disconnect();
}

void BleConnection::connectNow() {
    link_->connectDevice(address_);
    // Refused at once (not found yet, adapter off): try again later.
    if (!bluetooth_->isConnected() && bluetooth_->connectedDeviceID().isEmpty()) {
        reconnect_.start();
    }
}

void BleConnection::onLinkChanged() {
    if (bluetooth_->isConnected()) {
        reconnect_.stop();
        return;
    }
    link_->setConnected(false);
    // Connecting still (an identifier but no link yet): the stack reports how it ends.
    if (bluetooth_->connectedDeviceID().isEmpty()) {
        reconnect_.start();
    }
}

} // namespace orvane
