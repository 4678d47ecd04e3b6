#pragma once

#include "bluetooth/BLEError.h"
#include "bluetooth/BLEUARTDevice.h"
#include "bluetooth/BluetoothCentral.h"
#include "bluetooth/BluetoothTimer.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>

namespace orvane {

// The BLE UART link to the KVM device: a central that scans for peripherals, connects to
// the device's UART bridge (the Nordic UART Service or the FFF0 bridge), subscribes to its
// notify characteristic, cuts the notification stream into link frames and hands each
// whole frame to its owner, and writes outgoing bytes to the bridge in pieces that fit
// one write without response. It knows nothing of the protocol beyond frame boundaries.
//
// The platform's BLE stack is reached through a BluetoothCentral, whose events arrive
// here through the Delegate interface. Failures never reach the owner as errors: each one
// becomes a status line.
//
// Threads: lives on the main thread; every operation, event and property change happens
// there. The owner brings calls from other threads over itself.
class BluetoothService : public QObject, public BluetoothCentral::Delegate {
    Q_OBJECT
    Q_PROPERTY(QList<orvane::BLEUARTDevice> devices READ devices NOTIFY devicesChanged)
    Q_PROPERTY(QList<orvane::BLEUARTDevice> filteredDevices READ filteredDevices NOTIFY
                   filteredDevicesChanged)
    Q_PROPERTY(
        bool showNamedOnly READ showNamedOnly WRITE setShowNamedOnly NOTIFY showNamedOnlyChanged)
    Q_PROPERTY(bool isScanning READ isScanning NOTIFY isScanningChanged)
    Q_PROPERTY(QString connectedDeviceID READ connectedDeviceID NOTIFY connectedDeviceIDChanged)
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(QString authorizationStatusText READ authorizationStatusText NOTIFY
                   authorizationStatusTextChanged)

public:
    static constexpr char nordicServiceUUID[] = "6E400001-B5A3-F393-E0A9-E50E24DCCA9E";
    static constexpr char nordicRXCharacteristicUUID[] = "6E400002-B5A3-F393-E0A9-E50E24DCCA9E";
    static constexpr char nordicTXCharacteristicUUID[] = "6E400003-B5A3-F393-E0A9-E50E24DCCA9E";
    static constexpr char hxExtServiceUUID[] = "FFF0";
    static constexpr char hxExtRXCharacteristicUUID[] = "FFF2";
    static constexpr char hxExtTXCharacteristicUUID[] = "FFF1";

    static constexpr std::chrono::milliseconds scanDuration{10000};
    static constexpr std::chrono::milliseconds autoConnectDelay{1000};
    // Writes queued before the write characteristic is known are bounded by their total
    // size: a frame is at most 64 KiB, and the link never has more than a few waiting.
    static constexpr qsizetype pendingWriteLimitBytes = 1024 * 1024;
    // Used when the stack reports no sensible write length.
    static constexpr int fallbackWriteLength = 20;

    using Log = std::function<void(const QString& line)>;
    using FrameCallback = std::function<void(const QByteArray& frame)>;
    using DeviceCallback = std::function<void(const BLEUARTDevice& device)>;

    struct Callbacks {
        Log debug; // detailed diagnostics; may be empty, which also saves their formatting
        Log log;   // lines worth keeping
        Log warn;
    };

    // Becomes the central's delegate; the central reports its state once it knows it. A
    // null central stands for a stack that could not be set up at all.
    BluetoothService(std::unique_ptr<BluetoothCentral> central, Callbacks callbacks,
                     BluetoothTimer::Factory timers = BluetoothTimer::eventLoopFactory(),
                     QObject* parent = nullptr);
    ~BluetoothService() override;

    BluetoothService(const BluetoothService&) = delete;
    BluetoothService& operator=(const BluetoothService&) = delete;

    // Starts a 10-second scan, or says in statusText why it cannot.
    void startScan();
    // Ends the scan and summarises it in statusText (unless connected).
    void stopScan();
    // Connects to the peripheral with this identifier; whole frames received from it go to
    // `onDataReceived`, a better name learnt while connecting to `onNameUpdated`.
    void connect(const QString& id, FrameCallback onDataReceived,
                 DeviceCallback onNameUpdated = {});
    void disconnect();
    // Sends bytes to the bridge, cut to the write length; queued while the write
    // characteristic is not known yet and flushed in order once it is.
    void write(const QByteArray& data);

    // "已断开" for a clean end, otherwise the advice that fits the error.
    // True when `serviceUUID` (any spelling) is one of the two bridge services.
    static bool isBridgeService(const QString& serviceUUID);
    static QString formatBLEError(const std::optional<BLEError>& error);

    // ---- Owner's settings -------------------------------------------------------------
    // When set and not empty, powering on asks the owner to connect after a moment. An empty
    // text means no device: a program with only a serial port never hears the request.
    void setAutoConnectDeviceID(std::optional<QString> id) { autoConnectDeviceID_ = std::move(id); }
    // For an owner that learns its device only after the central may have reported power:
    // asks as powering on would if the central is on now; otherwise the power-on will.
    void requestAutoConnect();
    std::optional<QString> autoConnectDeviceID() const { return autoConnectDeviceID_; }
    void setOnAutoConnect(std::function<void()> callback) { onAutoConnect_ = std::move(callback); }
    // Every notification's bytes, before reassembly (for the debug log).
    void setOnRawDataReceived(std::function<void(const QByteArray&)> callback) {
        onRawDataReceived_ = std::move(callback);
    }

    // Every advertisement as the stack reported it, advertised services included (for
    // tools that tell bridges from other peripherals).
    void setOnAdvertisement(std::function<void(const BluetoothCentral::Advertisement&)> callback) {
        onAdvertisement_ = std::move(callback);
    }

    // ---- Published state ----------------------------------------------------------------
    QList<BLEUARTDevice> devices() const { return devices_; }
    QList<BLEUARTDevice> filteredDevices() const;
    bool showNamedOnly() const { return showNamedOnly_; }
    void setShowNamedOnly(bool namedOnly);
    bool isScanning() const { return isScanning_; }
    QString connectedDeviceID() const { return connectedDeviceID_; } // empty: none
    bool isConnected() const { return isConnected_; }
    QString statusText() const { return statusText_; }
    QString authorizationStatusText() const { return authorizationStatusText_; }
    // The adapter's state as last reported to the service, the one statusText() tells of
    // (the central's own may already be newer).
    BluetoothCentral::State adapterState() const { return adapterState_; }

    // Diagnostics and tests.
    qsizetype pendingWriteCount() const { return pendingWrites_.size(); }
    qsizetype bufferedByteCount() const { return rxBuffer_.size(); }
    BluetoothCentral* central() { return central_.get(); }

    // ---- BluetoothCentral::Delegate ---------------------------------------------------
    void centralStateChanged(BluetoothCentral::State state) override;
    void didDiscover(const BluetoothCentral::Advertisement& advertisement) override;
    void didConnect(const QString& id, const QString& currentName) override;
    void didFailToConnect(const QString& id, const BLEError& error) override;
    void didDisconnect(const QString& id, const std::optional<BLEError>& error) override;
    void didDiscoverServices(const QString& id, const QStringList& services) override;
    void didDiscoverCharacteristics(const QString& id, const QString& service,
                                    const QStringList& characteristics) override;
    void didUpdateNotificationState(const QString& id,
                                    const BluetoothCentral::Characteristic& characteristic,
                                    const std::optional<BLEError>& error) override;
    void didUpdateValue(const QString& id, const BluetoothCentral::Characteristic& characteristic,
                        const QByteArray& value) override;

signals:
    void devicesChanged();
    void filteredDevicesChanged();
    void showNamedOnlyChanged();
    void isScanningChanged();
    void connectedDeviceIDChanged();
    void isConnectedChanged();
    void statusTextChanged();
    void authorizationStatusTextChanged();

private:
    template <typename T>
    void publish(T& field, const std::type_identity_t<T>& value,
                 void (BluetoothService::*changed)()) {
        if (field != value) {
            field = value;
            emit(this->*changed)();
        }
    }
    void setStatusText(const QString& text) {
        publish(statusText_, text, &BluetoothService::statusTextChanged);
    }
    void setDevices(QList<BLEUARTDevice> devices);
    void setConnectedDeviceID(const QString& id);
    void assertMainThread() const;

    void flushPendingWrites();
    void drainBufferedFrames();
    void discoverBridgeServices();
    void scheduleAutoConnect();
    void debug(const QString& line) const;

    const std::unique_ptr<BluetoothCentral> central_;
    const Callbacks callbacks_;
    const BluetoothTimer::Factory timers_;

    // Published.
    QList<BLEUARTDevice> devices_;
    bool showNamedOnly_ = false;
    bool isScanning_ = false;
    QString connectedDeviceID_;
    bool isConnected_ = false;
    QString statusText_ = QStringLiteral("未连接");
    QString authorizationStatusText_ = QStringLiteral("未请求权限");
    BluetoothCentral::State adapterState_ = BluetoothCentral::State::unknown;

    std::optional<QString> autoConnectDeviceID_;
    std::function<void()> onAutoConnect_;
    std::function<void(const QByteArray&)> onRawDataReceived_;
    std::function<void(const BluetoothCentral::Advertisement&)> onAdvertisement_;
    FrameCallback onDataReceived_;
    DeviceCallback onNameUpdated_;

    QSet<QString> discoveredPeripherals_;
    std::optional<QString> connectedPeripheral_;
    std::optional<BluetoothCentral::Characteristic> txCharacteristic_;
    std::optional<BluetoothCentral::Characteristic> rxCharacteristic_;
    QList<QByteArray> pendingWrites_;
    qsizetype pendingWriteBytes_ = 0;
    QByteArray rxBuffer_;
    std::unique_ptr<BluetoothTimer> scanTimer_;
    std::unique_ptr<BluetoothTimer> autoConnectTimer_;
};

} // namespace orvane
