#pragma once

#include "common/DefaultBaudRate.h"
#include "common/LogCategories.h"
#include "common/Result.h"
#include "common/WorkQueue.h"
#include "serial/SerialClock.h"
#include "serial/SerialConnectionController.h"
#include "serial/SerialConnectionHost.h"
#include "serial/SerialDeviceSource.h"
#include "serial/SerialDeviceWatch.h"
#include "serial/SerialFrameDispatcher.h"
#include "serial/SerialLinkWriter.h"
#include "serial/SerialLogBatcher.h"
#include "serial/SerialLogStore.h"
#include "serial/SerialPortHotplug.h"
#include "serial/SerialPortInfo.h"
#include "serial/SerialPortOpenWatch.h"
#include "serial/SerialPortRegistry.h"
#include "serial/SerialPortSession.h"
#include "serial/SerialServiceTimings.h"
#include "serial/SerialStatus.h"
#include "serial/SerialStatusPhase.h"
#include "serial/SerialWriteError.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>

namespace orvane {

// The long-lived manager of the USB serial link. While the user wants a connection and no
// other link is chosen, it keeps a SerialPortSession open on the selected path: it
// opens with retries, checks the link every couple of seconds and reopens a link that has
// stopped answering, backs off according to how the last session ended, follows a device
// that re-enumerated under a new path, and tells the user what is going on through its
// status text and connect hint. It also carries every frame received from the port to the
// frame handler and writes the replies back, and keeps the debug log, fed in batches.
//
// The work is done by its parts: SerialConnectionController (connecting, back-off, health
// checks, migration, hints and status; I/O queue), SerialPortRegistry (the known ports),
// SerialFrameDispatcher (draining and dispatch; protocol queue) and SerialLinkWriter
// (sends and the send gate). This object owns the queues and timers, keeps the published
// properties and the debug log, and carries results to the main thread.
//
// Threads. The object lives on the main thread, where every published property is written
// and its change signal emitted. Connection logic, both health checks, hot-plug reactions
// and sends run on the I/O queue ("com.orvane.serial.io"); operations named "...Locked"
// run there only and rely on it for exclusion. Frame draining and every frameHandler call
// run on the protocol queue ("com.orvane.serial.protocol"), so handler calls never overlap;
// the owner may hand in that queue to share it with frames from elsewhere.
// Public operations return at once unless their comment says otherwise.
class SerialService : public QObject, private SerialConnectionHost {
    Q_OBJECT
    Q_PROPERTY(QList<orvane::SerialPortInfo> ports READ ports NOTIFY portsChanged)
    Q_PROPERTY(
        QString selectedPath READ selectedPath WRITE setSelectedPath NOTIFY selectedPathChanged)
    Q_PROPERTY(qint64 baudRate READ baudRate WRITE setBaudRate NOTIFY baudRateChanged)
    Q_PROPERTY(bool otherLinkChosen READ otherLinkChosen WRITE setOtherLinkChosen NOTIFY
                   otherLinkChosenChanged)
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)
    Q_PROPERTY(bool isPortOpen READ isPortOpen NOTIFY isPortOpenChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(bool userWantsConnection READ userWantsConnection NOTIFY userWantsConnectionChanged)
    Q_PROPERTY(bool isLogPaused READ isLogPaused WRITE setLogPaused NOTIFY isLogPausedChanged)
    Q_PROPERTY(QString connectHint READ connectHint NOTIFY connectHintChanged)

public:
    static constexpr char ioQueueName[] = "com.orvane.serial.io";
    static constexpr char protocolQueueName[] = "com.orvane.serial.protocol";

    using SessionFactory = SerialConnectionController::SessionFactory;

    // What the service needs from the operating system. `watch` may be null: the service then
    // does without hot-plug events and finds ports by its periodic checks alone. Without
    // `openWatch` another program sharing the connected port is looked for at every periodic
    // check instead of when the port is opened. Without a clock the service uses the
    // system's monotonic clock. Without a protocol queue the service makes its own; one
    // handed in is shared, and must outlive the service.
    struct Platform {
        std::shared_ptr<const SerialDeviceSource> devices;
        std::unique_ptr<SerialDeviceWatch> watch;
        SerialConnectionController::OpenWatchFactory openWatch;
        SessionFactory openSession;
        std::shared_ptr<SerialClock> clock;
        std::shared_ptr<WorkQueue> protocolQueue;
    };

    // One received frame in, the reply frames to write back out. Called on the protocol queue.
    using FrameHandler = SerialFrameDispatcher::FrameHandler;
    using WriteResult = SerialLinkWriter::WriteResult;
    // Called on the I/O queue once the frame was written or refused.
    using WriteCompletion = SerialLinkWriter::WriteCompletion;

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
    // Closes the port and makes no further attempts until connect().
    void disconnect();
    void refreshPorts();
    void verifyConnectionHealth();
    // The device's liveness probe arrived; a live link that hears none for the ECHO time-out
    // is reopened.
    void noteEchoReceived();

    // ---- Owner's callbacks (any thread) ----------------------------------------------
    void setFrameHandler(FrameHandler handler);
    void setIsTransferReceiveActiveCheck(std::function<bool()> check);
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
    // `queueLimit` is withdrawn and reported as serialClosed; one under way is waited for
    // at most `writeLimit` (the port bounds its own writes well within it).
    WriteResult
    writeFrameDataAndWait(QByteArray data, std::optional<QString> label,
                          std::chrono::milliseconds queueLimit = std::chrono::milliseconds(15000),
                          std::chrono::milliseconds writeLimit = std::chrono::milliseconds(90000));

    // Bracket a bulk send: while one is open the ECHO check is skipped and the port runs
    // with its bulk-transfer latency.
    void beginExclusiveProtocolSend();
    void endExclusiveProtocolSend();
    qint64 exclusiveSendDepth() const override;

    // ---- Debug log (main thread) ---------------------------------------------------------
    // An entry for the debug log view, also emitted as "<direction> <summary>" on `category`
    // for the diagnostics log; the category's rules never keep it from the view.
    void appendLog(const QString& direction, const QString& summary,
                   const QStringList& hexRows = {}, const QLoggingCategory& category = lcSerial());
    void clearLogs();
    SerialLogStore& logStore() { return logStore_; }

    // ---- State ---------------------------------------------------------------------------
    QList<SerialPortInfo> ports() const { return ports_; }
    QString selectedPath() const { return selectedPath_; }
    void setSelectedPath(const QString& path);
    qint64 baudRate() const { return baudRate_; }
    void setBaudRate(qint64 baudRate);
    // Another link is the chosen one: the port stays closed, whatever the path, and says so.
    bool otherLinkChosen() const { return otherLinkChosen_; }
    void setOtherLinkChosen(bool chosen);
    bool isConnected() const { return isConnected_; }
    bool isPortOpen() const { return isPortOpen_; }
    // The status line as a value, and in words; both change with statusTextChanged.
    const SerialStatus& status() const { return status_; }
    QString statusText() const;
    // The state word the status text leads with.
    SerialStatusPhase statusPhase() const { return status_.phase; }
    bool userWantsConnection() const { return userWantsConnection_; }
    bool isLogPaused() const { return isLogPaused_; }
    void setLogPaused(bool paused);
    // The connect hint as a value, and in words (empty for none); both change with
    // connectHintChanged.
    const SerialHint& hint() const { return hint_; }
    QString connectHint() const;

    // Any thread.
    quint64 rxByteCount() const { return rxByteCount_; }
    QString cachedStatusText() const;
    // The current session's bulk-transfer depth (0 without a session). Waits briefly for the
    // I/O queue; for diagnostics and tests.
    qint64 sessionBulkTransferDepth();

signals:
    void portsChanged();
    void selectedPathChanged();
    void baudRateChanged();
    void otherLinkChosenChanged();
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

    using SessionPtr = std::shared_ptr<SerialPortSession>;

    // ---- SerialConnectionHost (called on the I/O queue) ----
    Selection selection() const override;
    bool transferReceiveActive() const override;
    bool portChangesReported() const override;
    void publishConnectionState(bool live, const SerialStatus& status) override;
    void publishDisconnected(const SerialStatus& status) override;
    void publishConnecting(const QString& path) override;
    void publishPortClosed() override;
    void publishPorts(const QList<SerialPortInfo>& ports) override;
    void publishConnectHint(const SerialHint& hint) override;
    void publishSelectedPath(const QString& path, const QString& logSummary,
                             bool migrated) override;
    void publishUserWantsConnection(bool wants) override;
    void publishRxByteCount(quint64 count) override;
    void log(const QString& direction, const QString& summary) override;
    void logError(const QString& message) override;
    void requestDrain(std::weak_ptr<SerialPortSession> session) override;

    // ---- Cross-thread plumbing ----
    void postToMain(std::function<void()> task);
    void postLog(const QString& direction, const QString& summary, const QStringList& rows = {});
    void onHealthTimer();
    void onEchoTimer();
    void startReconnectLoop();
    void drainOnProtocolQueue(const SessionPtr& session);
    FrameHandler frameHandler() const;
    SerialLinkWriter::Links writerLinks();

    // ---- Main-thread state writers ----
    void setStatusMain(const SerialStatus& status);
    // The same, leaving the cached status to the caller.
    void publishStatusMain(const SerialStatus& status);
    void setConnectedFlagsMain(bool isPortOpen, bool isConnected);

    const SerialServiceTimings timings_;
    const std::shared_ptr<SerialClock> clock_;
    const std::shared_ptr<const SerialDeviceSource> devices_;
    SerialPortRegistry registry_;

    // Published state (main thread).
    QList<SerialPortInfo> ports_;
    QString selectedPath_;
    qint64 baudRate_ = defaultBaudRate;
    bool otherLinkChosen_ = false;
    bool isConnected_ = false;
    bool isPortOpen_ = false;
    SerialStatus status_;
    bool userWantsConnection_ = true;
    bool isLogPaused_ = false;
    SerialHint hint_;

    mutable std::mutex selectionLock_;
    Selection selection_;

    mutable std::mutex callbackLock_;
    FrameHandler frameHandler_;
    std::function<bool()> isTransferReceiveActiveCheck_;
    std::function<void(const QString&)> onPortAutoMigrated_;

    SerialLogStore logStore_;
    SerialLogBatcher logBatcher_;

    // Shared across queues.
    std::atomic<quint64> rxByteCount_{0};
    std::atomic<bool> isServiceActive_{false};
    std::atomic<bool> healthCheckQueued_{false};
    std::atomic<bool> echoCheckQueued_{false};
    std::atomic<bool> drainQueued_{false};
    mutable std::mutex statusLock_;
    SerialStatus cachedStatus_;

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

    // The queues are stopped explicitly in the destructor, before the parts that their
    // tasks use go away.
    std::unique_ptr<WorkQueue> ioQueue_;
    std::shared_ptr<WorkQueue> protocolQueue_;
    bool ownsProtocolQueue_ = true;
    std::unique_ptr<SerialConnectionController> controller_; // I/O queue
    std::unique_ptr<SerialFrameDispatcher> dispatcher_;      // protocol queue
    std::unique_ptr<SerialLinkWriter> writer_;
};

} // namespace orvane
