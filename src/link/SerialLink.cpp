#include "link/SerialLink.h"

namespace orvane {

SerialLink::SerialLink(SerialService& service, LinkFrameRouter& router)
    : service_(service) {
    // The router, not this link: the service may still drain a last batch while the owner
    // takes the links down.
    service_.setFrameHandler([router = &router](const QByteArray& frame) {
        return router->handleLocked(LinkKind::serial, frame);
    });
}

void SerialLink::send(QByteArray frame, std::optional<QString> label, SendCompletion completion) {
    service_.writeFrameDataAsync(std::move(frame), std::move(label), std::move(completion));
}

Link::SendResult SerialLink::sendAndWait(QByteArray frame, std::optional<QString> label) {
    return service_.writeFrameDataAndWait(std::move(frame), std::move(label));
}

LinkState SerialLink::state() const {
    if (service_.isConnected()) {
        return {LinkPhase::live};
    }
    switch (service_.statusPhase()) {
    case SerialStatusPhase::connecting:
        return {LinkPhase::connecting};
    case SerialStatusPhase::reconnecting:
        return {LinkPhase::reconnecting};
    case SerialStatusPhase::closed:
    case SerialStatusPhase::live: // the flags have not caught up yet
        break;
    }
    return {LinkPhase::closed};
}

} // namespace orvane
