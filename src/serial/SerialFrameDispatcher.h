#pragma once

#include "common/WorkQueue.h"
#include "serial/SerialClock.h"
#include "serial/SerialFrameProcessor.h"
#include "serial/SerialPortSession.h"
#include "serial/SerialServiceTimings.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace orvane {

// Carries received frames to the frame handler on the protocol queue: drains what a port
// session queued and keeps the session's bulk-transfer mode in step with transfers.
// Returns what the debug log and the status need; the caller moves that to the main thread.
//
// Every method ending in "Locked" runs on the protocol queue (asserted in debug builds
// when a queue is given).
class SerialFrameDispatcher {
public:
    // One received frame in, the reply frames out.
    using FrameHandler = SerialFrameProcessor::FrameHandler;

    SerialFrameDispatcher(SerialClock& clock, const SerialServiceTimings& timings,
                          const WorkQueue* protocolQueue = nullptr);

    struct Drained {
        qint64 issueCount = 0;                    // frame problems taken
        std::optional<FrameProcessResult> frames; // set when frames were handled
        quint64 rxBytes = 0;                      // the session's byte count afterwards
    };
    // Takes the session's pending frames and issues and hands the frames to `handler`;
    // replies go back out through the session.
    Drained drainSessionLocked(const std::shared_ptr<SerialPortSession>& session,
                               const FrameHandler& handler);

    // One step of the session's bulk-transfer depth: up while a transfer runs (`bulk`),
    // back down afterwards; the driver latency follows, and a hardware disconnect noticed
    // during the transfer is acted on once it is over.
    static void adjustBulkDepth(SerialPortSession& session, int delta);
    void updateBulkTransferModeLocked(SerialPortSession& session, bool bulk);

    // True at most once per status-refresh interval.
    bool statusRefreshDueLocked();

private:
    void assertOnQueue() const;

    SerialClock& clock_;
    const SerialServiceTimings& timings_;
    const WorkQueue* const protocolQueue_;
    std::optional<SerialClock::TimePoint> lastStatusRefresh_;
};

} // namespace orvane
