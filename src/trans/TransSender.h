#pragma once

#include "common/Result.h"
#include "protocol/TransError.h"
#include "protocol/WireHeader.h"
#include "trans/SendCancelled.h"
#include "trans/SendJob.h"
#include "trans/TransSenderTimings.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <variant>

namespace orvane {

// Pushes one clipboard item to the device over the TRANS protocol, stop-and-wait: exactly
// one frame is outstanding at a time. A transfer runs
//
//   START_REQUEST sn 0 -> DEVICE_QUERY sn 0 -> FIRST_PACKET sn 1 -> MIDDLE_PACKET sn 2..n+1
//   -> FINISH_PACKET sn n+2        (with a device that echoes sn in its replies)
//
// Each frame is written after a pause (150 ms) and waits up to 2 s for its reply. Silence
// is answered by resending the frame, up to 10 times; a failure reply by resending it, up
// to 3 times. The chunk size comes from the device's DEVICE_QUERY_RSP (its buffer size
// less 64 bytes of margin, at most 10240).
//
// Owned through std::shared_ptr: the frame router keeps only a weak reference, so it
// never prolongs the sender's life.
//
// Threads: send() blocks its caller for the whole transfer and is meant to run on a worker
// thread; consumeFrame() is called by the router on the protocol queue. They meet only
// through a locked first-in-first-out list of reply frames and the busy/consuming flags;
// the lock is never held while waiting or writing.
class TransSender {
public:
    // A link failure other than a TransError, given as its user-facing description.
    using WriteError = std::variant<TransError, QString>;
    // Writes one complete frame on the active link; returns when the bytes are written.
    // A TransError (for example serialClosed) ends the send unchanged; any other failure
    // ends it as transferFailed with that description.
    using FrameWriter = std::function<Status<WriteError>(const QByteArray& frame)>;
    // Percentages 0..100 in protocol order: 0, 1, 3, 5, the header share, one value per
    // chunk (5..99), 99, 100. Nothing is reported on failure. Called on the sending thread.
    using ProgressCallback = std::function<void(int percent)>;
    using LogCallback = std::function<void(const QString& line)>;
    using SendError = std::variant<TransError, SendCancelled>;

    explicit TransSender(LogCallback log, TransSenderTimings timings = {});

    TransSender(const TransSender&) = delete;
    TransSender& operator=(const TransSender&) = delete;

    // Runs one transfer to completion: succeeds once the device has acknowledged
    // FINISH_PACKET. Fails at once with sendBusy while another send runs (that one is left
    // alone); with transferTimeout after the 11th silent wait for one frame; with
    // transferFailed("rsp_code=<status>") at the 4th failure reply to one frame; with the
    // writer's error; or with SendCancelled when `stop` is requested during a pause or a
    // wait. The device is never told about a failure.
    Status<SendError> send(const SendJob& job, const FrameWriter& write,
                           const ProgressCallback& onProgress, std::stop_token stop = {});

    // Offers one channel 0x06 frame from the device. While a send runs every such frame is
    // queued for it (whatever its type) and true is returned; otherwise false, and the
    // frame belongs to the receiver. Any thread.
    bool consumeFrame(const WireHeader& header, const QByteArray& payload);

    // Whether a send is running, including one still unwinding after cancellation.
    bool isBusy() const;

private:
    struct RxEvent {
        quint16 type = 0;
        quint32 sn = 0;
        QByteArray payload;
    };

    Status<SendError> writeFrame(quint16 type, quint32 sn, const QByteArray& payload,
                                 const FrameWriter& write, std::stop_token stop);
    // The first queued frame, or nothing at the deadline or on cancellation.
    std::optional<RxEvent> dequeueEvent(std::chrono::steady_clock::time_point deadline,
                                        std::stop_token stop);
    void finishSend();

    LogCallback log_;
    TransSenderTimings timings_;

    mutable std::mutex lock_;
    std::condition_variable_any rxReady_;
    bool busy_ = false;
    bool consuming_ = false;
    std::deque<RxEvent> rxEvents_;
};

} // namespace orvane
