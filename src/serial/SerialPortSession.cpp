#include "serial/SerialPortSession.h"

#include "serial/SerialDiagnostics.h"

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
constexpr int writeRetryWaitMs = 1;

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

    SerialSystemError lastFailure{0, QStringLiteral("No such file or directory"),
                                  SerialErrorKind::missing};
    int fd = -1;
    for (int attempt = 0; attempt < timing_.openAttempts; ++attempt) {
        if (io_->pathExists(path_)) {
            auto opened = io_->openExclusive(path_);
            if (opened) {
                fd = opened.value();
                break;
            }
            lastFailure = opened.error();
            if (lastFailure.kind == SerialErrorKind::busy) {
                break; // held by another process: retrying cannot help
            }
        }
        if (attempt + 1 < timing_.openAttempts) {
            std::this_thread::sleep_for(timing_.openRetryDelay);
        }
    }
    if (fd < 0) {
        setLastError(lastFailure.text, lastFailure.kind);
        return fail(SerialPortError::openFailed(lastFailure.text, lastFailure.kind));
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
        return fail(
            SerialPortError::configureFailed(step + failure.error.text, failure.error.kind));
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
        QStringLiteral("IOSSIOSPEED %1: ").arg(requestedBaudRate_) + fallback.error().text,
        fallback.error().kind));
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
    return fail(SerialPortError::writeFailed(lastError().value_or(QStringLiteral("write failed")),
                                             lastErrorKind()));
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
    SerialErrorKind errorKind = SerialErrorKind::other;
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
        errorKind = result.kind;
        break;
    }
    if (written < length) {
        setLastError(errorText.isEmpty() ? QStringLiteral("write failed") : errorText, errorKind);
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

qint64 SerialPortSession::adjustBulkTransferDepth(qint64 delta) {
    qint64 depth = bulkTransferDepth_.load();
    qint64 next = 0;
    do {
        next = std::max<qint64>(depth + delta, 0);
    } while (!bulkTransferDepth_.compare_exchange_weak(depth, next));
    return next;
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

SerialErrorKind SerialPortSession::lastErrorKind() const {
    std::lock_guard lock(errorLock_);
    return lastErrorKind_;
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

void SerialPortSession::setLastError(std::optional<QString> error, SerialErrorKind kind) {
    std::lock_guard lock(errorLock_);
    lastError_ = std::move(error);
    lastErrorKind_ = kind;
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
