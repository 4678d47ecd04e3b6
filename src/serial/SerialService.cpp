#include "serial/SerialService.h"

#include "serial/SerialDiagnostics.h"
#include "serial/SerialPortTracking.h"
#include "serial/SerialStatusText.h"
#include "serial/SteadySerialClock.h"

#include <QMetaObject>
#include <QThread>

namespace orvane {

using std::chrono::milliseconds;

SerialService::SerialService(Platform platform, SerialServiceTimings timings, QObject* parent)
    : QObject(parent)
    , timings_(timings)
    , clock_(platform.clock ? platform.clock : std::make_shared<SteadySerialClock>())
    , devices_(platform.devices)
    , registry_(platform.devices, *clock_, timings_)
    , logStore_(this)
    , logBatcher_(
          logStore_,
          [this](milliseconds delay, SerialLogBatcher::Task task) {
              QTimer::singleShot(delay, this, std::move(task));
          },
          timings.logUIInterval, timings.issueSummaryDelay, [this] { return rxByteCount_.load(); })
    , sinkTarget_(std::make_shared<SinkTarget>())
    , ioQueue_(std::make_unique<WorkQueue>(QString::fromLatin1(ioQueueName)))
    , protocolQueue_(platform.protocolQueue
                         ? platform.protocolQueue
                         : std::make_shared<WorkQueue>(QString::fromLatin1(protocolQueueName)))
    , ownsProtocolQueue_(!platform.protocolQueue) {
    Q_ASSERT(devices_ && platform.openSession);
    SerialConnectionHost& host = *this;
    controller_ = std::make_unique<SerialConnectionController>(
        host, registry_, std::move(platform.openSession), *clock_, timings_, ioQueue_.get());
    if (platform.openWatch) {
        // The watch reports on a thread of its own; the controller's state is the I/O queue's.
        controller_->setOpenWatch(
            std::move(platform.openWatch),
            [queue = ioQueue_.get()](std::function<void()> task) { queue->post(std::move(task)); });
    }
    dispatcher_ = std::make_unique<SerialFrameDispatcher>(*clock_, timings_, protocolQueue_.get());
    writer_ = std::make_unique<SerialLinkWriter>(*ioQueue_, *controller_, writerLinks());
    sinkTarget_->service = this;
    keepaliveTimer_.setInterval(timings_.healthCheckInterval);
    echoHealthTimer_.setInterval(timings_.echoCheckInterval);
    QObject::connect(&keepaliveTimer_, &QTimer::timeout, this, &SerialService::onHealthTimer);
    QObject::connect(&echoHealthTimer_, &QTimer::timeout, this, &SerialService::onEchoTimer);
    if (platform.watch) {
        hotplug_ = std::make_unique<SerialPortHotplug>(devices_, std::move(platform.watch));
        hotplug_->onEvent = [this](const SerialPortHotplug::Event& event) {
            ioQueue_->post([this, event] { controller_->handleHotplugEventLocked(event); });
        };
    }
}

SerialService::~SerialService() {
    if (isServiceActive_) {
        SerialDiagnostics::setOnUILine({});
    }
    isServiceActive_ = false;
    controller_->setActive(false);
    {
        std::lock_guard lock(sinkTarget_->lock);
        sinkTarget_->service = nullptr;
    }
    keepaliveTimer_.stop();
    echoHealthTimer_.stop();
    if (hotplug_) {
        hotplug_->stop();
    }
    controller_->stop();
    ioQueue_->post([this] { controller_->releaseLocked(); });
    // Both queues run what is still queued (cut short by the stopped controller) and end;
    // what they post to this object meanwhile is discarded with it. The queues themselves
    // stay until the parts they use are gone: a frame handler still running on the
    // protocol queue may call back into this object (an echo noted, a health check asked
    // for) after the I/O queue has ended, and such posts are dropped.
    ioQueue_->stop();
    if (ownsProtocolQueue_) {
        protocolQueue_->stop();
    } else {
        // Shared: what this service queued there runs now, while the service still exists;
        // with the I/O queue ended and the session released nothing queues more.
        (void)protocolQueue_->runAndWait([] {}, std::chrono::seconds(30));
    }
}

// ---- Cross-thread plumbing -------------------------------------------------------------

void SerialService::postToMain(std::function<void()> task) {
    // Queued to this object: dropped with it if it is destroyed before the call runs.
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void SerialService::postLog(const QString& direction, const QString& summary,
                            const QStringList& rows) {
    postToMain([this, direction, summary, rows] { appendLog(direction, summary, rows); });
}

void SerialService::onHealthTimer() {
    // Checks do not pile up behind a long connection attempt: one waiting is enough.
    if (!healthCheckQueued_.exchange(true)) {
        ioQueue_->post([this] {
            healthCheckQueued_ = false;
            controller_->runPeriodicHealthCheckLocked();
        });
    }
}

void SerialService::onEchoTimer() {
    if (!echoCheckQueued_.exchange(true)) {
        ioQueue_->post([this] {
            echoCheckQueued_ = false;
            controller_->runEchoHealthCheckLocked();
        });
    }
}

// ---- SerialConnectionHost --------------------------------------------------------------

SerialService::Selection SerialService::selection() const {
    std::lock_guard lock(selectionLock_);
    return selection_;
}

bool SerialService::transferReceiveActive() const {
    std::function<bool()> check;
    {
        std::lock_guard lock(callbackLock_);
        check = isTransferReceiveActiveCheck_;
    }
    return check && check();
}

bool SerialService::portChangesReported() const {
    return hotplug_ && hotplug_->isWatching();
}

void SerialService::publishConnectionState(bool live, const SerialStatus& status) {
    postToMain([this, live, status] {
        setConnectedFlagsMain(live, live);
        setStatusMain(status);
    });
}

void SerialService::publishDisconnected(const SerialStatus& status) {
    postToMain([this, status] {
        setConnectedFlagsMain(false, false);
        setStatusMain(status);
    });
}

void SerialService::publishConnecting(const QString& path) {
    if (path.isEmpty()) {
        return;
    }
    postToMain([this, path] {
        if (!isPortOpen_ && !isConnected_) {
            setStatusMain(SerialStatus::connecting(path));
        }
    });
}

void SerialService::publishPortClosed() {
    postToMain([this] { setConnectedFlagsMain(false, isConnected_); });
}

void SerialService::publishPorts(const QList<SerialPortInfo>& ports) {
    postToMain([this, ports] {
        publish(ports_, SerialPortTracking::offeredPorts(ports, selectedPath_),
                &SerialService::portsChanged);
    });
}

void SerialService::publishConnectHint(const SerialHint& hint) {
    postToMain([this, hint] { publish(hint_, hint, &SerialService::connectHintChanged); });
}

void SerialService::publishSelectedPath(const QString& path, const QString& logSummary,
                                        bool migrated) {
    {
        std::lock_guard lock(selectionLock_);
        selection_.path = path;
    }
    postToMain([this, path, logSummary, migrated] {
        publish(selectedPath_, path, &SerialService::selectedPathChanged);
        if (!logSummary.isEmpty()) {
            appendLog(QStringLiteral("SYS"), logSummary);
        }
        if (migrated) {
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

void SerialService::publishUserWantsConnection(bool wants) {
    postToMain([this, wants] {
        publish(userWantsConnection_, wants, &SerialService::userWantsConnectionChanged);
    });
}

void SerialService::publishRxByteCount(quint64 count) {
    rxByteCount_ = count;
}

void SerialService::log(const QString& direction, const QString& summary) {
    postLog(direction, summary);
}

void SerialService::logError(const QString& message) {
    // The diagnostics sink carries the line on to the debug log as "ERR".
    SerialDiagnostics::error(message);
}

void SerialService::requestDrain(std::weak_ptr<SerialPortSession> session) {
    // One drain waiting is enough: it takes everything queued by the time it runs.
    if (drainQueued_.exchange(true)) {
        return;
    }
    protocolQueue_->post([this, session = std::move(session)] {
        drainQueued_ = false;
        if (SessionPtr held = session.lock()) {
            drainOnProtocolQueue(held);
        }
    });
}

// ---- Lifecycle ---------------------------------------------------------------------------

void SerialService::activate() {
    if (isServiceActive_) {
        return;
    }
    isServiceActive_ = true;
    controller_->setActive(true);
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
    ioQueue_->post([this] { controller_->startReconnectLoopLocked(); });
}

void SerialService::shutdown() {
    isServiceActive_ = false;
    controller_->setActive(false);
    SerialDiagnostics::setOnUILine({});
    keepaliveTimer_.stop();
    echoHealthTimer_.stop();
    if (hotplug_) {
        hotplug_->stop();
    }
    ioQueue_->post([this] { controller_->shutdownLocked(); });
}

void SerialService::connect() {
    if (selectedPath_.isEmpty()) {
        return;
    }
    ioQueue_->post([this, path = selectedPath_] { controller_->connectLocked(path); });
}

void SerialService::disconnect() {
    ioQueue_->post([this] { controller_->userDisconnectLocked(); });
}

void SerialService::refreshPorts() {
    ioQueue_->post([this] { controller_->refreshPortsLocked(); });
}

void SerialService::verifyConnectionHealth() {
    ioQueue_->post([this] { controller_->runPeriodicHealthCheckLocked(); });
}

void SerialService::noteEchoReceived() {
    ioQueue_->post([this] { controller_->noteEchoReceivedLocked(); });
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

void SerialService::setOnPortAutoMigrated(std::function<void(const QString&)> callback) {
    std::lock_guard lock(callbackLock_);
    onPortAutoMigrated_ = std::move(callback);
}

SerialService::FrameHandler SerialService::frameHandler() const {
    std::lock_guard lock(callbackLock_);
    return frameHandler_;
}

// ---- Status ------------------------------------------------------------------------------

QString SerialService::statusText() const {
    return SerialStatusText::status(status_);
}

QString SerialService::connectHint() const {
    return SerialStatusText::hint(hint_);
}

QString SerialService::cachedStatusText() const {
    std::lock_guard lock(statusLock_);
    return SerialStatusText::status(cachedStatus_);
}

void SerialService::setStatusMain(const SerialStatus& status) {
    {
        std::lock_guard lock(statusLock_);
        cachedStatus_ = status;
    }
    publishStatusMain(status);
}

void SerialService::publishStatusMain(const SerialStatus& status) {
    // Listeners show the words: a new value that reads the same is no news to them.
    const bool changed = status_.phase != status.phase ||
                         SerialStatusText::status(status_) != SerialStatusText::status(status);
    status_ = status;
    if (changed) {
        emit statusTextChanged();
    }
}

void SerialService::setConnectedFlagsMain(bool portOpen, bool connected) {
    publish(isPortOpen_, portOpen, &SerialService::isPortOpenChanged);
    publish(isConnected_, connected, &SerialService::isConnectedChanged);
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

void SerialService::setOtherLinkChosen(bool chosen) {
    Q_ASSERT(thread() == QThread::currentThread());
    {
        std::lock_guard lock(selectionLock_);
        selection_.otherLinkChosen = chosen;
    }
    publish(otherLinkChosen_, chosen, &SerialService::otherLinkChosenChanged);
}

void SerialService::setLogPaused(bool paused) {
    logBatcher_.setPaused(paused);
    publish(isLogPaused_, paused, &SerialService::isLogPausedChanged);
}

// ---- Data path -----------------------------------------------------------------------------

void SerialService::drainOnProtocolQueue(const SessionPtr& session) {
    dispatcher_->updateBulkTransferModeLocked(*session,
                                              transferReceiveActive() || exclusiveSendDepth() >= 1);
    const auto drained = dispatcher_->drainSessionLocked(session, frameHandler());
    if (drained.issueCount > 0) {
        postToMain([this, count = drained.issueCount] { logBatcher_.noteIssues(count); });
    }
    if (drained.frames) {
        rxByteCount_ = drained.rxBytes;
        postToMain([this, result = *drained.frames] {
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
    // At most once a second the live status line is refreshed from the session.
    if (!dispatcher_->statusRefreshDueLocked()) {
        return;
    }
    rxByteCount_ = session->totalRxBytes();
    // Only a live link may claim "open"; a session that is recovering or being replaced
    // is described by the connection logic instead.
    if (!controller_->ioConnected() || !session->isOpen() || !session->readerRunning() ||
        session->waitingReconnect()) {
        return;
    }
    const SerialStatus status =
        SerialStatus::live(registry_.labelFor(session->path()), session->actualBaudRate());
    {
        std::lock_guard lock(statusLock_);
        if (status == cachedStatus_) {
            return;
        }
        cachedStatus_ = status;
    }
    postToMain([this, status] { publishStatusMain(status); });
}

SerialLinkWriter::Links SerialService::writerLinks() {
    SerialLinkWriter::Links links;
    links.log = [this](const QString& direction, const QString& summary, const QStringList& rows) {
        postLog(direction, summary, rows);
    };
    links.logSent = [this](const QString& summary, const QString& row) {
        postToMain([this, summary, row] {
            logBatcher_.appendNow(SerialLogEntry::make(QStringLiteral("TX"), summary, {row}));
        });
    };
    return links;
}

void SerialService::writeFrameData(QByteArray data, const QString& label) {
    writer_->writeAsync(std::move(data), label, {});
}

void SerialService::writeFrameDataAsync(QByteArray data, std::optional<QString> label,
                                        WriteCompletion completion) {
    writer_->writeAsync(std::move(data), std::move(label), std::move(completion));
}

SerialService::WriteResult SerialService::writeFrameDataAndWait(QByteArray data,
                                                                std::optional<QString> label,
                                                                milliseconds queueLimit,
                                                                milliseconds writeLimit) {
    return writer_->writeAndWait(std::move(data), std::move(label), queueLimit, writeLimit);
}

void SerialService::beginExclusiveProtocolSend() {
    writer_->beginExclusiveSend();
}

void SerialService::endExclusiveProtocolSend() {
    writer_->endExclusiveSend();
}

qint64 SerialService::exclusiveSendDepth() const {
    return writer_->exclusiveSendDepth();
}

qint64 SerialService::sessionBulkTransferDepth() {
    auto depth = std::make_shared<std::atomic<qint64>>(0);
    ioQueue_->runAndWait(
        [this, depth] {
            const auto session = controller_->sessionLocked();
            *depth = session ? session->bulkTransferDepth() : 0;
        },
        std::chrono::seconds(30));
    return *depth;
}

// ---- Debug log ----------------------------------------------------------------------------

void SerialService::appendLog(const QString& direction, const QString& summary,
                              const QStringList& hexRows, const QLoggingCategory& category) {
    const QString tag = direction.isEmpty() || direction == QLatin1String("SYS")
                            ? QStringLiteral("SYS")
                            : direction;
    qCInfo(category).noquote() << tag + QLatin1Char(' ') + summary;
    logBatcher_.appendNow(SerialLogEntry::make(direction, summary, hexRows));
}

void SerialService::clearLogs() {
    logBatcher_.clear();
    logStore_.clear();
}

} // namespace orvane
