#pragma once

#include "protocol/TransHeader.h"
#include "protocol/WireHeader.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

namespace orvane::devsim {

class EventPrinter;

// The device's receiving end of a transfer the client pushes. It answers every step the
// way the device does: START_REQUEST, FIRST_PACKET, each MIDDLE_PACKET and FINISH_PACKET
// with a GENERAL_REPLY [status, 0x03] (status 0 success, 1 failure), DEVICE_QUERY with a
// DEVICE_QUERY_RSP advertising the buffer size. Every reply reuses the request's channel
// and sn. Chunks must arrive without gaps (a repeated chunk is fine: a sender resends when
// a reply got lost); their checksums and the payload's checksum are verified.
class TransReceiver {
public:
    // `saveDir` empty: received items are verified but not written anywhere.
    TransReceiver(EventPrinter& events, quint32 bufferSize, QString saveDir);

    // The reply frame for one TRANS request from the client.
    QByteArray handle(const WireHeader& header, const QByteArray& payload);
    // Forgets a transfer in progress, as a device does when its cable is pulled.
    void reset();
    // The client is in the middle of a transfer (from START_REQUEST to FINISH_PACKET). A
    // client that went quiet for five seconds has given up.
    bool isReceiving() const {
        return open_ && lastRequest_.isValid() && lastRequest_.elapsed() < 5000;
    }

private:
    bool handleFirst(const QByteArray& payload);
    bool handleMiddle(const QByteArray& payload);
    bool handleFinish();
    bool failed(const QString& reason);
    QString save() const;

    EventPrinter& events_;
    quint32 bufferSize_;
    QString saveDir_;
    bool open_ = false;   // START_REQUEST seen, FINISH_PACKET not yet
    bool active_ = false; // FIRST_PACKET accepted
    QElapsedTimer lastRequest_;
    TransHeader header_;
    QByteArray data_;     // the payload, sized at FIRST_PACKET
    qint64 received_ = 0; // bytes 0 .. received_ - 1 have arrived
    int itemCount_ = 0;
};

} // namespace orvane::devsim
