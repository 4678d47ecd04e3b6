#pragma once

#include "protocol/PeripheralHandler.h"
#include "trans/TransHandler.h"
#include "trans/TransSender.h"

#include <QByteArray>
#include <QList>

#include <memory>

namespace orvane {

// Decides who answers a frame from the device and returns the reply frames the link must
// write back, in order, on the link the frame came from:
//   channel 0x03  PERIPHERAL_ECHO is echoed by the peripheral handler; other types are
//                 dropped;
//   channel 0x06  goes to the running send first (which then takes every TRANS frame,
//                 whatever its type), to the receiver otherwise;
//   anything else, or a frame that fails validation, is dropped without a word (cutting
//   the frame from the stream already reported it).
//
// Holds the receiver and the echo handler, but only a weak reference to the sender: the
// router never keeps a sender alive, and once it is gone TRANS frames go straight to the
// receiver. Keeps no mutable state, so handle() may run on any thread.
class SerialProtocolRouter {
public:
    SerialProtocolRouter(std::shared_ptr<TransHandler> transHandler,
                         std::shared_ptr<PeripheralHandler> peripheralHandler,
                         std::weak_ptr<TransSender> transSender = {});

    struct Routed {
        QList<QByteArray> replies;
        bool probe = false; // the frame was the device's liveness probe
    };

    QList<QByteArray> handle(const QByteArray& frame) const { return route(frame).replies; }
    // The same, telling whether the frame was the probe: the caller knows which link the
    // frame came over, the handlers do not.
    Routed route(const QByteArray& frame) const;

private:
    const std::shared_ptr<TransHandler> transHandler_;
    const std::shared_ptr<PeripheralHandler> peripheralHandler_;
    const std::weak_ptr<TransSender> transSender_;
};

} // namespace orvane
