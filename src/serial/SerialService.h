#pragma once

#include "common/Result.h"
#include "serial/SerialDataSource.h"
#include "serial/SerialDeviceSource.h"
#include "serial/SerialDeviceWatch.h"
#include "serial/SerialDisconnectReason.h"
#include "serial/SerialLogBatcher.h"
#include "serial/SerialLogStore.h"
#include "serial/SerialPortDiscovery.h"
#include "serial/SerialPortHotplug.h"
#include "serial/SerialPortInfo.h"
#include "serial/SerialPortSession.h"
#include "serial/SerialReconnectPolicy.h"
#include "serial/SerialServiceTimings.h"
#include "serial/SerialWorkQueue.h"
#include "serial/SerialWriteError.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>

namespace orvane {

// The long-lived manager of the USB serial link. While the user wants a connection and no
// Bluetooth device is chosen, it keeps a SerialPortSession open on the selected path: it
// opens with retries, checks the link every couple of seconds and reopens a link that has
// stopped answering, backs off according to how the last session ended, follows a device
// that re-enumerated under a new path, and tells the user what is going on through its
// status text and connect hint. It also carries every received frame, from the port or
// from the Bluetooth link, to the frame handler and writes the replies back on the link the
// frame came from, and feeds the debug log in batches.
//
// Threads. The object lives on the main thread, where every published property is written
// and its change signal emitted. Connection logic, both health checks, hot-plug reactions
// and sends run on the I/O queue ("com.orvane.serial.io"); operations named "...Locked"
// run there only and rely on it for exclusion. Frame draining and every frameHandler call
// run on the protocol queue ("com.orvane.serial.protocol"), so handler calls never overlap.
// Public operations return at once unless their comment says otherwise.
class SerialService : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<orvane::SerialPortInfo> ports READ ports NOTIFY portsChanged)
    Q_PROPERTY(
        QString selectedPath READ selectedPath WRITE setSelectedPath NOTIFY selectedPathChanged)
    Q_PROPERTY(qint64 baudRate READ baudRate WRITE setBaudRate NOTIFY baudRateChanged)
    Q_PROPERTY(QString selectedBluetoothDeviceID READ selectedBluetoothDeviceID WRITE
                   setSelectedBluetoothDeviceID NOTIFY selectedBluetoothDeviceIDChanged)
    Q_PROPERTY(QString selectedBluetoothDeviceName READ selectedBluetoothDeviceName WRITE
                   setSelectedBluetoothDeviceName NOTIFY selectedBluetoothDeviceNameChanged)
    Q_PROPERTY(bool bluetoothConnected READ bluetoothConnected WRITE setBluetoothConnected NOTIFY
                   bluetoothConnectedChanged)
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)
    Q_PROPERTY(bool isPortOpen READ isPortOpen NOTIFY isPortOpenChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(bool userWantsConnection READ userWantsConnection NOTIFY userWantsConnectionChanged)
    Q_PROPERTY(bool isLogPaused READ isLogPaused WRITE setLogPaused NOTIFY isLogPausedChanged)
    Q_PROPERTY(QString connectHint READ connectHint NOTIFY connectHintChanged)

public:
    static constexpr char ioQueueName[] = "com.orvane.serial.io";
    static constexpr char protocolQueueName[] = "com.orvane.serial.protocol";
    static constexpr qint64 defaultBaudRate = 2000000;

    using SessionFactory =
        std::function<std::unique_ptr<SerialPortSession>(const QString& path, qint64 baudRate)>;

    // What the service needs from the operating system. `watch` may be null: the service then
    // does without hot-plug events and finds ports by its periodic checks alone.
    struct Platform {
        std::shared_ptr<const SerialDeviceSource> devices;
        std::unique_ptr<SerialDeviceWatch> watch;
        SessionFactory openSession;
    };

    // One received frame in, the reply frames to write back out. Called on the protocol queue.
    using FrameHandler = std::function<QList<QByteArray>(const QByteArray& frame)>;
    using WriteResult = Status<SerialWriteError>;
    // Called on the I/O queue once the frame was written or refused.
    using WriteCompletion = std::function<void(WriteResult)>;

    explicit SerialService(Platform platform, SerialServiceTimings timings = {},
                           QObject* parent = nullptr);
    // Stops both timers and the hot-plug watcher and closes the session; a connection
    // attempt in progress is cut short.
    ~SerialService() override;

    // ---- Lifecycle -------------------------------------------------------------------
    void activate();
    void shutdown();
    // Connects to selectedPath (nothing when it is empty), starting the backoff afresh.
    void connect();
    // With a Bluetooth device chosen, only forgets that device; otherwise closes the port and
    // makes no further attempts until connect().
    void disconnect();
    void refreshPorts();
    void verifyConnectionHealth();
    // The device's liveness probe arrived; a live link that hears none for the ECHO time-out
    // is reopened.
    void noteEchoReceived();

    // ---- Owner's callbacks (any thread) ----------------------------------------------
    void setFrameHandler(FrameHandler handler);
    void setIsTransferReceiveActiveCheck(std::function<bool()> check);
    void setBluetoothWrite(std::function<void(const QByteArray&)> write);
    // Called on the main thread with the new path after the service followed a device to it.
    void setOnPortAutoMigrated(std::function<void(const QString&)> callback);

    // ---- Data path ---------------------------------------------------------------------
    // Sends on the I/O queue; logs the frame as "<label> · sn=… · … B", or a warning when
    // it could not be sent.
    void writeFrameData(QByteArray data, const QString& label);
    // Sends on the I/O queue and reports the outcome to `completion` there. With a label the
    // frame is logged, MIDDLE_PACKETs excepted.
    void writeFrameDataAsync(QByteArray data, std::optional<QString> label,
                             WriteCompletion completion);
    // The same, waiting for the outcome: for worker threads (a TRANS send), never the main
    // thread or the I/O queue. A send still queued behind a connection attempt after
    // `queueLimit` is withdrawn and reported as serialClosed; one already under way is
    // always waited for (the port bounds its own writes).
    WriteResult
    writeFrameDataAndWait(QByteArray data, std::optional<QString> label,
                          std::chrono::milliseconds queueLimit = std::chrono::milliseconds(15000));

    // Bracket a bulk send: while one is open the ECHO check is skipped and the port runs
    // with its bulk-transfer latency.
    void beginExclusiveProtocolSend();
    void endExclusiveProtocolSend();
    qint64 exclusiveSendDepth() const;

    // One whole frame received over Bluetooth.
    void receiveBluetoothData(QByteArray frame);

    // ---- Debug log (main thread) ---------------------------------------------------------
    void appendLog(const QString& direction, const QString& summary,
                   const QStringList& hexRows = {});
    void clearLogs();
    SerialLogStore& logStore() { return logStore_; }

    // ---- State ---------------------------------------------------------------------------
    QList<SerialPortInfo> ports() const { return ports_; }
    QString selectedPath() const { return selectedPath_; }
    void setSelectedPath(const QString& path);
    qint64 baudRate() const { return baudRate_; }
    void setBaudRate(qint64 baudRate);
    QString selectedBluetoothDeviceID() const { return selectedBluetoothDeviceID_; }
    void setSelectedBluetoothDeviceID(const QString& id);
    QString selectedBluetoothDeviceName() const { return selectedBluetoothDeviceName_; }
    void setSelectedBluetoothDeviceName(const QString& name);
    bool bluetoothConnected() const { return bluetoothConnected_; }
    void setBluetoothConnected(bool connected);
    bool isConnected() const { return isConnected_; }
    bool isPortOpen() const { return isPortOpen_; }
    QString statusText() const { return statusText_; }
    bool userWantsConnection() const { return userWantsConnection_; }
    bool isLogPaused() const { return isLogPaused_; }
    void setLogPaused(bool paused);
    QString connectHint() const { return connectHint_; }

    // Any thread.
    quint64 rxByteCount() const { return rxByteCount_; }
    SerialDataSource currentDataSource() const { return currentDataSource_; }
    QString cachedStatusText() const;
    // The current session's bulk-transfer depth (0 without a session). Waits briefly for the
    // I/O queue; for diagnostics and tests.
    qint64 sessionBulkTransferDepth();

signals:
    void portsChanged();
    void selectedPathChanged();
    void baudRateChanged();
    void selectedBluetoothDeviceIDChanged();
    void selectedBluetoothDeviceNameChanged();
    void bluetoothConnectedChanged();
    void isConnectedChanged();
    void isPortOpenChanged();
    void statusTextChanged();
    void userWantsConnectionChanged();
    void isLogPausedChanged();
    void connectHintChanged();

private:
    // Writes a published property and emits its change signal when the value changed.
    // Main thread only.
    template <typename T>
    void publish(T& field, const std::type_identity_t<T>& value, void (SerialService::*changed)()) {
        if (field != value) {
            field = value;
            emit(this->*changed)();
        }
    }

    using Clock = std::chrono::steady_clock;
    using SessionPtr = std::shared_ptr<SerialPortSession>;

    // The published values the I/O queue reads, kept in step with the properties.
    struct Selection {
        QString path;
        qint64 baudRate = defaultBaudRate;
        QString bluetoothDeviceID;
        bool bluetoothConnected = false;
    };
    Selection selection() const;

    // ---- Cross-thread plumbing ----
    void postToMain(std::function<void()> task);
    void postLog(const QString& direction, const QString& summary, const QStringList& rows = {});
    void postError(const QString& message);
    bool sleepLocked(std::chrono::milliseconds duration); // false when the service is stopping
    void onHealthTimer();
    void onEchoTimer();
    void startReconnectLoop();

    // ---- Connection lifecycle (I/O queue) ----
    void startReconnectLoopLocked();
    void tryConnectSavedPortLocked();
    void openSessionWithRetryLocked(int maxAttempts);
    Status<SerialPortError> openSessionOnceLocked();
    void ensureSessionLocked();
    bool adoptOperativeSessionLocked();
    void noteConnectedLocked();
    bool waitForTargetPortLocked(std::chrono::milliseconds maxWait);
    void scheduleReconnectLocked(const SerialDisconnectReason& reason);
    void noteSessionEndedLocked(const SerialDisconnectReason& reason);
    void resetReconnectBackoffLocked();
    SessionPtr dropSessionLocked();
    void checkOtherOpenersLocked();
    void teardownSessionLocked();
    void closeSessionLocked(const SessionPtr& session);
    void disconnectLocked();
    void forceDisconnectLocked(const SerialDisconnectReason& reason, bool log);
    void runPeriodicHealthCheckLocked();
    void runEchoHealthCheckLocked();
    void noteFatalSessionLossLocked();
    void logReconnectWaitLocked();
    void logReconnectAttemptLocked(const QString& path);
    void setUserWantsConnectionLocked(bool wants);

    // ---- Port tracking, hints and status (I/O queue) ----
    QList<SerialPortInfo> currentPortListLocked(bool forceRefresh);
    QList<SerialPortInfo> enumeratePortsLocked();
    void storePortCacheLocked(const QList<SerialPortInfo>& list);
    void publishPortsLocked(const QList<SerialPortInfo>& list);
    bool sessionDescriptorValidLocked() const;
    bool sessionHoldsSelectedPortLocked() const;
    bool portOpenableLocked(const QString& path) const;
    bool isTargetPortReachableLocked() const;
    bool isSelectedPortMissingLocked() const;
    bool isLinkLiveLocked() const;
    std::optional<QString> pickRenumberedPortLocked(const QList<SerialPortInfo>& list,
                                                    const QString& previousPath) const;
    bool attemptPortMigrationIfNeededLocked();
    void publishSelectedPathLocked(const QString& path, const QString& logSummary, bool migrate);
    void handleSelectedPortMissingLocked();
    void maybeAutoSelectPortLocked();
    void setConnectHintLocked(const QString& hint);
    std::optional<QString> occupierHintLocked(const QString& path);
    void handleHotplugEventLocked(const SerialPortHotplug::Event& event);
    void syncUIConnectionStateLocked();
    void publishConnectingStateLocked();
    void publishDisconnected(const QString& status);
    QString portLabelFor(const QString& path) const;

    // ---- Data path ----
    void scheduleProtocolDrainLocked();
    void scheduleProtocolDrain(std::weak_ptr<SerialPortSession> session);
    void updateBulkTransferModeLocked(SerialPortSession& session);
    void drainSessionDataLocked(const SessionPtr& session);
    void refreshStatusIfNeededLocked(SerialPortSession& session);
    void adjustSessionBulkDepthLocked(SerialPortSession& session, int delta);
    WriteResult writeFrameDataOnIOQueueLocked(const QByteArray& data);
    FrameHandler frameHandler() const;
    bool transferReceiveActive() const;

    // ---- Main-thread state writers ----
    void applyConnectionState(bool live, const QString& text);
    void setStatusTextMain(const QString& text);
    void setPortsMain(const QList<SerialPortInfo>& ports);
    void setConnectHintMain(const QString& hint);
    void setConnectedFlagsMain(bool isPortOpen, bool isConnected);

    const SerialServiceTimings timings_;
    const std::shared_ptr<const SerialDeviceSource> devices_;
    const SerialPortDiscovery discovery_;
    const SessionFactory openSession_;

    // Published state (main thread).
    QList<SerialPortInfo> ports_;
    QString selectedPath_;
    qint64 baudRate_ = defaultBaudRate;
    QString selectedBluetoothDeviceID_;
    QString selectedBluetoothDeviceName_;
    bool bluetoothConnected_ = false;
    bool isConnected_ = false;
    bool isPortOpen_ = false;
    QString statusText_ = QStringLiteral("closed");
    bool userWantsConnection_ = true;
    bool isLogPaused_ = false;
    QString connectHint_;

    mutable std::mutex selectionLock_;
    Selection selection_;

    mutable std::mutex callbackLock_;
    FrameHandler frameHandler_;
    std::function<bool()> isTransferReceiveActiveCheck_;
    std::function<void(const QByteArray&)> bluetoothWrite_;
    std::function<void(const QString&)> onPortAutoMigrated_;

    SerialLogStore logStore_;
    SerialLogBatcher logBatcher_;

    // Shared across queues.
    std::atomic<quint64> rxByteCount_{0};
    std::atomic<SerialDataSource> currentDataSource_{SerialDataSource::unknown};
    std::atomic<bool> isServiceActive_{false};
    std::atomic<bool> ioConnected_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> healthCheckQueued_{false};
    std::atomic<bool> echoCheckQueued_{false};
    std::atomic<bool> drainQueued_{false};
    mutable std::mutex sendGateLock_;
    qint64 exclusiveSendDepth_ = 0;
    // Makes the read-modify-write of a session's bulk depth atomic: the gate changes it on
    // the I/O queue, the drain on the protocol queue.
    std::mutex bulkDepthLock_;
    mutable std::mutex statusLock_;
    QString cachedStatusText_;
    std::optional<Clock::time_point> lastStatusRefresh_; // protocol queue
    mutable std::mutex portListLock_;
    QList<SerialPortInfo> cachedPortList_; // written on the I/O queue, read by status refresh
    // I/O queue: the product name each path was last listed with; one entry per device
    // node ever seen, a handful.
    QHash<QString, QString> lastListedProductNames_;
    std::mutex stopLock_;
    std::condition_variable stopSignal_;

    // I/O queue only.
    SessionPtr session_;
    const SerialPortSession* fatalLossNoted_ = nullptr; // compared, never dereferenced
    Clock::time_point lastEchoAt_{};
    bool userWantsConnectionLocked_ = true;
    QString selectedPathLocked_;
    QString connectHintLocked_;
    QString sharedOpenerHint_; // set while another program has the connected port open
    std::optional<Clock::time_point> lastDisconnectAt_;
    std::optional<Clock::time_point> nextReconnectAllowedAt_; // none: the distant past
    SerialDisconnectReason lastDisconnectReason_;
    SerialReconnectPolicy::Backoff backoff_;
    std::optional<Clock::time_point> lastConnectAt_;
    std::optional<Clock::time_point> lastReconnectAttemptLogAt_;
    qint64 portMissingChecks_ = 0;
    std::optional<Clock::time_point> lastPortListRefresh_;
    std::optional<Clock::time_point> lastOccupierCheckAt_;
    QString lastOccupierPath_;
    QString cachedOccupierHint_;

    // Main thread.
    QTimer keepaliveTimer_;
    QTimer echoHealthTimer_;
    std::unique_ptr<SerialPortHotplug> hotplug_;

    // Lets the diagnostics sink, which any thread may call, reach this object only while
    // it exists.
    struct SinkTarget {
        std::mutex lock;
        SerialService* service = nullptr;
    };
    std::shared_ptr<SinkTarget> sinkTarget_;

    // Declared last: they are stopped explicitly in the destructor, before the state above
    // goes away.
    std::unique_ptr<SerialWorkQueue> ioQueue_;
    std::unique_ptr<SerialWorkQueue> protocolQueue_;
};

} // namespace orvane
