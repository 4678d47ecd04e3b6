#include "trans/SerialProtocolRouter.h"

#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"

namespace orvane {

SerialProtocolRouter::SerialProtocolRouter(std::shared_ptr<TransHandler> transHandler,
                                           std::shared_ptr<PeripheralHandler> peripheralHandler,
                                           std::weak_ptr<TransSender> transSender)
    : transHandler_(std::move(transHandler))
    , peripheralHandler_(std::move(peripheralHandler))
    , transSender_(std::move(transSender)) {
    Q_ASSERT(transHandler_ && peripheralHandler_);
}

SerialProtocolRouter::Routed SerialProtocolRouter::route(const QByteArray& frame) const {
    auto decoded = ProtocolWire::validateFrameDetailed(frame);
    if (!decoded) {
        return {};
    }
    const WireHeader& header = decoded->header;
    switch (header.channel) {
    case FrameChannel::peripheral:
        if (header.type == FrameType::PERIPHERAL_ECHO) {
            // Exactly the probe, should the caller's buffer run on past it.
            const QByteArray probe =
                frame.first(qsizetype(header.len) + ProtocolWire::frameOverhead);
            return {peripheralHandler_->handleEcho(probe, header, decoded->payload), true};
        }
        return {};
    case FrameChannel::trans:
        if (const auto sender = transSender_.lock();
            sender && sender->consumeFrame(header, decoded->payload)) {
            return {};
        }
        return {transHandler_->handleFrame(header, decoded->payload)};
    default:
        return {};
    }
}

} // namespace orvane
