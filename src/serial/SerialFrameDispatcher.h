#pragma once

#include "common/WorkQueue.h"
#include "serial/SerialClock.h"
#include "serial/SerialDataSource.h"
#include "serial/SerialFrameProcessor.h"
#include "serial/SerialPortSession.h"
#include "serial/SerialServiceTimings.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace orvane {

// Carries received frames to the frame handler on the protocol queue: drains what a port
// session queued, keeps the session's bulk-transfer mode in step with transfers, and
// dispatches the frames the Bluetooth link delivers. Returns what the debug log and the
// status need; the caller moves that to the main thread. Handler calls therefore never
// overlap, whichever link their frame came from.
//
// Every method ending in "Locked" runs on the protocol queue (asserted in debug builds
// when a queue is given).
class SerialFrameDispatcher {
public:
    // One received frame and the link it came over in, the reply frames out.
    using FrameHandler =
        std::function<QList<QByteArray>(const QByteArray& frame, SerialDataSource source)>;

    SerialFrameDispatcher(SerialClock& clock, const SerialServiceTimings& timings,
                          const WorkQueue* protocolQueue = nullptr);

    struct Drained {
        qint64 issueCount = 0;                    // frame problems taken
        std::optional<FrameProcessResult> frames; // set when frames were handled
        quint64 rxBytes = 0;                      // the session's byte count afterwards
    };
    // Takes the session's pending frames and issues and hands the frames to `handler`;
    // replies go back out through the session. The data source reads `serial` meanwhile.
    Drained drainSessionLocked(const std::shared_ptr<SerialPortSession>& session,
                               const FrameHandler& handler);

    // One step of the session's bulk-transfer depth: up while a transfer runs (`bulk`),
    // back down afterwards; the driver latency follows, and a hardware disconnect noticed
    // during the transfer is acted on once it is over.
    static void adjustBulkDepth(SerialPortSession& session, int delta);
    void updateBulkTransferModeLocked(SerialPortSession& session, bool bulk);

    struct BluetoothDispatch {
        QString summary; // "sn=… · … B"
        QString hexRow;
        QList<QByteArray> replies;
    };
    // Hands one Bluetooth frame to `handler`; nothing without a handler.
    std::optional<BluetoothDispatch> dispatchBluetoothLocked(const QByteArray& frame,
                                                             const FrameHandler& handler);

    // True at most once per status-refresh interval.
    bool statusRefreshDueLocked();

    // The link of the frame whose handler call is running, for code that cannot be handed
    // the source with the frame. Any thread.
    SerialDataSource currentDataSource() const { return currentDataSource_; }

private:
    void assertOnQueue() const;

    SerialClock& clock_;
    const SerialServiceTimings& timings_;
    const WorkQueue* const protocolQueue_;
    std::atomic<SerialDataSource> currentDataSource_{SerialDataSource::unknown};
    std::optional<SerialClock::TimePoint> lastStatusRefresh_;
};

} // namespace orvane
