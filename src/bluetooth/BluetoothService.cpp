#include "bluetooth/BluetoothService.h"

#include "bluetooth/BLEUUIDs.h"
#include "protocol/ProtocolWire.h"

#include <QThread>

#include <algorithm>

namespace orvane {

namespace {

using State = BluetoothCentral::State;
using Characteristic = BluetoothCentral::Characteristic;

// The canonical spelling of the bridge UUIDs, computed once.
struct BridgeUUIDs {
    QString nordicService = BLEUUIDs::canonical(BluetoothService::nordicServiceUUID);
    QString nordicRX = BLEUUIDs::canonical(BluetoothService::nordicRXCharacteristicUUID);
    QString nordicTX = BLEUUIDs::canonical(BluetoothService::nordicTXCharacteristicUUID);
    QString hxExtService = BLEUUIDs::canonical(BluetoothService::hxExtServiceUUID);
    QString hxExtRX = BLEUUIDs::canonical(BluetoothService::hxExtRXCharacteristicUUID);
    QString hxExtTX = BLEUUIDs::canonical(BluetoothService::hxExtTXCharacteristicUUID);

    QStringList services() const { return {nordicService, hxExtService}; }
};

const BridgeUUIDs& bridge() {
    static const BridgeUUIDs uuids;
    return uuids;
}

QString hexSpaced(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

} // namespace

BluetoothService::BluetoothService(std::unique_ptr<BluetoothCentral> central, Callbacks callbacks,
                                   BluetoothTimer::Factory timers, QObject* parent)
    : QObject(parent)
    , central_(std::move(central))
    , callbacks_(std::move(callbacks))
    , timers_(std::move(timers)) {
    if (central_) {
        central_->setDelegate(this);
    }
}

BluetoothService::~BluetoothService() {
    if (central_) {
        central_->setDelegate(nullptr);
    }
}

void BluetoothService::assertMainThread() const {
    Q_ASSERT(QThread::currentThread() == thread());
}

void BluetoothService::debug(const QString& line) const {
    if (callbacks_.debug) {
        callbacks_.debug(line);
    }
}

bool BluetoothService::isBridgeService(const QString& serviceUUID) {
    return bridge().services().contains(BLEUUIDs::canonical(serviceUUID));
}

QString BluetoothService::formatBLEError(const std::optional<BLEError>& error) {
    if (!error) {
        return QStringLiteral("已断开");
    }
    switch (error->kind) {
    case BLEError::Kind::pairingRemoved:
        return QStringLiteral("对端已删除配对信息，请在系统蓝牙中忽略该设备后重新配对");
    case BLEError::Kind::connectionTimeout:
        return QStringLiteral("连接超时，请确认设备在范围内");
    case BLEError::Kind::other:
        break;
    }
    return error->description;
}

// ---- Published state -----------------------------------------------------------------

QList<BLEUARTDevice> BluetoothService::filteredDevices() const {
    if (!showNamedOnly_) {
        return devices_;
    }
    QList<BLEUARTDevice> named;
    std::copy_if(devices_.begin(), devices_.end(), std::back_inserter(named),
                 [](const BLEUARTDevice& device) { return !device.name.isEmpty(); });
    return named;
}

void BluetoothService::setShowNamedOnly(bool namedOnly) {
    assertMainThread();
    if (showNamedOnly_ != namedOnly) {
        showNamedOnly_ = namedOnly;
        emit showNamedOnlyChanged();
        emit filteredDevicesChanged();
    }
}

void BluetoothService::setDevices(QList<BLEUARTDevice> devices) {
    if (devices_ != devices) {
        devices_ = std::move(devices);
        emit devicesChanged();
        emit filteredDevicesChanged();
    }
}

void BluetoothService::setConnectedDeviceID(const QString& id) {
    publish(connectedDeviceID_, id, &BluetoothService::connectedDeviceIDChanged);
}

// ---- Central state and scanning ----------------------------------------------------------

void BluetoothService::centralStateChanged(State state) {
    assertMainThread();
    debug(QStringLiteral("[BLE] centralManagerDidUpdateState: %1").arg(int(state)));
    adapterState_ = state;
    QString authorization;
    QString status;
    switch (state) {
    case State::unknown:
        authorization = QStringLiteral("未请求权限");
        status = QStringLiteral("蓝牙状态未知");
        break;
    case State::resetting:
        authorization = QStringLiteral("蓝牙重置中");
        status = QStringLiteral("蓝牙重置中");
        break;
    case State::unsupported:
        authorization = QStringLiteral("不支持蓝牙");
        status = QStringLiteral("当前设备不支持蓝牙，或运行在虚拟机等无蓝牙环境");
        break;
    case State::unauthorized:
        authorization = QStringLiteral("未授权");
        status = QStringLiteral("无蓝牙权限，请在系统设置中授权 Orvane");
        break;
    case State::poweredOff:
        authorization = QStringLiteral("已授权");
        status = QStringLiteral("蓝牙已关闭，请在系统设置中开启");
        break;
    case State::poweredOn:
        authorization = QStringLiteral("已授权");
        status = QStringLiteral("蓝牙已开启，正在自动扫描…");
        break;
    default:
        authorization = QStringLiteral("未知");
        status = QStringLiteral("蓝牙不可用，请检查系统蓝牙状态");
        break;
    }
    if (state == State::poweredOff) {
        // Stopped before the texts are set: the scan's summary must not hide that
        // Bluetooth is off.
        stopScan();
    }
    publish(authorizationStatusText_, authorization,
            &BluetoothService::authorizationStatusTextChanged);
    setStatusText(status);
    if (state == State::poweredOn) {
        startScan();
        scheduleAutoConnect();
    }
}

void BluetoothService::requestAutoConnect() {
    assertMainThread();
    if (central_ && central_->state() == State::poweredOn) {
        scheduleAutoConnect();
    }
}

void BluetoothService::scheduleAutoConnect() {
    if (!autoConnectDeviceID_ || autoConnectDeviceID_->isEmpty()) {
        return;
    }
    // Give the scan a moment to see the saved device before the owner connects it. A
    // second request before then replaces the first: the owner is asked once.
    autoConnectTimer_ = timers_(autoConnectDelay, [this] {
        if (onAutoConnect_) {
            onAutoConnect_();
        }
    });
}

void BluetoothService::startScan() {
    assertMainThread();
    if (!central_) {
        setStatusText(QStringLiteral("蓝牙管理器未初始化"));
        return;
    }
    const State state = central_->state();
    debug(QStringLiteral("[BLE] startScan called, central.state = %1").arg(int(state)));
    switch (state) {
    case State::unsupported:
        setStatusText(QStringLiteral("当前设备不支持蓝牙，或运行在虚拟机等无蓝牙环境"));
        return;
    case State::unauthorized:
        setStatusText(QStringLiteral("无蓝牙权限，请在系统设置中授权 Orvane"));
        return;
    case State::poweredOff:
        setStatusText(QStringLiteral("蓝牙已关闭，请在系统设置中开启"));
        return;
    case State::poweredOn:
        break;
    default:
        setStatusText(QStringLiteral("蓝牙不可用，请检查系统蓝牙状态"));
        return;
    }
    stopScan();
    publish(isScanning_, true, &BluetoothService::isScanningChanged);
    setDevices({});
    discoveredPeripherals_.clear();
    setStatusText(QStringLiteral("正在扫描 BLE 设备…"));
    central_->scanForPeripherals();
    scanTimer_ = timers_(scanDuration, [this] { stopScan(); });
}

void BluetoothService::stopScan() {
    assertMainThread();
    if (central_) {
        central_->stopScan();
    }
    scanTimer_.reset();
    publish(isScanning_, false, &BluetoothService::isScanningChanged);
    if (isConnected_) {
        return; // the status line keeps showing the connection
    }
    if (devices_.isEmpty()) {
        setStatusText(QStringLiteral("扫描完成，未发现 BLE 设备"));
        return;
    }
    const auto named =
        std::count_if(devices_.begin(), devices_.end(),
                      [](const BLEUARTDevice& device) { return !device.name.isEmpty(); });
    const qsizetype total = devices_.size();
    setStatusText(QStringLiteral("发现 %1 个 BLE 设备（%2 个有名称，%3 个无名称）")
                      .arg(total)
                      .arg(named)
                      .arg(total - named));
}

void BluetoothService::didDiscover(const BluetoothCentral::Advertisement& advertisement) {
    assertMainThread();
    const QString name =
        advertisement.peripheralName.value_or(advertisement.localName.value_or(QString()));
    debug(QStringLiteral("[BLE] didDiscover: %1 (name=%2, rssi=%3, services=[%4])")
              .arg(advertisement.id, name)
              .arg(advertisement.rssi)
              .arg(advertisement.serviceUUIDs.join(QStringLiteral(", "))));
    discoveredPeripherals_.insert(advertisement.id);
    QList<BLEUARTDevice> devices = devices_;
    const BLEUARTDevice device{advertisement.id, name, advertisement.rssi};
    const auto existing = std::find_if(devices.begin(), devices.end(),
                                       [&](const BLEUARTDevice& d) { return d.id == device.id; });
    if (existing != devices.end()) {
        *existing = device;
    } else {
        devices.append(device);
    }
    setDevices(std::move(devices));
    if (onAdvertisement_) {
        onAdvertisement_(advertisement);
    }
}

// ---- Connection --------------------------------------------------------------------

void BluetoothService::connect(const QString& id, FrameCallback onDataReceived,
                               DeviceCallback onNameUpdated) {
    assertMainThread();
    onDataReceived_ = std::move(onDataReceived);
    onNameUpdated_ = std::move(onNameUpdated);
    const std::optional<QString> canonical =
        central_ ? central_->canonicalIdentifier(id) : std::optional<QString>();
    if (central_ && !canonical) {
        setStatusText(QStringLiteral("设备 ID 无效"));
        return;
    }
    // Look-up order: seen by this scan, known to the stack, connected at the system level.
    const bool found =
        central_ &&
        (discoveredPeripherals_.contains(*canonical) || central_->isKnownPeripheral(*canonical) ||
         central_->connectedPeripherals(bridge().services()).contains(*canonical));
    if (!found) {
        setStatusText(QStringLiteral("未找到设备，请先扫描或在系统蓝牙中断开该设备"));
        return;
    }
    discoveredPeripherals_.insert(*canonical);
    connectedPeripheral_ = *canonical;
    setConnectedDeviceID(*canonical);
    if (central_->isPeripheralConnected(*canonical)) {
        setStatusText(QStringLiteral("已连接（系统蓝牙）"));
        publish(isConnected_, true, &BluetoothService::isConnectedChanged);
        discoverBridgeServices();
        return;
    }
    central_->connectPeripheral(*canonical);
}

void BluetoothService::discoverBridgeServices() {
    central_->discoverServices(*connectedPeripheral_, bridge().services());
}

void BluetoothService::didConnect(const QString& id, const QString& currentName) {
    assertMainThread();
    publish(isConnected_, true, &BluetoothService::isConnectedChanged);
    setStatusText(QStringLiteral("已连接"));
    setConnectedDeviceID(id);
    if (!currentName.isEmpty()) {
        QList<BLEUARTDevice> devices = devices_;
        const auto entry = std::find_if(devices.begin(), devices.end(),
                                        [&](const BLEUARTDevice& d) { return d.id == id; });
        if (entry != devices.end() && entry->name != currentName) {
            entry->name = currentName;
            const BLEUARTDevice updated = *entry;
            setDevices(std::move(devices));
            if (onNameUpdated_) {
                onNameUpdated_(updated);
            }
        }
    }
    central_->discoverServices(id, bridge().services());
}

void BluetoothService::didFailToConnect(const QString& id, const BLEError& error) {
    assertMainThread();
    Q_UNUSED(id);
    publish(isConnected_, false, &BluetoothService::isConnectedChanged);
    setStatusText(formatBLEError(error));
    setConnectedDeviceID(QString());
}

void BluetoothService::didDisconnect(const QString& id, const std::optional<BLEError>& error) {
    assertMainThread();
    publish(isConnected_, false, &BluetoothService::isConnectedChanged);
    setStatusText(formatBLEError(error));
    txCharacteristic_.reset();
    rxCharacteristic_.reset();
    if (connectedDeviceID_ == id) {
        setConnectedDeviceID(QString());
    }
}

void BluetoothService::disconnect() {
    assertMainThread();
    if (connectedPeripheral_ && central_) {
        central_->cancelPeripheralConnection(*connectedPeripheral_);
    }
    connectedPeripheral_.reset();
    setConnectedDeviceID(QString());
    txCharacteristic_.reset();
    rxCharacteristic_.reset();
    publish(isConnected_, false, &BluetoothService::isConnectedChanged);
    setStatusText(QStringLiteral("未连接"));
}

// ---- Services and characteristics ---------------------------------------------------------

void BluetoothService::didDiscoverServices(const QString& id, const QStringList& services) {
    assertMainThread();
    const BridgeUUIDs& uuids = bridge();
    for (const QString& service : services) {
        const QString canonical = BLEUUIDs::canonical(service);
        if (canonical == uuids.nordicService) {
            central_->discoverCharacteristics(id, canonical, {uuids.nordicRX, uuids.nordicTX});
        } else if (canonical == uuids.hxExtService) {
            central_->discoverCharacteristics(id, canonical, {uuids.hxExtRX, uuids.hxExtTX});
        }
    }
}

void BluetoothService::didDiscoverCharacteristics(const QString& id, const QString& service,
                                                  const QStringList& characteristics) {
    assertMainThread();
    // A late answer from a peripheral given up meanwhile must not route our writes to it.
    if (connectedPeripheral_ != id) {
        return;
    }
    const BridgeUUIDs& uuids = bridge();
    const QString serviceUUID = BLEUUIDs::canonical(service);
    QString writeUUID;
    QString notifyUUID;
    if (serviceUUID == uuids.nordicService) {
        writeUUID = uuids.nordicRX;
        notifyUUID = uuids.nordicTX;
    } else if (serviceUUID == uuids.hxExtService) {
        writeUUID = uuids.hxExtRX;
        notifyUUID = uuids.hxExtTX;
    } else {
        return;
    }
    for (const QString& characteristic : characteristics) {
        const QString uuid = BLEUUIDs::canonical(characteristic);
        if (uuid == writeUUID) {
            rxCharacteristic_ = Characteristic{serviceUUID, uuid};
        } else if (uuid == notifyUUID) {
            txCharacteristic_ = Characteristic{serviceUUID, uuid};
            central_->setNotifyValue(id, *txCharacteristic_, true);
        }
    }
    if (rxCharacteristic_) {
        flushPendingWrites();
    }
}

void BluetoothService::didUpdateNotificationState(const QString& id,
                                                  const Characteristic& characteristic,
                                                  const std::optional<BLEError>& error) {
    assertMainThread();
    Q_UNUSED(id);
    Q_UNUSED(characteristic);
    if (error) {
        setStatusText(QStringLiteral("通知订阅失败: ") + error->description);
    }
}

// ---- Receiving -------------------------------------------------------------------------

void BluetoothService::didUpdateValue(const QString& id, const Characteristic& characteristic,
                                      const QByteArray& value) {
    assertMainThread();
    Q_UNUSED(id);
    const BridgeUUIDs& uuids = bridge();
    if ((characteristic.uuid != uuids.nordicTX && characteristic.uuid != uuids.hxExtTX) ||
        value.isEmpty()) {
        return;
    }
    if (callbacks_.debug) {
        debug(QStringLiteral("[BLE] raw RX %1 B: %2").arg(value.size()).arg(hexSpaced(value)));
    }
    if (onRawDataReceived_) {
        onRawDataReceived_(value);
    }
    rxBuffer_.append(value);
    drainBufferedFrames();
}

void BluetoothService::drainBufferedFrames() {
    QList<FrameIssue> issues;
    while (std::optional<QByteArray> frame = ProtocolWire::extractFrame(rxBuffer_, issues)) {
        if (onDataReceived_) {
            onDataReceived_(*frame);
        }
    }
    if (!issues.isEmpty() && callbacks_.log) {
        QStringList messages;
        for (const FrameIssue& issue : issues) {
            messages.append(issue.message);
        }
        callbacks_.log(QStringLiteral("[BLE] 帧重组问题: ") + messages.join(QStringLiteral("; ")));
    }
}

// ---- Writing ---------------------------------------------------------------------------

void BluetoothService::write(const QByteArray& data) {
    assertMainThread();
    if (!connectedPeripheral_ || !rxCharacteristic_) {
        if (pendingWriteBytes_ + data.size() > pendingWriteLimitBytes) {
            if (callbacks_.warn) {
                callbacks_.warn(
                    QStringLiteral("[BLE] write of %1 B refused: %2 B already waiting for the "
                                   "write characteristic")
                        .arg(data.size())
                        .arg(pendingWriteBytes_));
            }
            return;
        }
        pendingWrites_.append(data);
        pendingWriteBytes_ += data.size();
        return;
    }
    int length = central_->maximumWriteLength(*connectedPeripheral_, *rxCharacteristic_);
    if (length <= 0) {
        length = fallbackWriteLength;
    }
    const QByteArrayView bytes(data);
    for (qsizetype offset = 0; offset < bytes.size(); offset += length) {
        central_->writeWithoutResponse(
            *connectedPeripheral_, *rxCharacteristic_,
            bytes.sliced(offset, std::min<qsizetype>(length, bytes.size() - offset)));
    }
}

void BluetoothService::flushPendingWrites() {
    const QList<QByteArray> pending = std::exchange(pendingWrites_, {});
    pendingWriteBytes_ = 0;
    for (const QByteArray& data : pending) {
        write(data);
    }
}

} // namespace orvane
