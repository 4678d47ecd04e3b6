#include "serial/SerialService.h"

#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"
#include "serial/SerialDiagnostics.h"
#include "serial/SerialFrameProcessor.h"
#include "serial/SerialPortTracking.h"

#include <QMetaObject>

#include <algorithm>
#include <thread>

namespace orvane {

using namespace std::chrono_literals;
using std::chrono::duration_cast;
using std::chrono::milliseconds;
namespace Policy = SerialReconnectPolicy;
namespace Tracking = SerialPortTracking;

namespace {

bool isMiddlePacket(const QByteArray& frame) {
    const auto header = ProtocolWire::parseHeader(frame);
    return header && header->type == FrameType::MIDDLE_PACKET;
}

} // namespace

SerialService::SerialService(Platform platform, SerialServiceTimings timings, QObject* parent)
    : QObject(parent)
    , timings_(timings)
    , devices_(platform.devices)
    , discovery_(platform.devices)
    , openSession_(std::move(platform.openSession))
    , logStore_(this)
    , logBatcher_(
          logStore_,
          [this](milliseconds delay, SerialLogBatcher::Task task) {
              QTimer::singleShot(delay, this, std::move(task));
          },
          timings.logUIInterval, timings.issueSummaryDelay, [this] { return rxByteCount_.load(); })
    , sinkTarget_(std::make_shared<SinkTarget>())
    , ioQueue_(std::make_unique<SerialWorkQueue>(QString::fromLatin1(ioQueueName)))
    , protocolQueue_(std::make_unique<SerialWorkQueue>(QString::fromLatin1(protocolQueueName))) {
    Q_ASSERT(devices_ && openSession_);
    sinkTarget_->service = this;
    keepaliveTimer_.setInterval(timings_.healthCheckInterval);
    echoHealthTimer_.setInterval(timings_.echoCheckInterval);
    QObject::connect(&keepaliveTimer_, &QTimer::timeout, this, &SerialService::onHealthTimer);
    QObject::connect(&echoHealthTimer_, &QTimer::timeout, this, &SerialService::onEchoTimer);
    if (platform.watch) {
        hotplug_ = std::make_unique<SerialPortHotplug>(devices_, std::move(platform.watch));
        hotplug_->onEvent = [this](const SerialPortHotplug::Event& event) {
            ioQueue_->post([this, event] { handleHotplugEventLocked(event); });
        };
    }
}

SerialService::~SerialService() {
    if (isServiceActive_) {
        SerialDiagnostics::setOnUILine({});
    }
    isServiceActive_ = false;
    {
        std::lock_guard lock(sinkTarget_->lock);
        sinkTarget_->service = nullptr;
    }
    keepaliveTimer_.stop();
    echoHealthTimer_.stop();
    if (hotplug_) {
        hotplug_->stop();
    }
    {
        std::lock_guard lock(stopLock_);
        stopping_ = true;
    }
    stopSignal_.notify_all();
    ioQueue_->post([this] {
        if (SessionPtr session = dropSessionLocked()) {
            session->close(false);
        }
    });
    // Both queues run what is still queued (cut short by `stopping_`) and end; what they
    // post to this object meanwhile is discarded with it. The queues themselves stay: a
    // frame handler still running on the protocol queue may call back into this object
    // (an echo noted, a health check asked for) after the I/O queue has ended.
    ioQueue_->stop();
    protocolQueue_->stop();
}

// ---- Cross-thread plumbing -------------------------------------------------------------

SerialService::Selection SerialService::selection() const {
    std::lock_guard lock(selectionLock_);
    return selection_;
}

void SerialService::postToMain(std::function<void()> task) {
    // Queued to this object: dropped with it if it is destroyed before the call runs.
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void SerialService::postLog(const QString& direction, const QString& summary,
                            const QStringList& rows) {
    postToMain([this, direction, summary, rows] { appendLog(direction, summary, rows); });
}

void SerialService::postError(const QString& message) {
    // The diagnostics sink carries the line on to the debug log as "ERR".
    SerialDiagnostics::error(message);
}

bool SerialService::sleepLocked(milliseconds duration) {
    std::unique_lock lock(stopLock_);
    return !stopSignal_.wait_for(lock, duration, [this] { return stopping_.load(); });
}

void SerialService::onHealthTimer() {
    // Checks do not pile up behind a long connection attempt: one waiting is enough.
    if (!healthCheckQueued_.exchange(true)) {
        ioQueue_->post([this] {
            healthCheckQueued_ = false;
            runPeriodicHealthCheckLocked();
        });
    }
}

void SerialService::onEchoTimer() {
    if (!echoCheckQueued_.exchange(true)) {
        ioQueue_->post([this] {
            echoCheckQueued_ = false;
            runEchoHealthCheckLocked();
        });
    }
}

// ---- Lifecycle ---------------------------------------------------------------------------

void SerialService::activate() {
    if (isServiceActive_) {
        return;
    }
    isServiceActive_ = true;
    SerialDiagnostics::setOnUILine([target = sinkTarget_](const QString& direction,
                                                          const QString& summary,
                                                          const QStringList& rows) {
        std::lock_guard lock(target->lock);
        if (SerialService* service = target->service) {
            QMetaObject::invokeMethod(
                service,
                [service, direction, summary, rows] {
                    service->logBatcher_.appendNow(SerialLogEntry::make(direction, summary, rows));
                },
                Qt::QueuedConnection);
        }
    });
    if (hotplug_) {
        hotplug_->start();
    }
    QMetaObject::invokeMethod(
        this, [this] { startReconnectLoop(); }, Qt::QueuedConnection);
}

void SerialService::startReconnectLoop() {
    if (!isServiceActive_) {
        return;
    }
    keepaliveTimer_.start();
    echoHealthTimer_.start();
    ioQueue_->post([this] { startReconnectLoopLocked(); });
}

void SerialService::shutdown() {
    isServiceActive_ = false;
    SerialDiagnostics::setOnUILine({});
    keepaliveTimer_.stop();
    echoHealthTimer_.stop();
    if (hotplug_) {
        hotplug_->stop();
    }
    ioQueue_->post([this] { disconnectLocked(); });
}

void SerialService::connect() {
    if (selectedPath_.isEmpty()) {
        return;
    }
    const QString path = selectedPath_;
    ioQueue_->post([this, path] {
        setUserWantsConnectionLocked(true);
        selectedPathLocked_ = path;
        resetReconnectBackoffLocked();
        portMissingChecks_ = 0;
        disconnectLocked();
        tryConnectSavedPortLocked();
    });
}

void SerialService::disconnect() {
    if (!selectedBluetoothDeviceID_.isEmpty()) {
        setSelectedBluetoothDeviceID(QString());
        setSelectedBluetoothDeviceName(QString());
        setBluetoothConnected(false);
        return;
    }
    ioQueue_->post([this] {
        setUserWantsConnectionLocked(false);
        disconnectLocked();
    });
}

void SerialService::refreshPorts() {
    ioQueue_->post([this] {
        const auto list = currentPortListLocked(true);
        maybeAutoSelectPortLocked();
        publishPortsLocked(list);
    });
}

void SerialService::verifyConnectionHealth() {
    ioQueue_->post([this] { runPeriodicHealthCheckLocked(); });
}

void SerialService::noteEchoReceived() {
    ioQueue_->post([this] { lastEchoAt_ = Clock::now(); });
}

void SerialService::setUserWantsConnectionLocked(bool wants) {
    userWantsConnectionLocked_ = wants;
    postToMain([this, wants] {
        publish(userWantsConnection_, wants, &SerialService::userWantsConnectionChanged);
    });
}

// ---- Callbacks -------------------------------------------------------------------------

void SerialService::setFrameHandler(FrameHandler handler) {
    std::lock_guard lock(callbackLock_);
    frameHandler_ = std::move(handler);
}

void SerialService::setIsTransferReceiveActiveCheck(std::function<bool()> check) {
    std::lock_guard lock(callbackLock_);
    isTransferReceiveActiveCheck_ = std::move(check);
}

void SerialService::setBluetoothWrite(std::function<void(const QByteArray&)> write) {
    std::lock_guard lock(callbackLock_);
    bluetoothWrite_ = std::move(write);
}

void SerialService::setOnPortAutoMigrated(std::function<void(const QString&)> callback) {
    std::lock_guard lock(callbackLock_);
    onPortAutoMigrated_ = std::move(callback);
}

SerialService::FrameHandler SerialService::frameHandler() const {
    std::lock_guard lock(callbackLock_);
    return frameHandler_;
}

bool SerialService::transferReceiveActive() const {
    std::function<bool()> check;
    {
        std::lock_guard lock(callbackLock_);
        check = isTransferReceiveActiveCheck_;
    }
    return check && check();
}

// ---- Connection attempt ----------------------------------------------------------------

void SerialService::startReconnectLoopLocked() {
    selectedPathLocked_ = selection().path;
    const auto list = currentPortListLocked(true);
    maybeAutoSelectPortLocked();
    publishPortsLocked(list);
    resetReconnectBackoffLocked();
    if (!selectedPathLocked_.isEmpty()) {
        publishConnectingStateLocked();
    }
    tryConnectSavedPortLocked();
}

void SerialService::tryConnectSavedPortLocked() {
    if (stopping_) {
        return;
    }
    if (!selection().bluetoothDeviceID.isEmpty()) {
        publishDisconnected(QStringLiteral("closed · 使用蓝牙"));
        return;
    }
    const QString path = selectedPathLocked_;
    if (!userWantsConnectionLocked_ || path.isEmpty()) {
        publishDisconnected(path.isEmpty() ? QStringLiteral("closed")
                                           : QStringLiteral("closed · ") + path);
        return;
    }

    attemptPortMigrationIfNeededLocked();
    const QString target = selectedPathLocked_; // a migration may have moved it
    const bool missing = isSelectedPortMissingLocked();

    if (!missing && session_ && session_->path() == target && session_->isOpen() &&
        session_->readerRunning() && sessionDescriptorValidLocked()) {
        syncUIConnectionStateLocked();
        return;
    }
    if (isLinkLiveLocked()) {
        return;
    }
    if (nextReconnectAllowedAt_ && Clock::now() < *nextReconnectAllowedAt_) {
        logReconnectWaitLocked();
        return;
    }

    if (missing || !devices_->pathExists(target)) {
        if (missing) {
            teardownSessionLocked();
        }
        if (!waitForTargetPortLocked(timings_.attemptPortWait)) {
            setConnectHintLocked(Tracking::waitingForReenumerationHint(selectedPathLocked_));
            scheduleReconnectLocked(SerialDisconnectReason::deviceRemoved());
            syncUIConnectionStateLocked();
            return;
        }
    }
    if (!isTargetPortReachableLocked() && !waitForTargetPortLocked(timings_.attemptPortWait)) {
        const QString path2 = selectedPathLocked_;
        const bool present = devices_->pathExists(path2);
        const bool accessible = present && devices_->isAccessible(path2);
        if (!accessible) {
            // Absent, or not ours to open yet (a fresh node before udev set its group).
            setConnectHintLocked(
                present ? Tracking::connectHint(
                              {path2, false, Tracking::OpenRefusal::permission, std::nullopt})
                        : Tracking::waitingForReadyHint(path2));
            scheduleReconnectLocked(SerialDisconnectReason::deviceRemoved());
            syncUIConnectionStateLocked();
            return;
        }
        // Present and ours to open, yet refused: someone holds it. The opens below find out
        // for certain and name the holder.
    }
    if (stopping_) {
        return;
    }
    if (session_) {
        teardownSessionLocked();
        if (!sleepLocked(
                Policy::settleDelay(backoff_, lastDisconnectReason_.reasonClass(), timings_))) {
            return;
        }
    }
    if (!sleepLocked(Policy::preOpenSleep(backoff_, timings_))) {
        return;
    }
    logReconnectAttemptLocked(selectedPathLocked_);
    openSessionWithRetryLocked(Policy::maxOpenAttempts(backoff_));
}

void SerialService::openSessionWithRetryLocked(int maxAttempts) {
    std::optional<SerialPortError> lastError;
    int attempts = 0;
    for (int k = 0; k < maxAttempts && !stopping_; ++k) {
        if (k > 0) {
            if (adoptOperativeSessionLocked()) {
                return;
            }
            disconnectLocked();
            if (!sleepLocked(timings_.busyRetryStep * k)) {
                return;
            }
        }
        if (!devices_->pathExists(selectedPathLocked_)) {
            waitForTargetPortLocked(timings_.retryPortWait);
        }
        auto opened = openSessionOnceLocked();
        if (opened) {
            return;
        }
        lastError = opened.error();
        if (adoptOperativeSessionLocked()) {
            return;
        }
        ++attempts;
        if (lastError->kind() == SerialErrorKind::missing &&
            waitForTargetPortLocked(timings_.retryPortWait)) {
            continue;
        }
        if (lastError->kind() != SerialErrorKind::busy) {
            break;
        }
        if (k + 1 < maxAttempts) {
            postError(QStringLiteral("open retry %1 after busy: %2")
                          .arg(attempts)
                          .arg(lastError->description()));
        }
    }
    if (stopping_ || adoptOperativeSessionLocked()) {
        return;
    }
    disconnectLocked();
    const QString reason = lastError ? lastError->description() : QStringLiteral("unknown");
    const QString path = selectedPathLocked_;
    QString line = QStringLiteral("连接失败 %1: %2").arg(path, reason);
    if (lastError && lastError->kind() == SerialErrorKind::busy) {
        const QString hint = Tracking::busyHint(occupierHintLocked(path), path);
        setConnectHintLocked(hint);
        postError(QStringLiteral("port busy: ") + hint);
        scheduleReconnectLocked(SerialDisconnectReason::portBusy());
        line += QStringLiteral(" · ") + hint;
    } else if (lastError) {
        scheduleReconnectLocked(SerialDisconnectReason::openFailure(*lastError));
    } else {
        scheduleReconnectLocked(SerialDisconnectReason::failure(SerialErrorKind::other, reason));
    }
    syncUIConnectionStateLocked();
    postLog(QStringLiteral("SYS"), line + QStringLiteral(" · 将自动重试"));
}

void SerialService::ensureSessionLocked() {
    if (session_ && session_->path() == selectedPathLocked_) {
        return;
    }
    if (session_) {
        teardownSessionLocked();
    }
    SessionPtr session(openSession_(selectedPathLocked_, selection().baudRate));
    session->setOnPendingData(
        [this, weak = std::weak_ptr<SerialPortSession>(session)] { scheduleProtocolDrain(weak); });
    session_ = std::move(session);
}

Status<SerialPortError> SerialService::openSessionOnceLocked() {
    ensureSessionLocked();
    if (auto opened = session_->open(); !opened) {
        return opened;
    }
    noteConnectedLocked();
    const QString path = session_->path();
    QString label = portLabelFor(path);
    if (label == path) {
        label = discovery_.lookupProductName(path).value_or(path);
    }
    postLog(QStringLiteral("SYS"), QStringLiteral("端口已打开 %1 · %2 · 波特率 %3 · 已连接")
                                       .arg(label, path)
                                       .arg(session_->actualBaudRate()));
    scheduleProtocolDrainLocked();
    return Done{};
}

void SerialService::noteConnectedLocked() {
    ioConnected_ = true;
    lastConnectAt_ = Clock::now();
    portMissingChecks_ = 0;
    lastEchoAt_ = Clock::now();
    rxByteCount_ = session_->totalRxBytes();
    // What the hint warned about is over; left standing it would resurface at the next
    // disconnect as if it were news.
    if (!connectHintLocked_.isEmpty()) {
        setConnectHintLocked(QString());
    }
    sharedOpenerHint_.clear();
    checkOtherOpenersLocked();
    syncUIConnectionStateLocked();
}

bool SerialService::adoptOperativeSessionLocked() {
    if (!session_ || !session_->isOpen() || !session_->readerRunning() ||
        !sessionDescriptorValidLocked()) {
        return false;
    }
    if (!ioConnected_) {
        noteConnectedLocked();
        scheduleProtocolDrainLocked();
    } else {
        syncUIConnectionStateLocked();
    }
    return true;
}

bool SerialService::waitForTargetPortLocked(milliseconds maxWait) {
    const auto deadline = Clock::now() + maxWait;
    while (!stopping_) {
        const auto list = enumeratePortsLocked();
        storePortCacheLocked(list);
        maybeAutoSelectPortLocked();
        publishPortsLocked(currentPortListLocked(false));
        const QString path = selectedPathLocked_;
        if (!path.isEmpty() && !devices_->pathExists(path)) {
            const auto moved = pickRenumberedPortLocked(currentPortListLocked(false), path);
            if (moved && *moved != path) {
                publishSelectedPathLocked(
                    *moved, QStringLiteral("串口重枚举 %1 → %2").arg(path, *moved), true);
            }
        }
        if (!selectedPathLocked_.isEmpty() &&
            (sessionHoldsSelectedPortLocked() || portOpenableLocked(selectedPathLocked_))) {
            return true;
        }
        if (Clock::now() >= deadline) {
            break;
        }
        if (!sleepLocked(std::min(timings_.portWaitStep,
                                  duration_cast<milliseconds>(deadline - Clock::now()) + 1ms))) {
            return false;
        }
    }
    return !stopping_ && isTargetPortReachableLocked();
}

// ---- Reconnect policy ----------------------------------------------------------------

void SerialService::scheduleReconnectLocked(const SerialDisconnectReason& reason) {
    nextReconnectAllowedAt_ =
        Clock::now() + Policy::scheduleDelay(backoff_, reason.reasonClass(), timings_);
}

void SerialService::noteSessionEndedLocked(const SerialDisconnectReason& reason) {
    if (lastConnectAt_) {
        Policy::noteSessionEnded(backoff_,
                                 duration_cast<milliseconds>(Clock::now() - *lastConnectAt_),
                                 reason.reasonClass(), timings_);
    }
    lastConnectAt_.reset();
}

void SerialService::resetReconnectBackoffLocked() {
    nextReconnectAllowedAt_.reset();
    backoff_ = {};
    setConnectHintLocked(QString());
}

void SerialService::closeSessionLocked(const SessionPtr& session) {
    if (!session) {
        return;
    }
    session->close(true);
    // close() waits for its read loop itself; this bounds the rare case where it is still
    // unwinding, so the next session never races the old one for the port.
    const auto deadline = Clock::now() + timings_.sessionStopWait;
    while (session->readerRunning() && Clock::now() < deadline) {
        std::this_thread::sleep_for(timings_.sessionStopStep);
    }
}

SerialService::SessionPtr SerialService::dropSessionLocked() {
    // Whatever else had the port open shares nothing with us any more.
    if (!sharedOpenerHint_.isEmpty()) {
        if (connectHintLocked_ == sharedOpenerHint_) {
            setConnectHintLocked(QString());
        }
        sharedOpenerHint_.clear();
    }
    return std::exchange(session_, nullptr);
}

void SerialService::checkOtherOpenersLocked() {
    if (!isLinkLiveLocked()) {
        return;
    }
    // A tty may be open in several processes; one that does not lock it (a terminal program
    // with default settings) reads from the same line, and whatever it reads is lost to us.
    // The link stays up, the user is told who it is for as long as it lasts.
    const QString path = session_->path();
    const QStringList openers = devices_->otherOpeners(path);
    const QString hint =
        openers.isEmpty() ? QString() : Tracking::sharedPortHint(openers.first(), path);
    if (hint == sharedOpenerHint_) {
        return;
    }
    const QString previous = std::exchange(sharedOpenerHint_, hint);
    if (!hint.isEmpty()) {
        postLog(QStringLiteral("WRN"), hint);
        setConnectHintLocked(hint);
    } else if (connectHintLocked_ == previous) {
        setConnectHintLocked(QString());
    }
}

void SerialService::teardownSessionLocked() {
    ioConnected_ = false;
    SessionPtr session = dropSessionLocked();
    closeSessionLocked(session);
}

void SerialService::disconnectLocked() {
    SessionPtr session = dropSessionLocked();
    ioConnected_ = false;
    rxByteCount_ = 0;
    lastDisconnectAt_ = Clock::now();
    closeSessionLocked(session);
    const QString path = selectedPathLocked_;
    publishDisconnected(
        Tracking::closedStatusText(path, !path.isEmpty() && devices_->pathExists(path)));
}

void SerialService::forceDisconnectLocked(const SerialDisconnectReason& reason, bool log) {
    SessionPtr session = dropSessionLocked();
    ioConnected_ = false;
    rxByteCount_ = 0;
    lastDisconnectAt_ = Clock::now();
    lastDisconnectReason_ = reason;
    noteSessionEndedLocked(reason);
    closeSessionLocked(session);
    syncUIConnectionStateLocked();
    postToMain([this] { setConnectedFlagsMain(false, isConnected_); });
    if (log) {
        const QString path = selectedPathLocked_;
        postLog(QStringLiteral("SYS"),
                path.isEmpty() ? QStringLiteral("串口断开 ") + reason.text()
                               : QStringLiteral("串口断开 %1 · %2").arg(path, reason.text()));
    }
}

// ---- Health checks ---------------------------------------------------------------------

void SerialService::runPeriodicHealthCheckLocked() {
    if (!isServiceActive_ || stopping_) {
        return;
    }
    if (!lastPortListRefresh_ ||
        Clock::now() - *lastPortListRefresh_ >= timings_.portListRefreshInterval) {
        publishPortsLocked(currentPortListLocked(true));
    }
    if (!selectedPathLocked_.isEmpty()) {
        const bool migrated = attemptPortMigrationIfNeededLocked();
        if (!migrated && isSelectedPortMissingLocked()) {
            handleSelectedPortMissingLocked();
        } else if (!isSelectedPortMissingLocked()) {
            portMissingChecks_ = 0;
        }
    }
    const bool receiving = transferReceiveActive();
    if (session_) {
        noteFatalSessionLossLocked();
        scheduleProtocolDrainLocked();
        if (session_->readerRunning()) {
            checkOtherOpenersLocked();
            syncUIConnectionStateLocked();
            if (isLinkLiveLocked()) {
                return;
            }
        }
    }
    const bool wantsAttempt = !selectedPathLocked_.isEmpty() && !isLinkLiveLocked();
    if (exclusiveSendDepth() < 1 && !receiving) {
        if (wantsAttempt) {
            tryConnectSavedPortLocked();
        }
        syncUIConnectionStateLocked();
    } else {
        syncUIConnectionStateLocked();
        if (wantsAttempt) {
            tryConnectSavedPortLocked();
        }
    }
}

void SerialService::noteFatalSessionLossLocked() {
    // The read loop keeps reopening a lost node; when the driver refuses it although the node
    // is there, the device is not coming back by itself soon. The session counts as ended
    // fatally (longer waits, a longer settle before the next open, a quick death when it had
    // only just connected) while its loop may still recover it in the meantime.
    if (!session_ || session_.get() == fatalLossNoted_ || !session_->waitingReconnect() ||
        session_->lastErrorKind() != SerialErrorKind::notConfigured) {
        return;
    }
    fatalLossNoted_ = session_.get();
    const auto reason = SerialDisconnectReason::failure(
        SerialErrorKind::notConfigured, session_->lastError().value_or(QStringLiteral("fatal")));
    lastDisconnectReason_ = reason;
    noteSessionEndedLocked(reason);
    scheduleReconnectLocked(reason);
    postLog(QStringLiteral("SYS"),
            QStringLiteral("串口断开 %1 · %2").arg(session_->path(), reason.text()));
}

void SerialService::runEchoHealthCheckLocked() {
    if (!isServiceActive_ || stopping_ || !userWantsConnectionLocked_ || !isLinkLiveLocked()) {
        return;
    }
    if (exclusiveSendDepth() >= 1 || transferReceiveActive()) {
        return;
    }
    const auto silent = Clock::now() - lastEchoAt_;
    if (silent <= timings_.echoTimeout) {
        return;
    }
    const double seconds = std::chrono::duration<double>(silent).count();
    postLog(QStringLiteral("SYS"),
            QString::asprintf("ECHO 超时 %.0fs · 重连串口 · ", seconds) + selectedPathLocked_);
    disconnectLocked();
    nextReconnectAllowedAt_.reset();
    tryConnectSavedPortLocked();
}

void SerialService::logReconnectWaitLocked() {
    if (!selection().bluetoothDeviceID.isEmpty()) {
        return;
    }
    const auto now = Clock::now();
    if (lastReconnectAttemptLogAt_ &&
        now - *lastReconnectAttemptLogAt_ < timings_.reconnectLogInterval) {
        return;
    }
    lastReconnectAttemptLogAt_ = now;
    const qint64 remaining =
        nextReconnectAllowedAt_
            ? duration_cast<milliseconds>(*nextReconnectAllowedAt_ - now).count()
            : 0;
    postLog(QStringLiteral("SYS"), QStringLiteral("等待重连 %1s · %2")
                                       .arg(Tracking::wholeSecondsAtLeastOne(remaining))
                                       .arg(selectedPathLocked_));
}

void SerialService::logReconnectAttemptLocked(const QString& path) {
    if (!selection().bluetoothDeviceID.isEmpty()) {
        return;
    }
    lastReconnectAttemptLogAt_ = Clock::now();
    postLog(QStringLiteral("SYS"), QStringLiteral("正在重连 ") + path);
}

// ---- Port list and predicates --------------------------------------------------------

QList<SerialPortInfo> SerialService::enumeratePortsLocked() {
    auto list = discovery_.listPortsOnce();
    if (list.isEmpty() && sleepLocked(timings_.emptyEnumerationRetry)) {
        list = discovery_.listPortsOnce();
    }
    lastPortListRefresh_ = Clock::now();
    return list;
}

void SerialService::storePortCacheLocked(const QList<SerialPortInfo>& list) {
    for (const SerialPortInfo& port : list) {
        if (port.label != port.path) {
            lastListedProductNames_.insert(port.path, port.label);
        }
    }
    std::lock_guard lock(portListLock_);
    // A momentarily empty enumeration (devices re-enumerating) never wipes a known list.
    if (!list.isEmpty() || cachedPortList_.isEmpty()) {
        cachedPortList_ = list;
    }
}

QList<SerialPortInfo> SerialService::currentPortListLocked(bool forceRefresh) {
    if (!forceRefresh && lastPortListRefresh_ &&
        Clock::now() - *lastPortListRefresh_ < timings_.portListRefreshInterval) {
        std::lock_guard lock(portListLock_);
        if (!cachedPortList_.isEmpty()) {
            return cachedPortList_;
        }
    }
    storePortCacheLocked(enumeratePortsLocked());
    std::lock_guard lock(portListLock_);
    return cachedPortList_;
}

void SerialService::publishPortsLocked(const QList<SerialPortInfo>& list) {
    postToMain([this, list] { setPortsMain(Tracking::offeredPorts(list, selectedPath_)); });
}

QString SerialService::portLabelFor(const QString& path) const {
    std::lock_guard lock(portListLock_);
    for (const SerialPortInfo& port : cachedPortList_) {
        if (port.path == path) {
            return port.label;
        }
    }
    return path;
}

bool SerialService::sessionDescriptorValidLocked() const {
    // The session reports a hung-up or closed descriptor as not ready, which on Linux is
    // what a removed device leaves behind.
    return session_ && session_->isReadyForWrite();
}

bool SerialService::sessionHoldsSelectedPortLocked() const {
    return session_ && session_->path() == selectedPathLocked_ && sessionDescriptorValidLocked();
}

bool SerialService::portOpenableLocked(const QString& path) const {
    // A tty may be open in several processes at once (a device simulator keeps its slave
    // side open, a terminal may hold it without locking); whoever holds it only matters when
    // it keeps us from taking it exclusively, so the exclusive open decides.
    return devices_->pathExists(path) && devices_->tryOpenExclusive(path);
}

bool SerialService::isTargetPortReachableLocked() const {
    return !selectedPathLocked_.isEmpty() &&
           (sessionHoldsSelectedPortLocked() || portOpenableLocked(selectedPathLocked_));
}

bool SerialService::isSelectedPortMissingLocked() const {
    return !selectedPathLocked_.isEmpty() && !sessionHoldsSelectedPortLocked() &&
           !devices_->pathExists(selectedPathLocked_);
}

bool SerialService::isLinkLiveLocked() const {
    return ioConnected_ && session_ && session_->isOpen() && session_->readerRunning() &&
           sessionDescriptorValidLocked();
}

// ---- Migration, missing port, hints ------------------------------------------------------

std::optional<QString> SerialService::pickRenumberedPortLocked(const QList<SerialPortInfo>& list,
                                                               const QString& previousPath) const {
    return Tracking::pickRenumberedPort(
        list, previousPath,
        Tracking::CandidateChecks{
            [this](const QString& path) { return devices_->pathExists(path); },
            [this](const QString& path) { return devices_->tryOpenExclusive(path); },
            [this](const QString& path) -> std::optional<QString> {
                if (auto name = discovery_.lookupProductName(path)) {
                    return name;
                }
                // A device that dropped off the bus took its sysfs entry along; the name it
                // was last listed under still tells which new node is the same device.
                const auto known = lastListedProductNames_.constFind(path);
                if (known == lastListedProductNames_.cend()) {
                    return std::nullopt;
                }
                return *known;
            }});
}

bool SerialService::attemptPortMigrationIfNeededLocked() {
    const auto list = currentPortListLocked(true);
    const QString previous = selectedPathLocked_;
    if (previous.isEmpty()) {
        return false;
    }
    if (isTargetPortReachableLocked()) {
        return true;
    }
    const auto moved = pickRenumberedPortLocked(list, previous);
    if (!moved || *moved == previous) {
        return false;
    }
    publishSelectedPathLocked(*moved, QStringLiteral("串口重枚举 %1 → %2").arg(previous, *moved),
                              true);
    if (session_) {
        forceDisconnectLocked(SerialDisconnectReason::reEnumerated(previous, *moved), true);
        nextReconnectAllowedAt_.reset();
    }
    return isTargetPortReachableLocked();
}

void SerialService::publishSelectedPathLocked(const QString& path, const QString& logSummary,
                                              bool migrate) {
    selectedPathLocked_ = path;
    {
        std::lock_guard lock(selectionLock_);
        selection_.path = path;
    }
    postToMain([this, path, logSummary, migrate] {
        publish(selectedPath_, path, &SerialService::selectedPathChanged);
        if (!logSummary.isEmpty()) {
            appendLog(QStringLiteral("SYS"), logSummary);
        }
        if (migrate) {
            std::function<void(const QString&)> callback;
            {
                std::lock_guard lock(callbackLock_);
                callback = onPortAutoMigrated_;
            }
            if (callback) {
                callback(path);
            }
        }
    });
}

void SerialService::handleSelectedPortMissingLocked() {
    const QString path = selectedPathLocked_;
    if (path.isEmpty() || sessionHoldsSelectedPortLocked() || devices_->pathExists(path)) {
        portMissingChecks_ = 0;
        return;
    }
    ++portMissingChecks_;
    if (session_) {
        forceDisconnectLocked(SerialDisconnectReason::deviceRemoved(), portMissingChecks_ == 1);
    }
    setConnectHintLocked(Tracking::waitingForReenumerationHint(path));
    scheduleReconnectLocked(SerialDisconnectReason::deviceRemoved());
}

void SerialService::maybeAutoSelectPortLocked() {
    const QString path = selectedPathLocked_;
    Tracking::HintFacts facts{path, false, Tracking::OpenRefusal::none, std::nullopt};
    if (!path.isEmpty()) {
        facts.reachable = isTargetPortReachableLocked();
        if (!facts.reachable) {
            if (!devices_->pathExists(path)) {
                facts.refusal = Tracking::OpenRefusal::missing;
            } else if (!devices_->isAccessible(path)) {
                facts.refusal = Tracking::OpenRefusal::permission;
            } else {
                facts.refusal = Tracking::OpenRefusal::other;
                facts.occupier = occupierHintLocked(path);
            }
        }
    }
    // While connected the only thing worth a hint is a program sharing the port.
    setConnectHintLocked(facts.reachable && sessionHoldsSelectedPortLocked()
                             ? sharedOpenerHint_
                             : Tracking::connectHint(facts));
}

void SerialService::setConnectHintLocked(const QString& hint) {
    connectHintLocked_ = hint;
    postToMain([this, hint] { setConnectHintMain(hint); });
}

std::optional<QString> SerialService::occupierHintLocked(const QString& path) {
    const auto now = Clock::now();
    if (path == lastOccupierPath_ && lastOccupierCheckAt_ &&
        now - *lastOccupierCheckAt_ < timings_.occupierCheckInterval &&
        !cachedOccupierHint_.isEmpty()) {
        return cachedOccupierHint_;
    }
    auto occupier = discovery_.describePortOccupier(path);
    if (occupier) {
        lastOccupierPath_ = path;
        lastOccupierCheckAt_ = now;
        cachedOccupierHint_ = *occupier;
    }
    return occupier;
}

void SerialService::handleHotplugEventLocked(const SerialPortHotplug::Event& event) {
    if (stopping_) {
        return;
    }
    lastPortListRefresh_.reset();
    publishPortsLocked(currentPortListLocked(true));
    if (event.kind == SerialPortHotplug::Event::Kind::detached) {
        const bool concerned =
            event.path == selectedPathLocked_ || (session_ && session_->path() == event.path);
        if (!concerned || sessionDescriptorValidLocked()) {
            return; // unrelated, or the session still has the device open
        }
        if (session_) {
            session_->noteHardwareDisconnect();
        }
        forceDisconnectLocked(SerialDisconnectReason::deviceRemoved(), true);
        nextReconnectAllowedAt_.reset();
        tryConnectSavedPortLocked();
        return;
    }
    if (!selectedPathLocked_.isEmpty() && !isLinkLiveLocked()) {
        attemptPortMigrationIfNeededLocked();
        resetReconnectBackoffLocked();
        tryConnectSavedPortLocked();
    }
}

// ---- Status ------------------------------------------------------------------------------

void SerialService::syncUIConnectionStateLocked() {
    const QString path = selectedPathLocked_;
    const bool live = ioConnected_ && session_ && session_->isOpen() && session_->readerRunning();
    const bool exists = !path.isEmpty() && devices_->pathExists(path);
    Tracking::StatusFacts facts;
    facts.selectedPath = path;
    facts.bluetoothChosen = !selection().bluetoothDeviceID.isEmpty();
    facts.userWantsConnection = userWantsConnectionLocked_;
    facts.live = live;
    facts.pathExists = exists;
    facts.missing = !path.isEmpty() && !exists && !sessionHoldsSelectedPortLocked();
    facts.reconnecting = session_ && !live && session_->waitingReconnect();
    const auto now = Clock::now();
    if (!live && !facts.missing && !facts.reconnecting && !path.isEmpty() &&
        nextReconnectAllowedAt_ && now < *nextReconnectAllowedAt_) {
        facts.coolingSeconds = Tracking::wholeSecondsAtLeastOne(
            duration_cast<milliseconds>(*nextReconnectAllowedAt_ - now).count());
    }
    facts.connectHint = connectHintLocked_;
    facts.portLabel = portLabelFor(path);
    facts.baudRate = session_ ? session_->actualBaudRate() : defaultBaudRate;
    const QString text = Tracking::statusText(facts);
    postToMain([this, live, text] { applyConnectionState(live, text); });
}

void SerialService::publishConnectingStateLocked() {
    const QString path = selectedPathLocked_;
    if (path.isEmpty()) {
        return;
    }
    postToMain([this, path] {
        if (!isPortOpen_ && !isConnected_) {
            setStatusTextMain(QStringLiteral("connecting · ") + path);
        }
    });
}

void SerialService::publishDisconnected(const QString& status) {
    postToMain([this, status] {
        setConnectedFlagsMain(false, false);
        setStatusTextMain(status);
    });
}

void SerialService::refreshStatusIfNeededLocked(SerialPortSession& session) {
    const auto now = Clock::now();
    if (lastStatusRefresh_ && now - *lastStatusRefresh_ < timings_.statusRefreshInterval) {
        return;
    }
    lastStatusRefresh_ = now;
    rxByteCount_ = session.totalRxBytes();
    // Only a live link may claim "open"; a session that is recovering or being replaced
    // is described by the connection logic instead.
    if (!ioConnected_ || !session.isOpen() || !session.readerRunning() ||
        session.waitingReconnect()) {
        return;
    }
    const QString text =
        Tracking::liveStatusText(portLabelFor(session.path()), session.actualBaudRate());
    {
        std::lock_guard lock(statusLock_);
        if (text == cachedStatusText_) {
            return;
        }
        cachedStatusText_ = text;
    }
    postToMain([this, text] { publish(statusText_, text, &SerialService::statusTextChanged); });
}

QString SerialService::cachedStatusText() const {
    std::lock_guard lock(statusLock_);
    return cachedStatusText_;
}

void SerialService::applyConnectionState(bool live, const QString& text) {
    setConnectedFlagsMain(live, live);
    setStatusTextMain(text);
}

void SerialService::setStatusTextMain(const QString& text) {
    {
        std::lock_guard lock(statusLock_);
        cachedStatusText_ = text;
    }
    publish(statusText_, text, &SerialService::statusTextChanged);
}

void SerialService::setConnectedFlagsMain(bool portOpen, bool connected) {
    publish(isPortOpen_, portOpen, &SerialService::isPortOpenChanged);
    publish(isConnected_, connected, &SerialService::isConnectedChanged);
}

void SerialService::setPortsMain(const QList<SerialPortInfo>& ports) {
    publish(ports_, ports, &SerialService::portsChanged);
}

void SerialService::setConnectHintMain(const QString& hint) {
    publish(connectHint_, hint, &SerialService::connectHintChanged);
}

// ---- Main-thread setters -------------------------------------------------------------

void SerialService::setSelectedPath(const QString& path) {
    {
        std::lock_guard lock(selectionLock_);
        selection_.path = path;
    }
    publish(selectedPath_, path, &SerialService::selectedPathChanged);
}

void SerialService::setBaudRate(qint64 baudRate) {
    {
        std::lock_guard lock(selectionLock_);
        selection_.baudRate = baudRate;
    }
    publish(baudRate_, baudRate, &SerialService::baudRateChanged);
}

void SerialService::setSelectedBluetoothDeviceID(const QString& id) {
    {
        std::lock_guard lock(selectionLock_);
        selection_.bluetoothDeviceID = id;
    }
    publish(selectedBluetoothDeviceID_, id, &SerialService::selectedBluetoothDeviceIDChanged);
}

void SerialService::setSelectedBluetoothDeviceName(const QString& name) {
    publish(selectedBluetoothDeviceName_, name, &SerialService::selectedBluetoothDeviceNameChanged);
}

void SerialService::setBluetoothConnected(bool connected) {
    {
        std::lock_guard lock(selectionLock_);
        selection_.bluetoothConnected = connected;
    }
    publish(bluetoothConnected_, connected, &SerialService::bluetoothConnectedChanged);
}

void SerialService::setLogPaused(bool paused) {
    logBatcher_.setPaused(paused);
    publish(isLogPaused_, paused, &SerialService::isLogPausedChanged);
}

// ---- Data path -----------------------------------------------------------------------------

void SerialService::scheduleProtocolDrainLocked() {
    if (session_) {
        scheduleProtocolDrain(session_);
    }
}

void SerialService::scheduleProtocolDrain(std::weak_ptr<SerialPortSession> session) {
    // One drain waiting is enough: it takes everything queued by the time it runs.
    if (drainQueued_.exchange(true)) {
        return;
    }
    protocolQueue_->post([this, session] {
        drainQueued_ = false;
        if (SessionPtr held = session.lock()) {
            updateBulkTransferModeLocked(*held);
            drainSessionDataLocked(held);
        }
    });
}

void SerialService::adjustSessionBulkDepthLocked(SerialPortSession& session, int delta) {
    qint64 depth = 0;
    {
        std::lock_guard lock(bulkDepthLock_);
        depth = std::max<qint64>(session.bulkTransferDepth() + delta, 0);
        session.setBulkTransferDepth(depth);
    }
    session.applyUSBLatencyIfNeeded();
    if (delta < 0 && depth == 0) {
        session.consumeDeferredHardwareReconnectIfNeeded();
    }
}

void SerialService::updateBulkTransferModeLocked(SerialPortSession& session) {
    const bool bulk = transferReceiveActive() || exclusiveSendDepth() >= 1;
    adjustSessionBulkDepthLocked(session, bulk ? 1 : -1);
}

void SerialService::drainSessionDataLocked(const SessionPtr& session) {
    auto pending = session->takePendingData();
    if (pending.frames.isEmpty() && pending.issues.isEmpty()) {
        refreshStatusIfNeededLocked(*session);
        return;
    }
    if (!pending.issues.isEmpty()) {
        const qint64 count = pending.issues.size();
        postToMain([this, count] { logBatcher_.noteIssues(count); });
    }
    if (pending.frames.isEmpty()) {
        refreshStatusIfNeededLocked(*session);
        return;
    }
    const std::weak_ptr<SerialPortSession> weak = session;
    currentDataSource_ = SerialDataSource::serial;
    FrameProcessResult result = SerialFrameProcessor::processFrames(
        pending.frames, frameHandler(),
        [weak](const QByteArray& reply) {
            if (SessionPtr target = weak.lock()) {
                target->write(reply);
            }
        },
        [&session] { session->resetTotalRxBytes(); });
    currentDataSource_ = SerialDataSource::unknown;
    rxByteCount_ = session->totalRxBytes();
    refreshStatusIfNeededLocked(*session);

    postToMain([this, result = std::move(result)] {
        // The MIDDLE count restarts with each transfer, before this batch's frames count.
        if (result.sawFirstPacket) {
            logBatcher_.resetMiddleCount();
        }
        if (!result.logEntries.isEmpty()) {
            logBatcher_.enqueueLogs(result.logEntries, result.significant);
        }
        if (result.middleCount >= 1) {
            logBatcher_.noteMiddleFrames(result.middleCount);
        }
        if (result.sawFinish) {
            logBatcher_.flushBulkSummary(true);
        }
    });
}

void SerialService::receiveBluetoothData(QByteArray frame) {
    protocolQueue_->post([this, frame = std::move(frame)] {
        const FrameHandler handler = frameHandler();
        if (!handler) {
            return;
        }
        const QString summary =
            SerialFrameProcessor::logSummary(SerialFrameProcessor::frameSn(frame), frame.size());
        const QString row = SerialFrameProcessor::hexRow(frame);
        currentDataSource_ = SerialDataSource::bluetooth;
        const QList<QByteArray> replies = handler(frame);
        currentDataSource_ = SerialDataSource::unknown;
        postToMain([this, summary, row, replies] {
            appendLog(QStringLiteral("BT RX"), summary, {row});
            setBluetoothConnected(true);
            setConnectedFlagsMain(true, true);
            setStatusTextMain(QStringLiteral("open"));
            for (const QByteArray& reply : replies) {
                writeFrameData(reply, QStringLiteral("BT TX"));
            }
        });
    });
}

SerialService::WriteResult SerialService::writeFrameDataOnIOQueueLocked(const QByteArray& data) {
    const Selection sel = selection();
    if (sel.bluetoothDeviceID.isEmpty()) {
        if (session_ && ioConnected_ && session_->isReadyForWrite()) {
            if (auto written = session_->writeAndFlush(data); !written) {
                return fail(SerialWriteError(written.error()));
            }
            return Done{};
        }
        return fail(SerialWriteError(TransError(TransError::Code::serialClosed)));
    }
    if (!sel.bluetoothConnected) {
        return fail(SerialWriteError(TransError(TransError::Code::serialClosed)));
    }
    postLog(QStringLiteral("BT TX"),
            SerialFrameProcessor::logSummary(SerialFrameProcessor::frameSn(data), data.size()),
            {SerialFrameProcessor::hexRow(data)});
    std::function<void(const QByteArray&)> write;
    {
        std::lock_guard lock(callbackLock_);
        write = bluetoothWrite_;
    }
    if (write) {
        write(data);
    }
    return Done{};
}

void SerialService::writeFrameData(QByteArray data, const QString& label) {
    writeFrameDataAsync(std::move(data), label, {});
}

void SerialService::writeFrameDataAsync(QByteArray data, std::optional<QString> label,
                                        WriteCompletion completion) {
    ioQueue_->post([this, data = std::move(data), label = std::move(label),
                    completion = std::move(completion)] {
        WriteResult result = writeFrameDataOnIOQueueLocked(data);
        if (result) {
            if (label && !isMiddlePacket(data)) {
                const QString summary = *label + QStringLiteral(" · ") +
                                        SerialFrameProcessor::logSummary(
                                            SerialFrameProcessor::frameSn(data), data.size());
                const QString row = SerialFrameProcessor::hexRow(data);
                postToMain([this, summary, row] {
                    logBatcher_.appendNow(
                        SerialLogEntry::make(QStringLiteral("TX"), summary, {row}));
                });
            }
        } else if (!completion) {
            // Fire-and-forget sends have nobody else to tell.
            postLog(QStringLiteral("WRN"),
                    QStringLiteral("串口写入失败: ") + result.error().description());
        }
        if (completion) {
            completion(std::move(result));
        }
    });
}

SerialService::WriteResult SerialService::writeFrameDataAndWait(QByteArray data,
                                                                std::optional<QString> label,
                                                                milliseconds queueLimit) {
    Q_ASSERT(!ioQueue_->isCurrentThread());
    struct Pending {
        std::mutex lock;
        std::condition_variable done;
        bool started = false;
        bool withdrawn = false;
        std::optional<WriteResult> result;
    };
    auto pending = std::make_shared<Pending>();
    ioQueue_->post([this, pending, data = std::move(data), label = std::move(label)]() mutable {
        {
            std::lock_guard lock(pending->lock);
            if (pending->withdrawn) {
                return;
            }
            pending->started = true;
        }
        writeFrameDataAsync(std::move(data), std::move(label), [pending](WriteResult result) {
            std::lock_guard lock(pending->lock);
            pending->result = std::move(result);
            pending->done.notify_all();
        });
    });
    std::unique_lock lock(pending->lock);
    if (!pending->done.wait_for(lock, queueLimit, [&] { return pending->started; })) {
        pending->withdrawn = true;
        return fail(SerialWriteError(TransError(TransError::Code::serialClosed)));
    }
    pending->done.wait(lock, [&] { return pending->result.has_value(); });
    return std::move(*pending->result);
}

void SerialService::beginExclusiveProtocolSend() {
    {
        std::lock_guard lock(sendGateLock_);
        ++exclusiveSendDepth_;
    }
    ioQueue_->post([this] {
        if (session_) {
            adjustSessionBulkDepthLocked(*session_, 1);
        }
    });
}

void SerialService::endExclusiveProtocolSend() {
    ioQueue_->post([this] {
        bool lower = false;
        {
            std::lock_guard lock(sendGateLock_);
            if (exclusiveSendDepth_ >= 1) {
                --exclusiveSendDepth_;
                lower = exclusiveSendDepth_ == 0;
            } else {
                lower = true; // an end without a begin still lets the port leave bulk mode
            }
        }
        if (lower && session_) {
            adjustSessionBulkDepthLocked(*session_, -1);
        }
    });
}

qint64 SerialService::exclusiveSendDepth() const {
    std::lock_guard lock(sendGateLock_);
    return exclusiveSendDepth_;
}

qint64 SerialService::sessionBulkTransferDepth() {
    auto depth = std::make_shared<std::atomic<qint64>>(0);
    ioQueue_->runAndWait([this, depth] { *depth = session_ ? session_->bulkTransferDepth() : 0; },
                         std::chrono::seconds(30));
    return *depth;
}

// ---- Debug log ----------------------------------------------------------------------------

void SerialService::appendLog(const QString& direction, const QString& summary,
                              const QStringList& hexRows) {
    const QString tag = direction.isEmpty() || direction == QLatin1String("SYS")
                            ? QStringLiteral("SYS")
                            : direction;
    SerialDiagnostics::info(tag + QLatin1Char(' ') + summary);
    logBatcher_.appendNow(SerialLogEntry::make(direction, summary, hexRows));
}

void SerialService::clearLogs() {
    logBatcher_.clear();
    logStore_.clear();
}

} // namespace orvane
