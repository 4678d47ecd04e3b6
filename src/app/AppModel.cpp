#include "app/AppModel.h"

#include "app/XdgAutostart.h"
#include "protocol/ProtocolWire.h"
#include "serial/SerialLogStore.h"
#include "storage/DataDirectoryFiles.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <utility>

namespace orvane {

namespace {

const QString autoSelectName = QStringLiteral("ZE DOZ ERA");

} // namespace

AppModel::AppModel(Parts parts, QObject* parent)
    : QObject(parent)
    , parts_(std::move(parts)) {
    Q_ASSERT(parts_.clipboardIO && parts_.clipboardTimers);
    timers_ = parts_.timers ? std::move(parts_.timers) : ModelTimers::eventLoop();
    if (!parts_.openStore) {
        parts_.openStore = [] {
            return AppStore::openOrRecover();
        };
    }
    if (!parts_.loginItem) {
        parts_.loginItem = [](bool enabled) {
            return XdgAutostart::setEnabled(enabled, QCoreApplication::applicationFilePath());
        };
    }
    // The store is attached in startup(). Received items reach the history through the
    // clipboard manager's persist callback; the stack only makes their files durable, on
    // the same queue and so before their rows.
    history_ = std::make_shared<HistoryService>(parts_.dataDirectory);
    stack_ = std::make_unique<ProtocolStack>(
        std::move(parts_.serialPlatform),
        ProtocolStack::Options{parts_.receivedFiles
                                   ? parts_.receivedFiles
                                   : std::make_shared<DataDirectoryFiles>(parts_.dataDirectory),
                               history_, false});
    const auto log = [this](const QString& line) {
        appendProtocolLog(line);
    };
    bluetooth_ = std::make_unique<BluetoothService>(std::move(parts_.bluetoothCentral),
                                                    BluetoothService::Callbacks{{}, log, log},
                                                    parts_.bluetoothTimers);
    clipboard_ =
        std::make_unique<ClipboardManager>(*parts_.clipboardIO, *parts_.clipboardTimers, log);
    setupSerialBridge();
    applyLogRetention();
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!hasStarted_) {
                hasStarted_ = true;
                startup();
            }
        },
        Qt::QueuedConnection);
}

AppModel::~AppModel() {
    cancelClipboardSend();
    for (auto& sender : sendThreads_) {
        sender.thread.request_stop();
    }
    sendThreads_.clear(); // joins
    QObject::disconnect(bleScanConnection_);
    serial().setBluetoothWrite({});
    clipboard_.reset();
    bluetooth_.reset();
    stack_.reset();
    history_.reset(); // finishes what is queued
}

void AppModel::setupSerialBridge() {
    SerialService& serial = stack_->service();
    connect(&serial, &SerialService::isConnectedChanged, this, [this] {
        if (stack_->service().isConnected()) {
            clearStaleSerialErrorIfNeeded();
        }
    });
    // The serial service writes from its I/O queue; the BLE service lives on this thread.
    serial.setBluetoothWrite([self = QPointer<AppModel>(this)](const QByteArray& data) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, data] {
                if (self) {
                    self->bluetooth_->write(data);
                }
            },
            Qt::QueuedConnection);
    });
    bluetooth_->setOnRawDataReceived([this](const QByteArray& data) {
        stack_->service().appendLog(QStringLiteral("BT RX RAW"),
                                    QString::number(data.size()) + QStringLiteral(" B"),
                                    {ProtocolWire::formatHexCompactTruncated(data, 32, 16)});
    });
    bluetooth_->setOnAutoConnect([this] {
        const QString saved = settings_.bluetoothDeviceID;
        if (!saved.isEmpty() && bluetooth_->connectedDeviceID() == saved) {
            return; // the start-up scan found it first
        }
        connectBluetooth();
        if (!saved.isEmpty() && bluetooth_->connectedDeviceID() == saved) {
            // Under way: a later scan must not connect it again behind the user's back.
            QObject::disconnect(bleScanConnection_);
        }
    });
    connect(bluetooth_.get(), &BluetoothService::isConnectedChanged, this, [this] {
        const bool connected = bluetooth_->isConnected();
        SerialService& serial = stack_->service();
        if (serial.bluetoothConnected() == connected) {
            return;
        }
        serial.setBluetoothConnected(connected);
        if (connected) {
            serial.publishBluetoothLinkState(true);
            appendProtocolLog(
                QStringLiteral("蓝牙已连接 ") +
                (autoFoundDevice_ ? autoFoundDevice_->name : settings_.bluetoothDeviceName));
        } else if (!serial.selectedBluetoothDeviceID().isEmpty()) {
            // Without a BLE device chosen a drop never overrides a working serial link.
            serial.publishBluetoothLinkState(false);
            appendProtocolLog(QStringLiteral("蓝牙已断开"));
        }
    });
    connect(bluetooth_.get(), &BluetoothService::statusTextChanged, this,
            [this] { appendProtocolLog(QStringLiteral("[BLE] ") + bluetooth_->statusText()); });
    connect(stack_.get(), &ProtocolStack::itemDelivered, this, &AppModel::deliverTransEntry);
    connect(stack_.get(), &ProtocolStack::echoReceived, this, &AppModel::handleEchoForAutoSelect);
    connect(stack_.get(), &ProtocolStack::logLine, this, &AppModel::appendProtocolLog);
    connect(stack_.get(), &ProtocolStack::warning, this, [this](const QString& line) {
        stack_->service().appendLog(QStringLiteral("WRN"), line);
    });
}

void AppModel::startup() {
    Q_ASSERT(thread() == QThread::currentThread());
    hasStarted_ = true;
    SerialService& serial = stack_->service();
    auto opened = parts_.openStore();
    std::optional<AppSettings> loaded;
    if (opened) {
        store_ = std::shared_ptr<AppStore>(std::move(opened.value()));
        auto read = store_->getSettings();
        if (read) {
            loaded = read.value();
        } else {
            storeProblem_ = read.error().description();
        }
    } else {
        storeProblem_ = opened.error().description();
    }
    if (!storeProblem_.isEmpty()) {
        setErrorMessage(QStringLiteral("配置存储不可用: ") + storeProblem_);
    } else if (const auto& damaged = store_->damagedCopy()) {
        setErrorMessage(QStringLiteral("配置和历史数据库已损坏，已移至 %1 并重新创建")
                            .arg(QFileInfo(*damaged).fileName()));
        serial.appendLog(
            QStringLiteral("WRN"),
            QStringLiteral("store: damaged database moved to %1, started afresh").arg(*damaged));
    }
    if (loaded) {
        setSettings(*loaded);
        setSerialDebugLogEnabledValue(settings_.serialDebugLogEnabled);
        auto hasPort = store_->hasSerialPort();
        bool configured = hasPort && hasPort.value();
        if (!configured) {
            auto hasDevice = store_->hasBluetoothDevice();
            configured = hasDevice && hasDevice.value();
        }
        setPortConfigured(configured);
        serial.setSelectedPath(settings_.serialPort);
        serial.setBaudRate(settings_.baudRate >= 1 ? settings_.baudRate : defaultBaudRate);
        serial.setSelectedBluetoothDeviceID(settings_.bluetoothDeviceID);
        serial.setSelectedBluetoothDeviceName(settings_.bluetoothDeviceName);
        bluetooth_->setAutoConnectDeviceID(settings_.bluetoothDeviceID);
        (void)parts_.dataDirectory.root();
        applyStoredAutostart();
    }
    serial.setOnPortAutoMigrated([this](const QString& path) {
        // The device came back under a new name: follow it, in memory when it cannot be
        // saved, as a choice of the user's would be.
        AppSettings updated = settings_;
        updated.serialPort = path;
        persistSettings(updated);
        setSettings(updated);
        setPortConfigured(true);
    });
    history_->attach(store_);
    // Queued ahead of every entry stored from now on, which therefore stays in front of
    // what the load brings.
    history_->load(
        this, [this](const QList<ClipboardEntry>& entries) { clipboard_->historyLoaded(entries); });
    clipboard_->start([this] { refreshClipboardState(); },
                      [this](const ClipboardEntry& entry) { persistClipboardEntry(entry); });
    refreshClipboardState();
    serial.activate();
    startAutoConnect();
    if (!portConfigured_) {
        setShowSettings(true);
    }
}

void AppModel::applyStoredAutostart() {
    if (settings_.autostart) {
        (void)parts_.loginItem(true);
    }
}

void AppModel::startAutoConnect() {
    QObject::disconnect(bleScanConnection_);
    isAutoSelecting_ = true;
    appendProtocolLog(
        QStringLiteral("自动选择：同时尝试 CDC 和 BLE ZE DOZ ERA，先收到 ECHO 者生效"));
    SerialService& serial = stack_->service();
    const QString path =
        settings_.serialPort.isEmpty() ? serial.selectedPath() : settings_.serialPort;
    if (!path.isEmpty()) {
        serial.setSelectedPath(path);
        serial.disconnect();
        serial.connect();
    }
    startBLEAutoConnect();
}

void AppModel::startBLEAutoConnect() {
    if (bluetooth_->isConnected()) {
        return;
    }
    bluetooth_->startScan();
    // The adapter may have reported its power before the saved device was loaded.
    bluetooth_->requestAutoConnect();
    QObject::disconnect(bleScanConnection_);
    bleScanConnection_ = connect(bluetooth_.get(), &BluetoothService::devicesChanged, this, [this] {
        // A saved device is looked for by its identifier, whatever its name; without one, the
        // device's own bridge by its name.
        const QString saved = settings_.bluetoothDeviceID;
        for (const BLEUARTDevice& device : bluetooth_->devices()) {
            if (saved.isEmpty() ? device.name != autoSelectName : device.id != saved) {
                continue;
            }
            QObject::disconnect(bleScanConnection_);
            bluetooth_->stopScan();
            setErrorMessage({});
            if (saved.isEmpty()) {
                // Saved only once the device's first probe comes over it: should the probe
                // come over serial, or not at all, the user's serial port stays as it was.
                autoFoundDevice_ = device;
            }
            if (bluetooth_->connectedDeviceID() != device.id) {
                connectBluetoothDevice(device.id);
            }
            return;
        }
    });
}

void AppModel::handleEchoForAutoSelect(SerialDataSource source) {
    Q_ASSERT(thread() == QThread::currentThread());
    if (!isAutoSelecting_) {
        return;
    }
    isAutoSelecting_ = false;
    SerialService& serial = stack_->service();
    switch (source) {
    case SerialDataSource::unknown:
        appendProtocolLog(QStringLiteral("ECHO 来源未知，保持当前连接"));
        return;
    case SerialDataSource::serial:
        appendProtocolLog(QStringLiteral("ECHO 来自 CDC，选择 UART CDC，断开 BLE"));
        endScanMatch();
        bluetooth_->stopScan();
        bluetooth_->disconnect();
        clearSavedBluetoothDevice();
        return;
    case SerialDataSource::bluetooth:
        appendProtocolLog(QStringLiteral("ECHO 来自 BLE，选择 ZE DOZ ERA，断开 CDC"));
        if (autoFoundDevice_) {
            // Saved (or, without a store, held for this run) and made the link.
            saveBluetoothDevice(*std::exchange(autoFoundDevice_, std::nullopt));
        } else if (settings_.bluetoothDeviceID.isEmpty()) {
            serial.disconnect();
        } else {
            selectBluetoothInSerial(settings_.bluetoothDeviceID, settings_.bluetoothDeviceName);
        }
        return;
    }
}

void AppModel::selectBluetoothInSerial(const QString& id, const QString& name) {
    // Without a Bluetooth selection disconnect() closes the port; the selection then makes
    // the service route frames to the BLE link, the state a start with this device has.
    SerialService& serial = stack_->service();
    serial.setSelectedBluetoothDeviceID({});
    serial.setSelectedPath({});
    serial.disconnect();
    serial.setSelectedBluetoothDeviceID(id);
    serial.setSelectedBluetoothDeviceName(name);
    serial.setBluetoothConnected(bluetooth_->isConnected());
}

void AppModel::connectBluetooth() {
    setErrorMessage({});
    if (settings_.bluetoothDeviceID.isEmpty()) {
        setErrorMessage(QStringLiteral("未选择蓝牙设备"));
        return;
    }
    connectBluetoothDevice(settings_.bluetoothDeviceID);
}

void AppModel::connectBluetoothDevice(const QString& id) {
    QPointer<AppModel> self(this);
    bluetooth_->connect(
        id,
        [self](const QByteArray& frame) {
            if (self) {
                self->stack_->service().receiveBluetoothData(frame);
            }
        },
        [self](const BLEUARTDevice& device) {
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

void AppModel::saveBluetoothDevice(const std::optional<BLEUARTDevice>& device) {
    setErrorMessage({});
    const QString id = device ? device->id : QString();
    const QString name = device ? device->name : QString();
    AppSettings updated = settings_;
    updated.bluetoothDeviceID = id;
    updated.bluetoothDeviceName = name;
    updated.serialPort.clear();
    bluetooth_->setAutoConnectDeviceID(id);
    persistSettings(updated);
    setSettings(updated);
    endScanMatch();
    SerialService& serial = stack_->service();
    if (id.isEmpty()) {
        serial.setSelectedPath({});
        serial.setSelectedBluetoothDeviceID({});
        serial.setSelectedBluetoothDeviceName({});
        serial.disconnect();
        return;
    }
    selectBluetoothInSerial(id, name);
}

void AppModel::endScanMatch() {
    QObject::disconnect(bleScanConnection_);
    autoFoundDevice_.reset();
}

void AppModel::clearSavedBluetoothDevice() {
    AppSettings updated = settings_;
    updated.bluetoothDeviceID.clear();
    updated.bluetoothDeviceName.clear();
    persistSettings(updated);
    setSettings(updated);
    setPortConfigured(!updated.serialPort.isEmpty());
    bluetooth_->setAutoConnectDeviceID(std::nullopt);
    SerialService& serial = stack_->service();
    serial.setSelectedBluetoothDeviceID({});
    serial.setSelectedBluetoothDeviceName({});
}

void AppModel::selectSerialPort(const QString& path) {
    setErrorMessage({});
    AppSettings updated = settings_;
    updated.serialPort = path;
    updated.bluetoothDeviceID.clear();
    updated.bluetoothDeviceName.clear();
    persistSettings(updated);
    setSettings(updated);
    endScanMatch();
    setPortConfigured(!path.isEmpty());
    SerialService& serial = stack_->service();
    serial.setSelectedPath(path);
    serial.setSelectedBluetoothDeviceID({});
    serial.setSelectedBluetoothDeviceName({});
    bluetooth_->setAutoConnectDeviceID(std::nullopt);
    serial.disconnect();
    serial.connect();
}

void AppModel::reconnectSerial() {
    setErrorMessage({});
    SerialService& serial = stack_->service();
    const QString port =
        serial.selectedPath().isEmpty() ? settings_.serialPort : serial.selectedPath();
    if (port.isEmpty()) {
        setErrorMessage(QStringLiteral("请先选择串口"));
        return;
    }
    if (port != serial.selectedPath()) {
        serial.setSelectedPath(port);
    }
    serial.connect();
}

void AppModel::saveSettings(AppSettings updated) {
    setErrorMessage({});
    if (!updated.serialPort.isEmpty()) {
        updated.bluetoothDeviceID.clear();
        updated.bluetoothDeviceName.clear();
    }
    persistSettings(updated);
    setSettings(updated);
    endScanMatch();
    setSerialDebugLogEnabledValue(updated.serialDebugLogEnabled);
    setPortConfigured(!updated.serialPort.isEmpty() || !updated.bluetoothDeviceID.isEmpty());
    SerialService& serial = stack_->service();
    serial.setBaudRate(updated.baudRate >= 1 ? updated.baudRate : defaultBaudRate);
    bluetooth_->setAutoConnectDeviceID(updated.bluetoothDeviceID);
    if (!updated.bluetoothDeviceID.isEmpty()) {
        selectBluetoothInSerial(updated.bluetoothDeviceID, updated.bluetoothDeviceName);
    } else {
        serial.setSelectedPath(updated.serialPort);
        serial.setSelectedBluetoothDeviceID({});
        serial.setSelectedBluetoothDeviceName({});
        serial.disconnect();
        serial.connect();
    }
    setShowSettings(false);
}

void AppModel::shutdown() {
    if (isShutDown_) {
        return;
    }
    isShutDown_ = true;
    cancelClipboardSend();
    clipboard_->stop();
    stack_->service().shutdown();
}

void AppModel::clearStaleSerialErrorIfNeeded() {
    if (errorMessage_.isEmpty()) {
        return;
    }
    for (const char* mark : {"串口", "传输失败", "传输超时"}) {
        if (errorMessage_.contains(QString::fromUtf8(mark))) {
            setErrorMessage({});
            return;
        }
    }
}

void AppModel::appendProtocolLog(const QString& message) {
    QPointer<AppModel> self(this);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self, message] {
            if (self && self->stack_) {
                self->stack_->service().appendLog(QStringLiteral("SYS"), message);
            }
        },
        Qt::QueuedConnection);
}

// The link needs no store: a choice the store cannot keep still holds for this run, and
// the error line says it will be gone at the next start.
void AppModel::persistSettings(const AppSettings& settings) {
    QString problem = storeProblem_;
    if (store_) {
        auto saved = store_->saveSettings(settings);
        if (saved) {
            return;
        }
        problem = saved.error().description();
    }
    setErrorMessage(QStringLiteral("设置已生效，但未能保存: ") + problem);
}

void AppModel::setSettings(const AppSettings& settings) {
    if (settings_ == settings) {
        return;
    }
    settings_ = settings;
    emit settingsChanged();
}

void AppModel::setSerialDebugLogEnabledValue(bool enabled) {
    if (serialDebugLogEnabled_ != enabled) {
        serialDebugLogEnabled_ = enabled;
        applyLogRetention();
        emit serialDebugLogEnabledChanged();
    }
}

void AppModel::applyLogRetention() {
    // The log keeps recording while its panel is hidden, so that turning it on to look into
    // a problem shows what led up to it; only how much it keeps depends on the panel. The
    // user's pause is theirs alone.
    stack_->service().logStore().setMaximumEntries(
        serialDebugLogEnabled_ ? SerialLogStore::defaultMaximumEntries : hiddenLogEntries);
}

void AppModel::setPortConfigured(bool configured) {
    if (portConfigured_ != configured) {
        portConfigured_ = configured;
        emit portConfiguredChanged();
    }
}

void AppModel::setErrorMessage(const QString& message) {
    if (errorMessage_ != message) {
        errorMessage_ = message;
        emit errorMessageChanged();
    }
}

void AppModel::setShowSettings(bool show) {
    if (showSettings_ != show) {
        showSettings_ = show;
        emit showSettingsChanged();
    }
}

void AppModel::refreshClipboardState() {
    if (!clipboard_ || clipboardState_ == clipboard_->state()) {
        return;
    }
    clipboardState_ = clipboard_->state();
    emit clipboardStateChanged();
}

} // namespace orvane
