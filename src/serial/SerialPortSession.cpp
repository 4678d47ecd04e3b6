#include "serial/SerialPortSession.h"

#include "serial/SerialDiagnostics.h"
#include "serial/SerialFrameDrain.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <thread>

namespace orvane {

namespace {

using namespace std::chrono_literals;

constexpr auto readerStartWait = 2000ms;
constexpr auto readerStartStep = 10ms;
constexpr auto readerStopWait = 2000ms;
constexpr auto oldReaderWait = 3000ms;
constexpr auto readerStopStep = 20ms;
constexpr auto writeDrainWait = 3000ms;
constexpr auto reopenLockStep = 20ms;
constexpr int writeRetryWaitMs = 1;

bool mentionsBusy(const QString& text) {
    return text.toLower().contains(QLatin1String("busy"));
}

bool mentionsMissingNode(const QString& text) {
    const QString lower = text.toLower();
    return lower.contains(QLatin1String("no such file")) || lower.contains(QLatin1String("enoent"));
}

} // namespace

SerialPortSession::Log SerialPortSession::diagnosticsLog() {
    return Log{[](const QString& line) { SerialDiagnostics::info(line); },
               [](const QString& line) {
                   SerialDiagnostics::error(line);
               }};
}

SerialPortSession::SerialPortSession(QString path, qint64 baudRate,
                                     std::unique_ptr<SerialPortIO> io, Log log)
    : SerialPortSession(std::move(path), baudRate, std::move(io), std::move(log), Timing()) {}

SerialPortSession::SerialPortSession(QString path, qint64 baudRate,
                                     std::unique_ptr<SerialPortIO> io, Log log, Timing timing)
    : path_(std::move(path))
    , requestedBaudRate_(baudRate)
    , io_(std::move(io))
    , log_(std::move(log))
    , timing_(timing)
    , reopenBackoffUs_(timing.initialReopenBackoffUs)
    , readQueue_(QStringLiteral("com.orvane.serial.read"))
    , writeQueue_(QStringLiteral("com.orvane.serial.write")) {
    Q_ASSERT(io_);
}

SerialPortSession::~SerialPortSession() {
    close(true);
}

// ---- Open -----------------------------------------------------------------------------

Status<SerialPortError> SerialPortSession::open() {
    if (readerRunning_) {
        // A previous loop is still winding down; it must be gone before a new one starts.
        waitUntil([this] { return !readerRunning_; }, readerStopWait, readerStopStep);
        if (readerRunning_) {
            if (isOpen_ && currentFdUsable()) {
                return Done{};
            }
            return fail(SerialPortError::configureFailed(
                QStringLiteral("open: read thread still running")));
        }
    }
    const int fd = currentFd();
    if (isOpen_ && fd >= 0 && io_->isDescriptorOpen(fd)) {
        return Done{};
    }
    if (auto attached = attachPort(); !attached) {
        return attached;
    }
    return beginSession();
}

Status<SerialPortError> SerialPortSession::attachPort() {
    if (const int old = takeFd(); old >= 0) {
        io_->closePort(old);
    }

    QString errorText = QStringLiteral("No such file or directory");
    int fd = -1;
    for (int attempt = 0; attempt < timing_.openAttempts; ++attempt) {
        if (io_->pathExists(path_)) {
            auto opened = io_->openExclusive(path_);
            if (opened) {
                fd = opened.value();
                break;
            }
            errorText = opened.error().text;
            if (mentionsBusy(errorText)) {
                break; // held by another process: retrying cannot help
            }
        }
        if (attempt + 1 < timing_.openAttempts) {
            std::this_thread::sleep_for(timing_.openRetryDelay);
        }
    }
    if (fd < 0) {
        setLastError(errorText);
        return fail(SerialPortError::openFailed(errorText));
    }

    if (auto configured = configureLine(fd); !configured) {
        io_->closePort(fd);
        return configured;
    }
    {
        std::lock_guard lock(fdLock_);
        fd_ = fd;
    }
    log_.info(QStringLiteral("attach %1 baud=%2").arg(path_).arg(actualBaudRate_.load()));
    return Done{};
}

Status<SerialPortError> SerialPortSession::configureLine(int fd) {
    if (auto raw = io_->makeRaw(fd, fallbackBaudRate); !raw) {
        const auto& failure = raw.error();
        const QString step = failure.step == SerialPortIO::RawModeStep::getAttributes
                                 ? QStringLiteral("tcgetattr: ")
                                 : QStringLiteral("tcsetattr: ");
        return fail(SerialPortError::configureFailed(step + failure.error.text));
    }
    auto speed = applyRequestedSpeed(fd);
    if (!speed) {
        return fail(speed.error());
    }
    actualBaudRate_ = speed.value();

    // A freshly opened port's latency setting is unknown (another program may have left
    // it either way), so it is always requested here rather than only on a change.
    const int wanted = bulkTransferDepth_ > 0 ? bulkLatencyMs : lowLatencyMs;
    usbLatencyMs_ = wanted;
    io_->requestLowLatency(fd, wanted == lowLatencyMs);

    io_->setNonBlocking(fd);
    log_.info(QStringLiteral("tty raw 8N1 baud=%1 latency=%2ms nonblock")
                  .arg(actualBaudRate_.load())
                  .arg(usbLatencyMs_.load()));
    return Done{};
}

Result<qint64, SerialPortError> SerialPortSession::applyRequestedSpeed(int fd) {
    auto requested = io_->setSpeed(fd, requestedBaudRate_);
    if (requested) {
        return requested.value();
    }
    auto fallback = io_->setSpeed(fd, fallbackBaudRate);
    if (fallback) {
        log_.error(QStringLiteral("IOSSIOSPEED %1 failed, fallback %2")
                       .arg(requestedBaudRate_)
                       .arg(fallbackBaudRate));
        return fallbackBaudRate;
    }
    return fail(SerialPortError::configureFailed(
        QStringLiteral("IOSSIOSPEED %1: ").arg(requestedBaudRate_) + fallback.error().text));
}

Status<SerialPortError> SerialPortSession::beginSession() {
    isOpen_ = true;
    shouldStopReadLoop_ = false;
    waitingReconnect_ = false;
    setLastError(std::nullopt);

    waitUntil([this] { return !readerRunning_; }, oldReaderWait, readerStopStep);

    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    readWorkCancelled_ = cancelled;
    readQueue_.post([this, cancelled] {
        if (!*cancelled) {
            readLoop();
        }
    });

    waitUntil([this] { return readerRunning_.load(); }, readerStartWait, readerStartStep);

    if (readerRunning_ && currentFdUsable()) {
        StateChangeCallback callback;
        {
            std::lock_guard lock(callbackLock_);
            callback = onStateChange_;
        }
        if (callback) {
            callback(true, std::nullopt);
        }
        return Done{};
    }
    stopReadLoopAndCloseDescriptor();
    isOpen_ = false;
    return fail(SerialPortError::configureFailed(QStringLiteral("read thread failed to start")));
}

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
        setLastError(text);
        if (mentionsMissingNode(text)) {
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
        setLastError(description);
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

// ---- Close ----------------------------------------------------------------------------

void SerialPortSession::close(bool suppressNotify, std::optional<QString> reason) {
    if (reason) {
        setLastError(*reason);
        log_.info(QStringLiteral("close %1: %2").arg(path_, *reason));
    }
    shouldStopReadLoop_ = true;
    const bool wasOpen = isOpen_.exchange(false);
    waitingReconnect_ = false;

    stopReadLoopAndCloseDescriptor();

    {
        std::lock_guard lock(bufferLock_);
        rxBuffer_.clear();
    }
    {
        std::lock_guard lock(pendingLock_);
        pendingFrames_.clear();
        pendingIssues_.clear();
    }

    StateChangeCallback stateCallback;
    if (wasOpen) {
        std::lock_guard lock(callbackLock_);
        stateCallback = std::move(onStateChange_);
        onStateChange_ = nullptr;
        onPendingData_ = nullptr;
        onRecoverNotice_ = nullptr;
    }
    log_.info(QStringLiteral("close %1").arg(path_));

    if (wasOpen && !suppressNotify && stateCallback) {
        const std::optional<QString> error = lastError();
        if (QCoreApplication* app = QCoreApplication::instance()) {
            // The owner's state lives on the main thread; never call into it from here.
            QMetaObject::invokeMethod(
                app, [stateCallback, error] { stateCallback(false, error); }, Qt::QueuedConnection);
        } else {
            stateCallback(false, error);
        }
    }
}

void SerialPortSession::stopReadLoopAndCloseDescriptor() {
    shouldStopReadLoop_ = true;
    if (readWorkCancelled_) {
        *readWorkCancelled_ = true;
        readWorkCancelled_.reset();
    }
    const int fd = takeFd();
    io_->wake();

    // The descriptor is closed only once the reader and the writers have let go of it, so
    // its number cannot be reused under them; both notice the -1 within one step.
    writeQueue_.runAndWait({}, writeDrainWait);
    waitUntil([this] { return !readerRunning_; }, readerStopWait, readerStopStep);
    if (fd >= 0) {
        io_->closePort(fd);
    }
}

// ---- Writes ---------------------------------------------------------------------------

void SerialPortSession::write(QByteArray data) {
    writeQueue_.post([this, data = std::move(data)] { writeOnce(data); });
}

Status<SerialPortError> SerialPortSession::writeAndFlush(QByteArray data) {
    Q_ASSERT(!writeQueue_.isCurrentThread());
    auto ok = std::make_shared<std::atomic<bool>>(false);
    const bool finished = writeQueue_.runAndWait(
        [this, ok, data = std::move(data)] { *ok = writeOnce(data); }, timing_.flushWaitLimit);
    if (finished && *ok) {
        return Done{};
    }
    if (!finished) {
        return fail(SerialPortError::writeFailed(QStringLiteral("write timed out")));
    }
    return fail(SerialPortError::writeFailed(lastError().value_or(QStringLiteral("write failed"))));
}

bool SerialPortSession::writeOnce(const QByteArray& data) {
    if (data.isEmpty()) {
        return true;
    }
    std::lock_guard portLock(portOperationLock_);
    std::lock_guard writeLock(writeLock_);
    if (currentFd() < 0) {
        setLastError(QStringLiteral("fd closed"));
        return false;
    }

    const qint64 length = data.size();
    qint64 written = 0;
    QString errorText;
    auto lastProgress = Clock::now();
    while (written < length) {
        const int fd = currentFd();
        if (fd < 0) {
            setLastError(QStringLiteral("fd closed"));
            return false;
        }
        const qint64 chunk = std::min(length - written, maxWriteChunk_);
        const SerialIOCount result = io_->writeSome(fd, data.constData() + written, chunk);
        if (result.count > 0) {
            written += result.count;
            lastProgress = Clock::now();
            continue;
        }
        if (result.count < 0 && result.transient) {
            if (Clock::now() - lastProgress < timing_.writeStallLimit) {
                io_->waitWritable(fd, writeRetryWaitMs);
                continue;
            }
        }
        errorText = result.errorText;
        break;
    }
    if (written < length) {
        setLastError(errorText.isEmpty() ? QStringLiteral("write failed") : errorText);
        log_.error(QStringLiteral("write failed at %1/%2: %3")
                       .arg(written)
                       .arg(length)
                       .arg(errorText.isEmpty() ? QStringLiteral("?") : errorText));
        return false;
    }
    return true;
}

// ---- Owner queries and notices --------------------------------------------------------

bool SerialPortSession::isReadyForWrite() const {
    return isOpen_ && !waitingReconnect_ && currentFdUsable();
}

void SerialPortSession::noteHardwareDisconnect() {
    if (currentFdUsable()) {
        deferredHardwareReconnect_ = true;
        hardwareReconnectRequested_ = false;
    } else {
        hardwareReconnectRequested_ = true;
        io_->wake();
    }
}

void SerialPortSession::consumeDeferredHardwareReconnectIfNeeded() {
    if (!deferredHardwareReconnect_.exchange(false)) {
        return;
    }
    if (!currentFdUsable()) {
        hardwareReconnectRequested_ = true;
        io_->wake();
    }
}

void SerialPortSession::applyUSBLatencyIfNeeded() {
    const int fd = currentFd();
    if (fd < 0) {
        return;
    }
    const int wanted = bulkTransferDepth_ > 0 ? bulkLatencyMs : lowLatencyMs;
    if (usbLatencyMs_.exchange(wanted) != wanted) {
        io_->requestLowLatency(fd, wanted == lowLatencyMs);
    }
}

void SerialPortSession::setOnStateChange(StateChangeCallback callback) {
    std::lock_guard lock(callbackLock_);
    onStateChange_ = std::move(callback);
}

void SerialPortSession::setOnPendingData(PendingDataCallback callback) {
    std::lock_guard lock(callbackLock_);
    onPendingData_ = std::move(callback);
}

void SerialPortSession::setOnRecoverNotice(RecoverNoticeCallback callback) {
    std::lock_guard lock(callbackLock_);
    onRecoverNotice_ = std::move(callback);
}

SerialPortSession::PendingData SerialPortSession::takePendingData() {
    std::lock_guard lock(pendingLock_);
    PendingData taken{std::move(pendingFrames_), std::move(pendingIssues_)};
    pendingFrames_.clear();
    pendingIssues_.clear();
    return taken;
}

std::optional<QString> SerialPortSession::lastError() const {
    std::lock_guard lock(errorLock_);
    return lastError_;
}

quint64 SerialPortSession::totalRxBytes() const {
    std::lock_guard lock(rxByteLock_);
    return totalRxBytes_;
}

void SerialPortSession::resetTotalRxBytes() {
    std::lock_guard lock(rxByteLock_);
    totalRxBytes_ = 0;
}

// ---- Helpers --------------------------------------------------------------------------

int SerialPortSession::currentFd() const {
    std::lock_guard lock(fdLock_);
    return fd_;
}

bool SerialPortSession::currentFdUsable() const {
    std::lock_guard lock(fdLock_);
    return fdUsable(fd_);
}

int SerialPortSession::takeFd() {
    std::lock_guard lock(fdLock_);
    return std::exchange(fd_, -1);
}

void SerialPortSession::setLastError(std::optional<QString> error) {
    std::lock_guard lock(errorLock_);
    lastError_ = std::move(error);
}

bool SerialPortSession::waitUntil(const std::function<bool()>& condition,
                                  std::chrono::milliseconds limit, std::chrono::milliseconds step) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(step);
    }
    return true;
}

} // namespace orvane
