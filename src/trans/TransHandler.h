#pragma once

#include "clipboard/ClipboardEntry.h"
#include "common/Result.h"
#include "protocol/CommPacketHead.h"
#include "protocol/WireHeader.h"
#include "trans/ReceiveSession.h"
#include "trans/ReceivedFileStore.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>

namespace orvane {

// The receiving end of TRANS: answers the device's transfer packets on channel 0x06,
// assembles the incoming payload in memory (texts, images) or straight in the destination
// file (files), checks it against the header's checksum and hands the finished item to
// the application. It also answers DEVICE_QUERY with this system's identity reply.
//
// One transfer at a time: FIRST_PACKET opens it, MIDDLE_PACKETs fill it, FINISH_PACKET
// closes it (successfully or not), START_REQUEST or a new FIRST_PACKET abandons it. There
// is no timer; an abandoned transfer stays open until one of those arrives.
//
// Incoming limits by announced payload size: text and unknown types 1 MiB, images 10 MiB,
// files whatever the 32-bit header can announce. Memory transfers allocate their buffer
// once, at the announced size, when the first chunk arrives; files are written in place
// and are never held whole in memory.
//
// Frames arrive on the link's receive thread; `lock` guards the session, so the accessors
// may be used from any thread. The callbacks are never invoked while the lock is held, so
// they may call back into the handler; `deliver` runs synchronously on the receive thread.
class TransHandler {
public:
    using LogFn = std::function<void(const QString&)>;
    // Takes a finished item; a failure (its description) makes the transfer fail and, for a
    // file, removes the file again.
    using DeliverFn = std::function<Status<QString>(const ClipboardEntry&)>;

    // The payload limit of a data type, -1 for none.
    static qint64 receiveLimit(quint16 dataType);

    // Received files and images go to `files`.
    TransHandler(LogFn log, LogFn warn, DeliverFn deliver,
                 std::shared_ptr<ReceivedFileStore> files);
    // Closes a file still being received and removes it.
    ~TransHandler();

    TransHandler(const TransHandler&) = delete;
    TransHandler& operator=(const TransHandler&) = delete;

    // One complete frame in, the reply frames out: none for a frame that fails validation
    // or is not on channel 0x06, otherwise exactly one (GENERAL_REPLY or DEVICE_QUERY_RSP,
    // on the request's channel and with its sn).
    QList<QByteArray> handleFrame(QByteArrayView frame);
    // The same for a frame that its caller has already validated into header and payload,
    // so a large chunk is not checked and copied twice.
    QList<QByteArray> handleFrame(const WireHeader& header, const QByteArray& payload);

    // The failure GENERAL_REPLY; logs "TX GENERAL_REPLY fail <label> sn=<sn>".
    QByteArray failReply(quint8 channel, quint32 sn, const QString& label);

    // Ends the current transfer. With discardPartialFile a file that was not delivered is
    // removed; a delivered file always stays.
    void resetSession(bool discardPartialFile);

    // A copy of the transfer in progress (the idle session when there is none).
    ReceiveSession session() const;

    // Checksum of what has been received: the memory buffer, or the destination file up to
    // its expected size (kept up while the chunks arrive in order, else read back after
    // flushing the file); 0 when nothing was stored. Fails with the system's text when the
    // file cannot be flushed or read.
    static Result<quint32, QString> payloadChecksum(const ReceiveSession& session);

    // The sn of a built frame (bytes 3..6), 0 when the frame is shorter than 7 bytes.
    static quint32 frameSN(QByteArrayView frame);

private:
    QList<QByteArray> handleStart(const WireHeader& header);
    QList<QByteArray> handleDeviceQuery(const WireHeader& header);
    QList<QByteArray> handleFirst(const WireHeader& header, QByteArrayView payload);
    QList<QByteArray> handleMiddle(const WireHeader& header, QByteArrayView payload);
    QList<QByteArray> handleFinish(const WireHeader& header);

    // Stores one checked chunk into the session's storage; fails with the file system's
    // text when the chunk could not be written.
    Status<QString> storeChunkLocked(const CommPacketHead& head, QByteArrayView chunk);
    void resetSessionLocked(bool discardPartialFile);

    LogFn log_;
    LogFn warn_;
    DeliverFn deliver_;
    std::shared_ptr<ReceivedFileStore> files_;

    mutable std::mutex lock;
    ReceiveSession session_;
};

} // namespace orvane
