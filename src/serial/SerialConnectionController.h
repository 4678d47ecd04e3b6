#pragma once

#include "common/Result.h"
#include "common/WorkQueue.h"
#include "serial/SerialClock.h"
#include "serial/SerialConnectionHost.h"
#include "serial/SerialDisconnectReason.h"
#include "serial/SerialHint.h"
#include "serial/SerialPortError.h"
#include "serial/SerialPortHotplug.h"
#include "serial/SerialPortOpenWatch.h"
#include "serial/SerialPortRegistry.h"
#include "serial/SerialPortSession.h"
#include "serial/SerialReconnectPolicy.h"
#include "serial/SerialServiceTimings.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace orvane {

// Keeps a serial port session open on the selected path while the user wants a connection
// and no other link is chosen: connection attempts with retries, the back-off after
// a failed or ended session, the periodic and ECHO health checks, following a device that
// re-enumerated under a new path, hot-plug reactions, the connect hint and the status line,
// and a warning while another program shares the connected port.
//
// Runs on the I/O queue: every method whose name ends in "Locked" must be called there
// (asserted in debug builds when a queue is given) and relies on it for exclusion. The
// long waits of an attempt (settle delays, port waits) block that queue; they use the
// injected clock, which stop() interrupts.
class SerialConnectionController {
public:
    using SessionPtr = std::shared_ptr<SerialPortSession>;
    using SessionFactory =
        std::function<std::unique_ptr<SerialPortSession>(const QString& path, qint64 baudRate)>;

    using OpenWatchFactory = std::function<std::unique_ptr<SerialPortOpenWatch>()>;
    // Queues a task to run on the I/O queue later.
    using QueuePoster = std::function<void(std::function<void()>)>;

    // `ioQueue` may be null: tests drive the controller from their own thread.
    SerialConnectionController(SerialConnectionHost& host, SerialPortRegistry& registry,
                               SessionFactory openSession, SerialClock& clock,
                               const SerialServiceTimings& timings,
                               const WorkQueue* ioQueue = nullptr);

    // Who else has the connected port open is looked up when a watch made by `makeWatch`
    // reports an open or close of its node; `post` carries those reports to the I/O queue.
    // Without one (or when watching fails) it is looked up at every periodic health check.
    // Call before the first operation.
    void setOpenWatch(OpenWatchFactory makeWatch, QueuePoster post);

    // ---- Operations (I/O queue) ----
    // Publishes the ports, restarts the back-off and makes a first attempt.
    void startReconnectLoopLocked();
    // The user asked to connect to `path`: from scratch, back-off reset.
    void connectLocked(const QString& path);
    // The user asked to disconnect: no attempts until connectLocked().
    void userDisconnectLocked();
    void refreshPortsLocked();
    void runPeriodicHealthCheckLocked();
    void runEchoHealthCheckLocked();
    void noteEchoReceivedLocked();
    void handleHotplugEventLocked(const SerialPortHotplug::Event& event);
    // The service is shutting down: closes the session; the user's wish stays as it is.
    void shutdownLocked();
    // Closes the session, notifying its owner as a release does.
    void releaseLocked();

    // ---- State ----
    // The session while the controller counts it as connected; null otherwise (I/O queue).
    SessionPtr connectedSessionLocked() const;
    SessionPtr sessionLocked() const {
        assertOnQueue();
        return session_;
    }
    bool isLinkLiveLocked() const;
    // Whether the session counts as connected. Any thread.
    bool ioConnected() const { return ioConnected_; }
    // Service-wide activity (between activate and shutdown). Any thread.
    void setActive(bool active) { active_ = active; }
    // Cuts a running attempt short and refuses further ones. Any thread.
    void stop();
    bool stopping() const { return stopping_; }

    // For tests: the back-off counters and the time before which no attempt is made.
    const SerialReconnectPolicy::Backoff& backoff() const { return backoff_; }
    std::optional<SerialClock::TimePoint> nextReconnectAllowedAt() const {
        return nextReconnectAllowedAt_;
    }
    const SerialHint& connectHintLocked() const { return connectHintLocked_; }
    const QString& selectedPathLocked() const { return selectedPathLocked_; }

private:
    void assertOnQueue() const;

    // Connection attempts.
    void tryConnectSavedPortLocked();
    void openSessionWithRetryLocked(int maxAttempts);
    Status<SerialPortError> openSessionOnceLocked();
    void ensureSessionLocked();
    bool adoptOperativeSessionLocked();
    void noteConnectedLocked();
    bool waitForTargetPortLocked(std::chrono::milliseconds maxWait);

    // Back-off and teardown.
    void scheduleReconnectLocked(const SerialDisconnectReason& reason);
    void noteSessionEndedLocked(const SerialDisconnectReason& reason);
    void resetReconnectBackoffLocked();
    SessionPtr dropSessionLocked();
    void teardownSessionLocked();
    void closeSessionLocked(const SessionPtr& session);
    void disconnectLocked();
    void forceDisconnectLocked(const SerialDisconnectReason& reason, bool log);
    void noteFatalSessionLossLocked();
    // Other programs with the port open.
    void checkOtherOpenersLocked();
    void followOtherOpenersLocked();
    void armOpenWatchLocked();
    void closeOpenWatchLocked();
    void handleOpenWatchEventsLocked(quint64 generation, const SerialPortOpenWatch::Events& events);
    void logReconnectWaitLocked();
    void logReconnectAttemptLocked(const QString& path);
    void setUserWantsConnectionLocked(bool wants);

    // Port tracking and what the user is told.
    void publishPortsLocked(const QList<SerialPortInfo>& list);
    bool sessionDescriptorValidLocked() const;
    bool sessionHoldsSelectedPortLocked() const;
    bool portOpenableLocked(const QString& path) const;
    bool isTargetPortReachableLocked() const;
    bool isSelectedPortMissingLocked() const;
    bool attemptPortMigrationIfNeededLocked();
    void publishSelectedPathLocked(const QString& path, const QString& logSummary, bool migrate);
    void handleSelectedPortMissingLocked();
    void maybeAutoSelectPortLocked();
    void setConnectHintLocked(const SerialHint& hint);
    void syncUIConnectionStateLocked();

    SerialConnectionHost& host_;
    SerialPortRegistry& registry_;
    const SerialDeviceSource& devices_;
    const SessionFactory openSession_;
    SerialClock& clock_;
    const SerialServiceTimings& timings_;
    const WorkQueue* const ioQueue_;
    OpenWatchFactory makeOpenWatch_;
    QueuePoster postToQueue_;

    std::atomic<bool> ioConnected_{false};
    std::atomic<bool> active_{false};
    std::atomic<bool> stopping_{false};

    // I/O queue only.
    SessionPtr session_;
    const SerialPortSession* fatalLossNoted_ = nullptr; // compared, never dereferenced
    SerialClock::TimePoint lastEchoAt_{};
    bool userWantsConnectionLocked_ = true;
    QString selectedPathLocked_;
    SerialHint connectHintLocked_;
    SerialHint sharedOpenerHint_; // set while another program has the connected port open
    std::unique_ptr<SerialPortOpenWatch> openWatch_; // while the link is live on its node
    quint64 openWatchGeneration_ = 0;                // tells reports of a closed watch apart
    bool openerRecheckDue_ = false;
    std::optional<SerialClock::TimePoint> lastDisconnectAt_;
    std::optional<SerialClock::TimePoint> nextReconnectAllowedAt_; // none: the distant past
    SerialDisconnectReason lastDisconnectReason_;
    SerialReconnectPolicy::Backoff backoff_;
    std::optional<SerialClock::TimePoint> lastConnectAt_;
    std::optional<SerialClock::TimePoint> lastReconnectAttemptLogAt_;
    qint64 portMissingChecks_ = 0;
};

} // namespace orvane
