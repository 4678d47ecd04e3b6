#pragma once

#include "PushItem.h"
#include "protocol/WireHeader.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>

namespace orvane::devsim {

class EventPrinter;

// The device pushing clipboard items to the client, one at a time, stop-and-wait: each
// frame is sent when the client's GENERAL_REPLY to the previous one has arrived.
//
//   START_REQUEST   empty                                   -> GENERAL_REPLY
//   FIRST_PACKET    0x01 + 52-byte transfer header          -> GENERAL_REPLY
//   MIDDLE_PACKET   0x02, startIndex, endIndex, chunk, sum  -> GENERAL_REPLY (one per chunk)
//   FINISH_PACKET   empty                                   -> GENERAL_REPLY
//
// A reply counts when it carries the sn of the outstanding frame and a second byte of
// 0x02 or 0x03. A failure reply or a reply time-out resends the same frame with the same
// sn, at most three times; then the push fails. Status 0 to FINISH_PACKET means the client
// verified the payload and delivered it.
class TransPusher : public QObject {
    Q_OBJECT

public:
    using FrameWriter = std::function<void(const QByteArray&)>;

    TransPusher(EventPrinter& events, FrameWriter writeFrame, int chunkSize, int replyTimeoutMs,
                QObject* parent = nullptr);

    void enqueue(PushItem item);
    bool hasQueued() const { return !queue_.empty(); }
    bool isBusy() const { return step_ != Step::idle; }
    // Starts the first queued item; nothing happens while a push runs.
    void startNext();
    // The next chunk sent goes out with one byte flipped after its checksum was computed.
    void damageNextChunk() { damageNext_ = true; }
    // Ends the running push as failed (the cable is gone); queued items wait.
    void abort(const QString& reason);

    // A GENERAL_REPLY from the client.
    void handleReply(const WireHeader& header, const QByteArray& payload);

signals:
    // A push ended, successfully or not.
    void pushEnded();

private:
    enum class Step { idle, start, first, middle, finish };

    void sendNew(Step step, QByteArray payload);
    void sendChunk();
    void transmit();
    void acknowledged();
    void retry(const QString& why);
    void end(bool ok, const QString& reason);

    EventPrinter& events_;
    FrameWriter writeFrame_;
    qsizetype chunkSize_;
    std::deque<PushItem> queue_;
    QTimer replyTimer_;
    QElapsedTimer clock_;

    PushItem item_;
    Step step_ = Step::idle;
    QByteArray framePayload_; // of the outstanding frame, for resends
    quint32 sn_ = 0;
    quint32 nextSn_ = 0;
    qsizetype offset_ = 0;      // payload offset of the outstanding chunk
    qsizetype chunkLength_ = 0; // its length
    int resends_ = 0;
    int chunks_ = 0;
    int reportedDecile_ = 0;
    bool damageNext_ = false;
};

} // namespace orvane::devsim
