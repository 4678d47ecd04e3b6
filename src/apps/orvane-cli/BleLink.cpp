#include "apps/orvane-cli/BleLink.h"

#include "platform/linux/QtBluetoothCentral.h"
#include "serial/SerialService.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace orvane {

BleLink::BleLink(SerialService& serial, const QString& address, Log status, Log warn,
                 QObject* parent)
    : QObject(parent)
    , serial_(serial)
    , address_(address.toUpper())
    , status_(std::move(status)) {
    bluetooth_ = std::make_unique<BluetoothService>(std::make_unique<QtBluetoothCentral>(warn),
                                                    BluetoothService::Callbacks{{}, warn, warn});
    relay_ = std::make_shared<WriteRelay>(WriteRelay{bluetooth_.get()});

    serial_.setSelectedBluetoothDeviceID(address_);
    // The serial service writes from its I/O queue; the BLE service lives on this thread.
    serial_.setBluetoothWrite([relay = std::weak_ptr<WriteRelay>(relay_)](const QByteArray& data) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [relay, data] {
                if (const auto target = relay.lock()) {
                    target->bluetooth->write(data);
                }
            },
            Qt::QueuedConnection);
    });

    reconnect_.setSingleShot(true);
    reconnect_.setInterval(reconnectDelayMs);
    QObject::connect(&reconnect_, &QTimer::timeout, this, &BleLink::connectNow);
    QObject::connect(bluetooth_.get(), &BluetoothService::statusTextChanged, this,
                     [this] { status_(bluetooth_->statusText()); });
    QObject::connect(bluetooth_.get(), &BluetoothService::isConnectedChanged, this,
                     &BleLink::onLinkChanged);
    QObject::connect(bluetooth_.get(), &BluetoothService::connectedDeviceIDChanged, this,
                     &BleLink::onLinkChanged);
    // Once the adapter is on, a short scan gives the peripheral a chance to be seen first.
    bluetooth_->setAutoConnectDeviceID(address_);
    bluetooth_->setOnAutoConnect([this] { connectNow(); });
}

BleLink::~BleLink() {
    QObject::disconnect(bluetooth_.get(), nullptr, this, nullptr);
    serial_.setBluetoothWrite({});
    relay_.reset();
    reconnect_.stop();
    bluetooth_->disconnect();
}

void BleLink::connectNow() {
    bluetooth_->connect(address_,
                        [this](const QByteArray& frame) { serial_.receiveBluetoothData(frame); });
    // Refused at once (not found yet, adapter off): try again later.
    if (!bluetooth_->isConnected() && bluetooth_->connectedDeviceID().isEmpty()) {
        reconnect_.start();
    }
}

void BleLink::onLinkChanged() {
    if (bluetooth_->isConnected()) {
        reconnect_.stop();
        return;
    }
    serial_.setBluetoothConnected(false);
    // Connecting still (an identifier but no link yet): the stack reports how it ends.
    if (bluetooth_->connectedDeviceID().isEmpty()) {
        reconnect_.start();
    }
}

} // namespace orvane
