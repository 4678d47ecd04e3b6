#pragma once

#include "common/Result.h"
#include "common/WorkQueue.h"
#include "protocol/FrameIssue.h"
#include "serial/SerialPortError.h"
#include "serial/SerialPortIO.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace orvane {

// The owner of one opened serial device node: opens it for exclusive use in raw 8N1 at the
// requested speed, reads it on its own thread ("com.orvane.serial.read") and cuts the bytes
// into protocol frames, writes in bounded chunks on another ("com.orvane.serial.write"),
// and when the node goes away (USB unplug, re-enumeration) reopens the same path from
// inside the read loop with a backoff, without tearing the session down.
//
// open(), close() and the state queries are meant for the owner's I/O thread. The
// destructor closes the session without a state notification and joins both threads.
class SerialPortSession {
public:
    using LogFunction = std::function<void(const QString&)>;
    // Where the session's info and error lines go; the diagnostics log unless replaced.
    struct Log {
        LogFunction info;
        LogFunction error;
    };
    static Log diagnosticsLog();

    // Pauses and limits that tests shrink; the defaults are the production values.
    struct Timing {
        int openAttempts = 20;
        std::chrono::milliseconds openRetryDelay{100};
        quint32 initialReopenBackoffUs = 200000;
        quint32 maxReopenBackoffUs = 2000000;
        std::chrono::milliseconds reopenPause{50};
        std::chrono::milliseconds reopenLockWait{500};
        std::chrono::milliseconds reopenErrorLogInterval{15000};
        // Longest single wait of an idle read loop. Stop and reconnect requests wake it at
        // once, so this only bounds the wait; it is not a polling rate.
        int readPollTimeoutMs = 500;
        // A write that makes no progress for this long fails instead of retrying forever.
        std::chrono::milliseconds writeStallLimit{5000};
        // The longest writeAndFlush() waits for the write queue.
        std::chrono::milliseconds flushWaitLimit{60000};
    };

    using StateChangeCallback = std::function<void(bool isOpen, std::optional<QString> error)>;
    using PendingDataCallback = std::function<void()>;
    using RecoverNoticeCallback = std::function<void(const QString& what)>;

    struct PendingData {
        QList<QByteArray> frames;
        QList<FrameIssue> issues;
    };

    static constexpr qint64 fallbackBaudRate = 230400;
    static constexpr qsizetype readBufferSize = 8192;
    static constexpr qint64 defaultMaxWriteChunk = 16384;
    static constexpr int lowLatencyMs = 1;
    static constexpr int bulkLatencyMs = 16;

    SerialPortSession(QString path, qint64 baudRate, std::unique_ptr<SerialPortIO> io,
                      Log log = diagnosticsLog());
    SerialPortSession(QString path, qint64 baudRate, std::unique_ptr<SerialPortIO> io, Log log,
                      Timing timing);
    ~SerialPortSession();

    SerialPortSession(const SerialPortSession&) = delete;
    SerialPortSession& operator=(const SerialPortSession&) = delete;

    // Opens and configures the port and starts the read loop; does nothing on a session
    // that is open with a valid descriptor. Calls onStateChange(true) on this thread.
    Status<SerialPortError> open();

    // Stops the read loop, closes the descriptor and empties the buffers. A session that
    // was open loses its callbacks and, unless `suppressNotify`, reports
    // onStateChange(false, lastError) on the main thread (the QCoreApplication's thread,
    // or this one when there is no application object).
    void close(bool suppressNotify = false, std::optional<QString> reason = std::nullopt);

    // Queues the bytes for the write thread; a failure only shows in lastError().
    void write(QByteArray data);
    // Writes on the write thread and waits until every byte went out or the write failed.
    Status<SerialPortError> writeAndFlush(QByteArray data);

    bool isReadyForWrite() const;

    // The platform reported that a serial device went away. Acted on at once when this
    // session's descriptor is already dead, else remembered until
    // consumeDeferredHardwareReconnectIfNeeded() finds it dead.
    void noteHardwareDisconnect();
    void consumeDeferredHardwareReconnectIfNeeded();

    // Re-requests the driver latency after the owner changed the bulk-transfer depth:
    // lowest latency normally, the bulk-friendly one while a transfer runs.
    void applyUSBLatencyIfNeeded();
    void setBulkTransferDepth(qint64 depth) { bulkTransferDepth_ = depth; }
    // Adds `delta`, never going below 0, in one step (the send gate and the drain change it
    // from different threads). Returns the new depth.
    qint64 adjustBulkTransferDepth(qint64 delta);
    qint64 bulkTransferDepth() const { return bulkTransferDepth_; }

    // Callbacks. onPendingData and onRecoverNotice run on the read thread, the latter while
    // the port-operation lock is held (so it must not write synchronously).
    void setOnStateChange(StateChangeCallback callback);
    void setOnPendingData(PendingDataCallback callback);
    void setOnRecoverNotice(RecoverNoticeCallback callback);

    // Takes every frame and issue queued so far, leaving both lists empty.
    PendingData takePendingData();

    const QString& path() const { return path_; }
    qint64 requestedBaudRate() const { return requestedBaudRate_; }
    bool isOpen() const { return isOpen_; }
    std::optional<QString> lastError() const;
    // What lastError() means; `other` while there is none.
    SerialErrorKind lastErrorKind() const;
    qint64 actualBaudRate() const { return actualBaudRate_; }
    int usbLatencyMs() const { return usbLatencyMs_; }
    quint64 totalRxBytes() const;
    void resetTotalRxBytes();
    bool waitingReconnect() const { return waitingReconnect_; }
    bool readerRunning() const { return readerRunning_; }
    quint32 reopenBackoffUs() const { return reopenBackoffUs_; }
    qint64 maxWriteChunk() const { return maxWriteChunk_; }

private:
    using Clock = std::chrono::steady_clock;

    Status<SerialPortError> attachPort();
    Status<SerialPortError> beginSession();
    Status<SerialPortError> configureLine(int fd);
    Result<qint64, SerialPortError> applyRequestedSpeed(int fd);

    void readLoop();
    void handleLostDescriptor();
    bool reopenInReadLoop();
    bool reopenWithPortLock();
    void reportReopenFailure(const QString& reason);
    void waitOutReopenBackoff();
    qint64 readAvailable(int fd, QByteArray& readBuffer);
    void processChunk(QByteArrayView chunk);

    void stopReadLoopAndCloseDescriptor();
    bool writeOnce(const QByteArray& data);

    int currentFd() const;
    int takeFd();
    bool fdUsable(int fd) const { return fd >= 0 && io_->isUsable(fd); }
    // The held descriptor checked under fdLock_: another thread may take and close it at
    // any moment, and a descriptor number checked after its close may already name a
    // different file.
    bool currentFdUsable() const;
    void setLastError(std::optional<QString> error, SerialErrorKind kind = SerialErrorKind::other);
    bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit,
                   std::chrono::milliseconds step);

    const QString path_;
    const qint64 requestedBaudRate_;
    const std::unique_ptr<SerialPortIO> io_;
    const Log log_;
    const Timing timing_;

    mutable std::mutex fdLock_;
    int fd_ = -1;

    std::mutex bufferLock_;
    QByteArray rxBuffer_;

    mutable std::mutex pendingLock_;
    QList<QByteArray> pendingFrames_;
    QList<FrameIssue> pendingIssues_;

    mutable std::mutex callbackLock_;
    StateChangeCallback onStateChange_;
    PendingDataCallback onPendingData_;
    RecoverNoticeCallback onRecoverNotice_;

    // Held for a whole write and a whole reopen, so a reopen never swaps the descriptor
    // under a write.
    std::timed_mutex portOperationLock_;
    std::mutex writeLock_;

    mutable std::mutex rxByteLock_;
    quint64 totalRxBytes_ = 0;

    mutable std::mutex errorLock_;
    std::optional<QString> lastError_;
    SerialErrorKind lastErrorKind_ = SerialErrorKind::other;

    std::atomic<bool> shouldStopReadLoop_{false};
    std::atomic<bool> waitingReconnect_{false};
    std::atomic<bool> hardwareReconnectRequested_{false};
    std::atomic<bool> deferredHardwareReconnect_{false};
    std::atomic<bool> readerRunning_{false};
    std::atomic<bool> isOpen_{false};
    std::atomic<qint64> actualBaudRate_{0};
    std::atomic<int> usbLatencyMs_{lowLatencyMs};
    std::atomic<qint64> bulkTransferDepth_{0};
    const qint64 maxWriteChunk_ = defaultMaxWriteChunk;

    // Read-loop state: touched only by the read thread.
    std::optional<Clock::time_point> lastReopenAttemptAt_;
    std::atomic<quint32> reopenBackoffUs_;
    std::optional<Clock::time_point> lastReopenErrorLogAt_;
    qint64 suppressedReopenErrorCount_ = 0;

    // Cancels a read loop that was submitted but has not started yet.
    std::shared_ptr<std::atomic<bool>> readWorkCancelled_;

    // Declared last: destroyed first, so their threads end while the state above exists.
    WorkQueue readQueue_;
    WorkQueue writeQueue_;
};

} // namespace orvane
