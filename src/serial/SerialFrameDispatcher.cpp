#include "serial/SerialFrameDispatcher.h"

namespace orvane {

SerialFrameDispatcher::SerialFrameDispatcher(SerialClock& clock,
                                             const SerialServiceTimings& timings,
                                             const WorkQueue* protocolQueue)
    : clock_(clock)
    , timings_(timings)
    , protocolQueue_(protocolQueue) {}

void SerialFrameDispatcher::assertOnQueue() const {
    Q_ASSERT_X(!protocolQueue_ || protocolQueue_->isCurrentThread(), "SerialFrameDispatcher",
               "must run on the protocol queue");
}

SerialFrameDispatcher::Drained
SerialFrameDispatcher::drainSessionLocked(const std::shared_ptr<SerialPortSession>& session,
                                          const FrameHandler& handler) {
    assertOnQueue();
    Drained drained;
    auto pending = session->takePendingData();
    drained.issueCount = pending.issues.size();
    if (!pending.frames.isEmpty()) {
        const std::weak_ptr<SerialPortSession> weak = session;
        drained.frames = SerialFrameProcessor::processFrames(
            pending.frames, handler,
            [weak](const QByteArray& reply) {
                // A reply for a session that is gone by now has nowhere to go.
                if (auto target = weak.lock()) {
                    target->write(reply);
                }
            },
            [&session] { session->resetTotalRxBytes(); });
    }
    drained.rxBytes = session->totalRxBytes();
    return drained;
}

void SerialFrameDispatcher::adjustBulkDepth(SerialPortSession& session, int delta) {
    const qint64 depth = session.adjustBulkTransferDepth(delta);
    session.applyUSBLatencyIfNeeded();
    if (delta < 0 && depth == 0) {
        session.consumeDeferredHardwareReconnectIfNeeded();
    }
}

void SerialFrameDispatcher::updateBulkTransferModeLocked(SerialPortSession& session, bool bulk) {
    assertOnQueue();
    adjustBulkDepth(session, bulk ? 1 : -1);
}

bool SerialFrameDispatcher::statusRefreshDueLocked() {
    assertOnQueue();
    const auto now = clock_.now();
    if (lastStatusRefresh_ && now - *lastStatusRefresh_ < timings_.statusRefreshInterval) {
        return false;
    }
    lastStatusRefresh_ = now;
    return true;
}

} // namespace orvane
