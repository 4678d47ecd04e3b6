#include "serial/SerialFrameDrain.h"
#include "serial/SerialPortSession.h"

#include <algorithm>
#include <thread>

// The session's read loop: reading, cutting frames, and reopening a lost node in place.
// Runs on the session's read queue only.

namespace orvane {

namespace {

using namespace std::chrono_literals;

constexpr auto reopenLockStep = 20ms;

} // namespace

// ---- Read loop ------------------------------------------------------------------------

void SerialPortSession::readLoop() {
    log_.info(QStringLiteral("read loop started"));
    readerRunning_ = true;
    QByteArray readBuffer(readBufferSize, Qt::Uninitialized);

    while (!shouldStopReadLoop_) {
        if (hardwareReconnectRequested_) {
            handleLostDescriptor();
            continue;
        }
        int fd = currentFd();
        if (waitingReconnect_) {
            if (fdUsable(fd)) {
                waitingReconnect_ = false;
                deferredHardwareReconnect_ = false;
                continue;
            }
            if (!reopenInReadLoop()) {
                waitOutReopenBackoff();
            }
            continue;
        }
        if (fd < 0) {
            fd = currentFd();
            if (!fdUsable(fd)) {
                waitingReconnect_ = true;
            }
            continue;
        }
        const qint64 count = readAvailable(fd, readBuffer);
        if (count < 0) {
            handleLostDescriptor();
        } else if (count > 0) {
            {
                std::lock_guard lock(rxByteLock_);
                totalRxBytes_ += quint64(count);
            }
            processChunk(QByteArrayView(readBuffer.constData(), count));
        }
    }

    readerRunning_ = false;
    log_.info(QStringLiteral("read loop ended"));
}

void SerialPortSession::handleLostDescriptor() {
    hardwareReconnectRequested_ = false;
    if (currentFdUsable()) {
        // The notice was for another device, or came early: look again when the owner asks.
        deferredHardwareReconnect_ = true;
        waitingReconnect_ = false;
        return;
    }
    const int fd = takeFd();
    if (fd >= 0) {
        // Not under a write: the descriptor number must not be reused while a write holds it.
        // A write stalled beyond the wait is failing on this dead descriptor anyway.
        std::unique_lock portLock(portOperationLock_, std::defer_lock);
        (void)portLock.try_lock_for(timing_.reopenLockWait);
        io_->closePort(fd);
    }
    waitingReconnect_ = true;
}

void SerialPortSession::waitOutReopenBackoff() {
    using namespace std::chrono;
    const auto backoff = microseconds(reopenBackoffUs_.load());
    auto remaining = backoff;
    if (lastReopenAttemptAt_) {
        remaining = backoff - duration_cast<microseconds>(Clock::now() - *lastReopenAttemptAt_);
    }
    const auto waitMs = std::clamp<qint64>(duration_cast<milliseconds>(remaining).count() + 1, 1,
                                           duration_cast<milliseconds>(backoff).count() + 1);
    if (!shouldStopReadLoop_ && !hardwareReconnectRequested_) {
        io_->wait(-1, int(waitMs));
    }
}

bool SerialPortSession::reopenInReadLoop() {
    const auto now = Clock::now();
    if (lastReopenAttemptAt_ &&
        now - *lastReopenAttemptAt_ < std::chrono::microseconds(reopenBackoffUs_.load())) {
        return false;
    }
    lastReopenAttemptAt_ = now;

    if (currentFdUsable()) {
        waitingReconnect_ = false;
        deferredHardwareReconnect_ = false;
        return true;
    }

    std::unique_lock portLock(portOperationLock_, std::defer_lock);
    const auto deadline = Clock::now() + timing_.reopenLockWait;
    while (!portLock.try_lock()) {
        if (shouldStopReadLoop_ || Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(reopenLockStep);
    }
    return reopenWithPortLock();
}

bool SerialPortSession::reopenWithPortLock() {
    if (shouldStopReadLoop_) {
        return false;
    }
    if (!io_->pathExists(path_)) {
        reopenBackoffUs_ = timing_.maxReopenBackoffUs;
        return false;
    }
    // Give a re-enumerating device a moment before touching it; a stop request cuts it short.
    io_->wait(-1, int(timing_.reopenPause.count()));
    if (shouldStopReadLoop_) {
        return false;
    }

    auto opened = io_->openExclusive(path_);
    if (!opened) {
        const QString text = opened.error().text;
        setLastError(text, opened.error().kind);
        if (opened.error().kind == SerialErrorKind::missing) {
            reopenBackoffUs_ = timing_.maxReopenBackoffUs;
        } else {
            reopenBackoffUs_ =
                std::min<quint64>(quint64(reopenBackoffUs_) * 2, timing_.maxReopenBackoffUs);
        }
        reportReopenFailure(text.isEmpty() ? QStringLiteral("open failed") : text);
        return false;
    }
    const int fd = opened.value();
    if (auto configured = configureLine(fd); !configured) {
        io_->closePort(fd);
        const QString description = configured.error().description();
        setLastError(description, configured.error().kind());
        reportReopenFailure(description);
        return false;
    }

    int old = -1;
    {
        std::lock_guard lock(fdLock_);
        if (shouldStopReadLoop_) {
            // close() already took the descriptor; the new one must not outlive it.
            old = fd;
        } else {
            old = fd_;
            fd_ = fd;
        }
    }
    if (old >= 0) {
        io_->closePort(old);
    }
    if (old == fd) {
        return false;
    }

    isOpen_ = true;
    waitingReconnect_ = false;
    deferredHardwareReconnect_ = false;
    setLastError(std::nullopt);
    reopenBackoffUs_ = timing_.initialReopenBackoffUs;
    log_.info(QStringLiteral("reopen ok %1 baud=%2").arg(path_).arg(actualBaudRate_.load()));
    RecoverNoticeCallback callback;
    {
        std::lock_guard lock(callbackLock_);
        callback = onRecoverNotice_;
    }
    if (callback) {
        callback(QStringLiteral("reopen"));
    }
    return true;
}

void SerialPortSession::reportReopenFailure(const QString& reason) {
    if (currentFdUsable()) {
        return;
    }
    ++suppressedReopenErrorCount_;
    const auto now = Clock::now();
    if (lastReopenErrorLogAt_ && now - *lastReopenErrorLogAt_ < timing_.reopenErrorLogInterval) {
        return;
    }
    lastReopenErrorLogAt_ = now;
    QString line = QStringLiteral("reopen failed: ") + reason;
    if (suppressedReopenErrorCount_ >= 2) {
        line += QStringLiteral(" (×%1)").arg(suppressedReopenErrorCount_);
    }
    log_.error(line);
    suppressedReopenErrorCount_ = 0;
}

qint64 SerialPortSession::readAvailable(int fd, QByteArray& readBuffer) {
    switch (io_->wait(fd, timing_.readPollTimeoutMs)) {
    case SerialPortIO::WaitResult::timedOut:
    case SerialPortIO::WaitResult::woken:
        return 0;
    case SerialPortIO::WaitResult::hangup:
        return currentFdUsable() ? 0 : -1;
    case SerialPortIO::WaitResult::readable:
        break;
    }

    // One cycle takes everything the driver holds, up to the buffer's size. The descriptor
    // does not block, so a read asked for the space left returns exactly what is waiting
    // (sizing each read with FIONREAD first would cost two more system calls per cycle on
    // the busiest thread of a transfer), and a read that comes back short has emptied the
    // driver.
    qint64 total = 0;
    const qint64 capacity = readBuffer.size();
    char* const data = readBuffer.data();
    while (total < capacity) {
        const qint64 want = capacity - total;
        const SerialIOCount got = io_->readSome(fd, data + total, want);
        if (got.count <= 0) {
            break;
        }
        total += got.count;
        if (got.count < want) {
            break;
        }
    }
    return total;
}

void SerialPortSession::processChunk(QByteArrayView chunk) {
    if (chunk.isEmpty()) {
        return;
    }
    QList<QByteArray> frames;
    QList<FrameIssue> issues;
    SerialFrameDrain::DrainOutcome drained;
    std::optional<SerialFrameDrain::Trim> trim;
    {
        std::lock_guard lock(bufferLock_);
        rxBuffer_.append(chunk);
        drained = SerialFrameDrain::drainProtocolFrames(rxBuffer_, frames, issues);
        trim = SerialFrameDrain::trimRxBuffer(rxBuffer_);
    }
    if (drained.capped) {
        log_.error(QStringLiteral("drainProtocolFrames iteration cap; clearing %1 B")
                       .arg(drained.clearedBytes));
    }
    if (trim) {
        issues.append(FrameIssue{QStringLiteral("RX 缓冲溢出，截断 %1 → %2 B（长期无有效帧）")
                                     .arg(trim->before)
                                     .arg(trim->after),
                                 chunk.toByteArray()});
        log_.error(QStringLiteral("rx buffer trimmed %1 -> %2").arg(trim->before).arg(trim->after));
    }
    for (const FrameIssue& issue : issues) {
        log_.error(QStringLiteral("frame issue: ") + issue.message);
    }
    if (frames.isEmpty() && issues.isEmpty()) {
        return;
    }
    {
        std::lock_guard lock(pendingLock_);
        pendingFrames_.append(frames);
        pendingIssues_.append(issues);
    }
    PendingDataCallback callback;
    {
        std::lock_guard lock(callbackLock_);
        callback = onPendingData_;
    }
    if (callback) {
        callback();
    }
}

} // namespace orvane
