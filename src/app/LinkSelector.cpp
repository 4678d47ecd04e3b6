#include "app/LinkSelector.h"

#include <QPointer>
#include <QThread>

#include <utility>

namespace orvane {

LinkSelector::LinkSelector(SerialService& serial, BleLink& ble, Owner owner, QObject* parent)
    : QObject(parent)
    , serial_(serial)
    , ble_(ble)
    , owner_(std::move(owner)) {
    bluetooth().setOnAutoConnect([this] {
        const QString saved = settings().bluetoothDeviceID;
        if (!saved.isEmpty() && bluetooth().connectedDeviceID() == saved) {
            return; // the start-up scan found it first
        }
        connectBluetooth();
        if (!saved.isEmpty() && bluetooth().connectedDeviceID() == saved) {
            // Under way: a later scan must not connect it again behind the user's back.
            QObject::disconnect(bleScanConnection_);
        }
    });
    connect(&bluetooth(), &BluetoothService::isConnectedChanged, this,
            &LinkSelector::onBluetoothConnectedChanged);
    serial_.setOnPortAutoMigrated([this](const QString& path) {
        // The device came back under a new name: follow it, in memory when it cannot be
        // saved, as a choice of the user's would be.
        AppSettings updated = settings();
        updated.serialPort = path;
        commit(updated);
        owner_.setPortConfigured(true);
    });
}

LinkSelector::~LinkSelector() {
    QObject::disconnect(bleScanConnection_);
    bluetooth().setOnAutoConnect({});
    serial_.setOnPortAutoMigrated({});
}

LinkSelection LinkSelector::selection() const {
    if (ble_.isChosen()) {
        return BleLinkChoice{ble_.deviceID(), ble_.deviceName()};
    }
    if (!serial_.selectedPath().isEmpty()) {
        return SerialLinkChoice{serial_.selectedPath()};
    }
    return std::monostate{};
}

void LinkSelector::onBluetoothConnectedChanged() {
    const bool connected = bluetooth().isConnected();
    if (ble_.isConnected() == connected) {
        return;
    }
    ble_.setConnected(connected);
    if (connected) {
        ble_.publishLive(true);
        owner_.log(QStringLiteral("蓝牙已连接 ") +
                   (autoFoundDevice_ ? autoFoundDevice_->name : settings().bluetoothDeviceName));
    } else if (ble_.isChosen()) {
        // Without a BLE device chosen a drop never overrides a working serial link.
        ble_.publishLive(false);
        owner_.log(QStringLiteral("蓝牙已断开"));
    }
}

void LinkSelector::load(const AppSettings& settings) {
    serial_.setSelectedPath(settings.serialPort);
    holdBluetooth(settings.bluetoothDeviceID, settings.bluetoothDeviceName);
    bluetooth().setAutoConnectDeviceID(settings.bluetoothDeviceID);
}

void LinkSelector::startAutoConnect() {
    QObject::disconnect(bleScanConnection_);
    isAutoSelecting_ = true;
    owner_.log(QStringLiteral("自动选择：同时尝试 CDC 和 BLE ZE DOZ ERA，先收到 ECHO 者生效"));
    const QString path =
        settings().serialPort.isEmpty() ? serial_.selectedPath() : settings().serialPort;
    if (!path.isEmpty()) {
        serial_.setSelectedPath(path);
        if (ble_.isChosen()) {
            // Both links are tried and the first probe decides: until then the port is the
            // link, the saved device only connected. The port is left as it is.
            holdBluetooth({}, {});
            ble_.setConnected(false);
        } else {
            serial_.disconnect();
        }
        serial_.connect();
    }
    startBLEAutoConnect();
}

void LinkSelector::startBLEAutoConnect() {
    if (bluetooth().isConnected()) {
        return;
    }
    bluetooth().startScan();
    // The adapter may have reported its power before the saved device was loaded.
    bluetooth().requestAutoConnect();
    QObject::disconnect(bleScanConnection_);
    bleScanConnection_ = connect(&bluetooth(), &BluetoothService::devicesChanged, this, [this] {
        // A saved device is looked for by its identifier, whatever its name; without one, the
        // device's own bridge by its name.
        const QString saved = settings().bluetoothDeviceID;
        for (const BLEUARTDevice& device : bluetooth().devices()) {
            if (saved.isEmpty() ? device.name != autoSelectName : device.id != saved) {
                continue;
            }
            QObject::disconnect(bleScanConnection_);
            bluetooth().stopScan();
            owner_.setErrorMessage({}, false);
            if (saved.isEmpty()) {
                // Saved only once the device's first probe comes over it: should the probe
                // come over serial, or not at all, the user's serial port stays as it was.
                autoFoundDevice_ = device;
            }
            if (bluetooth().connectedDeviceID() != device.id) {
                connectBluetoothDevice(device.id);
            }
            return;
        }
    });
}

void LinkSelector::handleEcho(LinkKind source) {
    Q_ASSERT(thread() == QThread::currentThread());
    if (!isAutoSelecting_) {
        return;
    }
    isAutoSelecting_ = false;
    switch (source) {
    case LinkKind::serial:
        owner_.log(QStringLiteral("ECHO 来自 CDC，选择 UART CDC，断开 BLE"));
        endScanMatch();
        bluetooth().stopScan();
        bluetooth().disconnect();
        clearSavedBluetoothDevice();
        return;
    case LinkKind::bluetooth:
        owner_.log(QStringLiteral("ECHO 来自 BLE，选择 ZE DOZ ERA，断开 CDC"));
        if (autoFoundDevice_) {
            // Saved (or, without a store, held for this run) and made the link.
            saveBluetoothDevice(*std::exchange(autoFoundDevice_, std::nullopt));
        } else if (settings().bluetoothDeviceID.isEmpty()) {
            serial_.disconnect();
        } else {
            selectBluetoothInSerial(settings().bluetoothDeviceID, settings().bluetoothDeviceName);
        }
        return;
    }
}

void LinkSelector::selectBluetoothInSerial(const QString& id, const QString& name) {
    // The port is closed, then the BLE link takes over: the state a start with this device
    // has.
    serial_.setSelectedPath({});
    serial_.disconnect();
    holdBluetooth(id, name);
    ble_.setConnected(bluetooth().isConnected());
}

void LinkSelector::holdBluetooth(const QString& id, const QString& name) {
    ble_.hold(id, name);
    serial_.setOtherLinkChosen(!id.isEmpty());
}

void LinkSelector::connectBluetooth() {
    owner_.setErrorMessage({}, false);
    if (settings().bluetoothDeviceID.isEmpty()) {
        owner_.setErrorMessage(QStringLiteral("未选择蓝牙设备"), false);
        return;
    }
    connectBluetoothDevice(settings().bluetoothDeviceID);
}

void LinkSelector::connectBluetoothDevice(const QString& id) {
    ble_.connectDevice(id, [self = QPointer<LinkSelector>(this)](const BLEUARTDevice& device) {
        if (!self) {
            return;
        }
        if (self->autoFoundDevice_ && self->autoFoundDevice_->id == device.id) {
            self->autoFoundDevice_ = device; // still up to the first probe
            return;
        }
        self->saveBluetoothDevice(device);
    });
}

void LinkSelector::saveBluetoothDevice(const std::optional<BLEUARTDevice>& device) {
    owner_.setErrorMessage({}, false);
    const QString id = device ? device->id : QString();
    const QString name = device ? device->name : QString();
    AppSettings updated = settings();
    updated.bluetoothDeviceID = id;
    updated.bluetoothDeviceName = name;
    updated.serialPort.clear();
    bluetooth().setAutoConnectDeviceID(id);
    commit(updated);
    endScanMatch();
    if (id.isEmpty()) {
        serial_.setSelectedPath({});
        holdBluetooth({}, {});
        serial_.disconnect();
        return;
    }
    selectBluetoothInSerial(id, name);
}

void LinkSelector::endScanMatch() {
    QObject::disconnect(bleScanConnection_);
    autoFoundDevice_.reset();
}

void LinkSelector::clearSavedBluetoothDevice() {
    AppSettings updated = settings();
    updated.bluetoothDeviceID.clear();
    updated.bluetoothDeviceName.clear();
    commit(updated);
    owner_.setPortConfigured(!updated.serialPort.isEmpty());
    bluetooth().setAutoConnectDeviceID(std::nullopt);
    holdBluetooth({}, {});
}

void LinkSelector::selectSerialPort(const QString& path) {
    owner_.setErrorMessage({}, false);
    AppSettings updated = settings();
    updated.serialPort = path;
    updated.bluetoothDeviceID.clear();
    updated.bluetoothDeviceName.clear();
    commit(updated);
    endScanMatch();
    owner_.setPortConfigured(!path.isEmpty());
    serial_.setSelectedPath(path);
    holdBluetooth({}, {});
    bluetooth().setAutoConnectDeviceID(std::nullopt);
    serial_.disconnect();
    serial_.connect();
}

void LinkSelector::reconnectSerial() {
    owner_.setErrorMessage({}, false);
    const QString port =
        serial_.selectedPath().isEmpty() ? settings().serialPort : serial_.selectedPath();
    if (port.isEmpty()) {
        owner_.setErrorMessage(QStringLiteral("请先选择串口"), true);
        return;
    }
    if (port != serial_.selectedPath()) {
        serial_.setSelectedPath(port);
    }
    serial_.connect();
}

void LinkSelector::applySettings(const AppSettings& updated) {
    endScanMatch();
    bluetooth().setAutoConnectDeviceID(updated.bluetoothDeviceID);
    if (!updated.bluetoothDeviceID.isEmpty()) {
        selectBluetoothInSerial(updated.bluetoothDeviceID, updated.bluetoothDeviceName);
        return;
    }
    serial_.setSelectedPath(updated.serialPort);
    holdBluetooth({}, {});
    serial_.disconnect();
    serial_.connect();
}

} // namespace orvane
