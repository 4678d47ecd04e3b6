#pragma once

#include "EchoProber.h"
#include "PtyLink.h"
#include "PushItem.h"
#include "TransPusher.h"
#include "TransReceiver.h"

#include <QByteArray>
#include <QObject>
#include <QString>

namespace orvane::devsim {

class EventPrinter;

// The simulated KVM device: the cable (PtyLink), the liveness probe (EchoProber), the
// receiving end of the client's transfers (TransReceiver) and the pushing end
// (TransPusher). It cuts the client's bytes into frames and routes them:
//
//   channel 0x03 PERIPHERAL_ECHO  -> EchoProber    (the client echoing our probe)
//   channel 0x06 GENERAL_REPLY    -> TransPusher   (the client answering our push)
//   channel 0x06 anything else    -> TransReceiver (the client pushing to us)
//
// It also injects the faults a real cable and device show: line noise, a damaged chunk,
// a lost reply, silence, unplug and replug.
class Device : public QObject {
    Q_OBJECT

public:
    struct Options {
        QString linkPath;
        int probeIntervalMs = 1000;
        quint32 bufferSize = 0x2840;
        int chunkSize = 10240;
        int replyTimeoutMs = 2000;
        QString saveDir;
    };

    Device(const Options& options, EventPrinter& events, QObject* parent = nullptr);

    bool plug();
    void unplug();
    // Queued items go out once the client answers probes and is not sending to us.
    void push(PushItem item);
    void sendNoise(int count);
    void dropNextReply() { dropNextReply_ = true; }
    void damageNextChunk() { pusher_.damageNextChunk(); }
    void setSilent(bool silent) { prober_.setSilent(silent); }

private:
    void bytesReceived(const QByteArray& bytes);
    void frameReceived(const QByteArray& frame);
    void writeFrame(const QByteArray& frame);
    void maybeStartPush();

    EventPrinter& events_;
    QString linkPath_;
    PtyLink link_;
    EchoProber prober_;
    TransReceiver receiver_;
    TransPusher pusher_;
    QByteArray rxBuffer_;
    bool dropNextReply_ = false;
};

} // namespace orvane::devsim
