#include "serial/SerialConnectionController.h"

#include "serial/SerialPortTracking.h"
#include "serial/SerialStatusText.h"

namespace orvane {

using namespace std::chrono_literals;
using std::chrono::duration_cast;
using std::chrono::milliseconds;
namespace Policy = SerialReconnectPolicy;
namespace Tracking = SerialPortTracking;

SerialConnectionController::SerialConnectionController(
    SerialConnectionHost& host, SerialPortRegistry& registry, SessionFactory openSession,
    SerialClock& clock, const SerialServiceTimings& timings, const WorkQueue* ioQueue)
    : host_(host)
    , registry_(registry)
    , devices_(registry.devices())
    , openSession_(std::move(openSession))
    , clock_(clock)
    , timings_(timings)
    , ioQueue_(ioQueue) {
    Q_ASSERT(openSession_);
}

void SerialConnectionController::assertOnQueue() const {
    Q_ASSERT_X(!ioQueue_ || ioQueue_->isCurrentThread(), "SerialConnectionController",
               "must run on the I/O queue");
}

void SerialConnectionController::stop() {
    stopping_ = true;
    clock_.interrupt();
}

// ---- Operations ----------------------------------------------------------------------------

void SerialConnectionController::connectLocked(const QString& path) {
    assertOnQueue();
    setUserWantsConnectionLocked(true);
    selectedPathLocked_ = path;
    resetReconnectBackoffLocked();
    portMissingChecks_ = 0;
    disconnectLocked();
    tryConnectSavedPortLocked();
}

void SerialConnectionController::userDisconnectLocked() {
    assertOnQueue();
    setUserWantsConnectionLocked(false);
    disconnectLocked();
}

void SerialConnectionController::refreshPortsLocked() {
    assertOnQueue();
    const auto list = registry_.currentPortList(true);
    maybeAutoSelectPortLocked();
    publishPortsLocked(list);
}

void SerialConnectionController::noteEchoReceivedLocked() {
    assertOnQueue();
    lastEchoAt_ = clock_.now();
}

void SerialConnectionController::shutdownLocked() {
    assertOnQueue();
    disconnectLocked();
}

void SerialConnectionController::releaseLocked() {
    assertOnQueue();
    ioConnected_ = false;
    closeOpenWatchLocked();
    if (SessionPtr session = std::exchange(session_, nullptr)) {
        session->close(false);
    }
}

void SerialConnectionController::setUserWantsConnectionLocked(bool wants) {
    userWantsConnectionLocked_ = wants;
    host_.publishUserWantsConnection(wants);
}

void SerialConnectionController::publishPortsLocked(const QList<SerialPortInfo>& list) {
    host_.publishPorts(list);
}

SerialConnectionController::SessionPtr SerialConnectionController::connectedSessionLocked() const {
    assertOnQueue();
    return ioConnected_ ? session_ : nullptr;
}

// ---- Connection attempt --------------------------------------------------------------------

void SerialConnectionController::startReconnectLoopLocked() {
    assertOnQueue();
    selectedPathLocked_ = host_.selection().path;
    const auto list = registry_.currentPortList(true);
    maybeAutoSelectPortLocked();
    publishPortsLocked(list);
    resetReconnectBackoffLocked();
    if (!selectedPathLocked_.isEmpty()) {
        host_.publishConnecting(selectedPathLocked_);
    }
    tryConnectSavedPortLocked();
}

void SerialConnectionController::tryConnectSavedPortLocked() {
    assertOnQueue();
    if (stopping_) {
        return;
    }
    if (host_.selection().otherLinkChosen) {
        host_.publishDisconnected(SerialStatus::closed(SerialClosedReason::otherLinkChosen));
        return;
    }
    const QString path = selectedPathLocked_;
    if (!userWantsConnectionLocked_ || path.isEmpty()) {
        host_.publishDisconnected(path.isEmpty()
                                      ? SerialStatus::closed(SerialClosedReason::noPortSelected)
                                      : SerialStatus::closed(SerialClosedReason::portClosed, path));
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
    if (nextReconnectAllowedAt_ && clock_.now() < *nextReconnectAllowedAt_) {
        logReconnectWaitLocked();
        return;
    }

    if (missing || !devices_.pathExists(target)) {
        if (missing) {
            teardownSessionLocked();
        }
        if (!waitForTargetPortLocked(timings_.attemptPortWait)) {
            setConnectHintLocked(SerialHint::waitingForReenumeration(selectedPathLocked_));
            scheduleReconnectLocked(SerialDisconnectReason::deviceRemoved());
            syncUIConnectionStateLocked();
            return;
        }
    }
    if (!isTargetPortReachableLocked() && !waitForTargetPortLocked(timings_.attemptPortWait)) {
        const QString path2 = selectedPathLocked_;
        const bool present = devices_.pathExists(path2);
        const bool accessible = present && devices_.isAccessible(path2);
        if (!accessible) {
            // Absent, or not ours to open yet (a fresh node before udev set its group).
            setConnectHintLocked(present ? SerialHint::noPermission(path2)
                                         : SerialHint::waitingForReady(path2));
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
        if (!clock_.sleepFor(
                Policy::settleDelay(backoff_, lastDisconnectReason_.reasonClass(), timings_))) {
            return;
        }
    }
    if (!clock_.sleepFor(Policy::preOpenSleep(backoff_, timings_))) {
        return;
    }
    logReconnectAttemptLocked(selectedPathLocked_);
    openSessionWithRetryLocked(Policy::maxOpenAttempts(backoff_));
}

void SerialConnectionController::openSessionWithRetryLocked(int maxAttempts) {
    std::optional<SerialPortError> lastError;
    int attempts = 0;
    for (int k = 0; k < maxAttempts && !stopping_; ++k) {
        if (k > 0) {
            if (adoptOperativeSessionLocked()) {
                return;
            }
            disconnectLocked();
            if (!clock_.sleepFor(timings_.busyRetryStep * k)) {
                return;
            }
        }
        if (!devices_.pathExists(selectedPathLocked_)) {
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
            host_.logError(QStringLiteral("open retry %1 after busy: %2")
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
        const SerialHint busy =
            SerialHint::busy(registry_.occupierHint(path).value_or(QString()), path);
        const QString hint = SerialStatusText::hint(busy);
        setConnectHintLocked(busy);
        host_.logError(QStringLiteral("port busy: ") + hint);
        scheduleReconnectLocked(SerialDisconnectReason::portBusy());
        line += QStringLiteral(" · ") + hint;
    } else if (lastError) {
        scheduleReconnectLocked(SerialDisconnectReason::openFailure(*lastError));
    } else {
        scheduleReconnectLocked(SerialDisconnectReason::failure(SerialErrorKind::other, reason));
    }
    syncUIConnectionStateLocked();
    host_.log(QStringLiteral("SYS"), line + QStringLiteral(" · 将自动重试"));
}

void SerialConnectionController::ensureSessionLocked() {
    if (session_ && session_->path() == selectedPathLocked_) {
        return;
    }
    if (session_) {
        teardownSessionLocked();
    }
    SessionPtr session(openSession_(selectedPathLocked_, host_.selection().baudRate));
    session->setOnPendingData(
        [this, weak = std::weak_ptr<SerialPortSession>(session)] { host_.requestDrain(weak); });
    session_ = std::move(session);
}

Status<SerialPortError> SerialConnectionController::openSessionOnceLocked() {
    ensureSessionLocked();
    if (auto opened = session_->open(); !opened) {
        return opened;
    }
    noteConnectedLocked();
    const QString path = session_->path();
    const QString label = registry_.displayLabelFor(path);
    host_.log(QStringLiteral("SYS"), QStringLiteral("端口已打开 %1 · %2 · 波特率 %3 · 已连接")
                                         .arg(label, path)
                                         .arg(session_->actualBaudRate()));
    host_.requestDrain(session_);
    return Done{};
}

void SerialConnectionController::noteConnectedLocked() {
    ioConnected_ = true;
    lastConnectAt_ = clock_.now();
    portMissingChecks_ = 0;
    lastEchoAt_ = clock_.now();
    host_.publishRxByteCount(session_->totalRxBytes());
    // What the hint warned about is over; left standing it would resurface at the next
    // disconnect as if it were news.
    if (!connectHintLocked_.isEmpty()) {
        setConnectHintLocked({});
    }
    sharedOpenerHint_ = {};
    armOpenWatchLocked();
    syncUIConnectionStateLocked();
}

bool SerialConnectionController::adoptOperativeSessionLocked() {
    if (!session_ || !session_->isOpen() || !session_->readerRunning() ||
        !sessionDescriptorValidLocked()) {
        return false;
    }
    if (!ioConnected_) {
        noteConnectedLocked();
        host_.requestDrain(session_);
    } else {
        syncUIConnectionStateLocked();
    }
    return true;
}

bool SerialConnectionController::waitForTargetPortLocked(milliseconds maxWait) {
    const auto deadline = clock_.now() + maxWait;
    while (!stopping_) {
        const auto list = registry_.enumerate();
        registry_.store(list);
        maybeAutoSelectPortLocked();
        publishPortsLocked(registry_.currentPortList(false));
        const QString path = selectedPathLocked_;
        if (!path.isEmpty() && !devices_.pathExists(path)) {
            const auto moved = registry_.pickRenumberedPort(registry_.currentPortList(false), path);
            if (moved && *moved != path) {
                publishSelectedPathLocked(
                    *moved, QStringLiteral("串口重枚举 %1 → %2").arg(path, *moved), true);
            }
        }
        if (!selectedPathLocked_.isEmpty() &&
            (sessionHoldsSelectedPortLocked() || portOpenableLocked(selectedPathLocked_))) {
            return true;
        }
        if (clock_.now() >= deadline) {
            break;
        }
        if (!clock_.sleepFor(
                std::min(timings_.portWaitStep,
                         duration_cast<milliseconds>(deadline - clock_.now()) + 1ms))) {
            return false;
        }
    }
    return !stopping_ && isTargetPortReachableLocked();
}

// ---- Reconnect policy ----------------------------------------------------------------

void SerialConnectionController::scheduleReconnectLocked(const SerialDisconnectReason& reason) {
    nextReconnectAllowedAt_ =
        clock_.now() + Policy::scheduleDelay(backoff_, reason.reasonClass(), timings_);
}

void SerialConnectionController::noteSessionEndedLocked(const SerialDisconnectReason& reason) {
    if (lastConnectAt_) {
        Policy::noteSessionEnded(backoff_,
                                 duration_cast<milliseconds>(clock_.now() - *lastConnectAt_),
                                 reason.reasonClass(), timings_);
    }
    lastConnectAt_.reset();
}

void SerialConnectionController::resetReconnectBackoffLocked() {
    nextReconnectAllowedAt_.reset();
    backoff_ = {};
    setConnectHintLocked({});
}

void SerialConnectionController::closeSessionLocked(const SessionPtr& session) {
    if (!session) {
        return;
    }
    session->close(true);
    // close() waits for its read loop itself; this bounds the rare case where it is still
    // unwinding, so the next session never races the old one for the port.
    const auto deadline = clock_.now() + timings_.sessionStopWait;
    while (session->readerRunning() && clock_.now() < deadline) {
        if (!clock_.sleepFor(timings_.sessionStopStep)) {
            break;
        }
    }
}

SerialConnectionController::SessionPtr SerialConnectionController::dropSessionLocked() {
    closeOpenWatchLocked();
    // Whatever else had the port open shares nothing with us any more.
    if (!sharedOpenerHint_.isEmpty()) {
        if (connectHintLocked_ == sharedOpenerHint_) {
            setConnectHintLocked({});
        }
        sharedOpenerHint_ = {};
    }
    return std::exchange(session_, nullptr);
}

void SerialConnectionController::teardownSessionLocked() {
    ioConnected_ = false;
    SessionPtr session = dropSessionLocked();
    closeSessionLocked(session);
}

void SerialConnectionController::disconnectLocked() {
    SessionPtr session = dropSessionLocked();
    ioConnected_ = false;
    host_.publishRxByteCount(0);
    lastDisconnectAt_ = clock_.now();
    closeSessionLocked(session);
    const QString path = selectedPathLocked_;
    host_.publishDisconnected(
        Tracking::closedStatus(path, !path.isEmpty() && devices_.pathExists(path)));
}

void SerialConnectionController::forceDisconnectLocked(const SerialDisconnectReason& reason,
                                                       bool log) {
    SessionPtr session = dropSessionLocked();
    ioConnected_ = false;
    host_.publishRxByteCount(0);
    lastDisconnectAt_ = clock_.now();
    lastDisconnectReason_ = reason;
    noteSessionEndedLocked(reason);
    closeSessionLocked(session);
    syncUIConnectionStateLocked();
    host_.publishPortClosed();
    if (log) {
        const QString path = selectedPathLocked_;
        host_.log(QStringLiteral("SYS"),
                  path.isEmpty() ? QStringLiteral("串口断开 ") + reason.text()
                                 : QStringLiteral("串口断开 %1 · %2").arg(path, reason.text()));
    }
}

// ---- Health checks ---------------------------------------------------------------------

void SerialConnectionController::runPeriodicHealthCheckLocked() {
    assertOnQueue();
    if (!active_ || stopping_) {
        return;
    }
    // While the link holds its port and hot-plug events report every port that comes or
    // goes, listing the device directories again would only find what is already known.
    if (registry_.isStale() && !(isLinkLiveLocked() && host_.portChangesReported())) {
        publishPortsLocked(registry_.currentPortList(true));
    }
    if (!selectedPathLocked_.isEmpty()) {
        const bool migrated = attemptPortMigrationIfNeededLocked();
        if (!migrated && isSelectedPortMissingLocked()) {
            handleSelectedPortMissingLocked();
        } else if (!isSelectedPortMissingLocked()) {
            portMissingChecks_ = 0;
        }
    }
    const bool receiving = host_.transferReceiveActive();
    if (session_) {
        noteFatalSessionLossLocked();
        host_.requestDrain(session_);
        if (session_->readerRunning()) {
            followOtherOpenersLocked();
            syncUIConnectionStateLocked();
            if (isLinkLiveLocked()) {
                return;
            }
        }
    }
    const bool wantsAttempt = !selectedPathLocked_.isEmpty() && !isLinkLiveLocked();
    if (host_.exclusiveSendDepth() < 1 && !receiving) {
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

void SerialConnectionController::noteFatalSessionLossLocked() {
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
    host_.log(QStringLiteral("SYS"),
              QStringLiteral("串口断开 %1 · %2").arg(session_->path(), reason.text()));
}

void SerialConnectionController::runEchoHealthCheckLocked() {
    assertOnQueue();
    if (!active_ || stopping_ || !userWantsConnectionLocked_ || !isLinkLiveLocked()) {
        return;
    }
    if (host_.exclusiveSendDepth() >= 1 || host_.transferReceiveActive()) {
        return;
    }
    const auto silent = clock_.now() - lastEchoAt_;
    if (silent <= timings_.echoTimeout) {
        return;
    }
    const double seconds = std::chrono::duration<double>(silent).count();
    host_.log(QStringLiteral("SYS"),
              QString::asprintf("ECHO 超时 %.0fs · 重连串口 · ", seconds) + selectedPathLocked_);
    disconnectLocked();
    nextReconnectAllowedAt_.reset();
    tryConnectSavedPortLocked();
}

void SerialConnectionController::logReconnectWaitLocked() {
    if (host_.selection().otherLinkChosen) {
        return;
    }
    const auto now = clock_.now();
    if (lastReconnectAttemptLogAt_ &&
        now - *lastReconnectAttemptLogAt_ < timings_.reconnectLogInterval) {
        return;
    }
    lastReconnectAttemptLogAt_ = now;
    const qint64 remaining =
        nextReconnectAllowedAt_
            ? duration_cast<milliseconds>(*nextReconnectAllowedAt_ - now).count()
            : 0;
    host_.log(QStringLiteral("SYS"), QStringLiteral("等待重连 %1s · %2")
                                         .arg(Tracking::wholeSecondsAtLeastOne(remaining))
                                         .arg(selectedPathLocked_));
}

void SerialConnectionController::logReconnectAttemptLocked(const QString& path) {
    if (host_.selection().otherLinkChosen) {
        return;
    }
    lastReconnectAttemptLogAt_ = clock_.now();
    host_.log(QStringLiteral("SYS"), QStringLiteral("正在重连 ") + path);
}

} // namespace orvane
