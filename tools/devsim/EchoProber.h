#pragma once

#include "protocol/WireHeader.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <map>

namespace orvane::devsim {

class EventPrinter;

// The device's liveness probe. Every interval it sends a PERIPHERAL_ECHO on channel 0x03
// carrying a small TLV (type 0x0014, the text "devsim" and a NUL); the client must send
// each probe back byte for byte. A probe not back within three intervals is missing.
class EchoProber : public QObject {
    Q_OBJECT

public:
    using FrameWriter = std::function<void(const QByteArray&)>;

    EchoProber(EventPrinter& events, FrameWriter writeFrame, int intervalMs,
               QObject* parent = nullptr);

    void start();
    // Forgets the probes in flight, as a fresh cable would.
    void stop();
    // While silent no probe is sent; a client watching for probes should think us gone.
    void setSilent(bool silent);
    bool clientAnswering() const { return answering_; }
    // The probes in flight were thrown away unread; they are not the client's losses.
    void forgetInFlight();

    // A PERIPHERAL_ECHO frame from the client.
    void handleEcho(const QByteArray& frame, const WireHeader& header);

signals:
    // The client began answering probes (true) or a probe went missing (false).
    void clientAnsweringChanged(bool answering);
    // At least one probe was not echoed in time.
    void probeMissing();

private:
    void tick();
    void setAnswering(bool answering);

    struct Pending {
        QByteArray frame;
        qint64 sentAtMs = 0;
    };

    EventPrinter& events_;
    FrameWriter writeFrame_;
    int intervalMs_;
    QTimer timer_;
    QElapsedTimer clock_;
    bool silent_ = false;
    bool answering_ = false;
    quint32 nextSn_ = 1;
    std::map<quint32, Pending> pending_;
    int matched_ = 0;
    int mismatched_ = 0;
    int missing_ = 0;
};

} // namespace orvane::devsim
