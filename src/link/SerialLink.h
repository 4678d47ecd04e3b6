#pragma once

#include "link/Link.h"
#include "link/LinkFrameRouter.h"
#include "serial/SerialService.h"

namespace orvane {

// The serial port as a Link. The service drains the port's frames on the router's queue
// and hands them over as the serial link's; its session writes the replies back as they
// are produced. Sends go through the service's I/O queue.
class SerialLink final : public Link {
public:
    // The service must have been given the router's queue as its protocol queue. Both must
    // outlive the link.
    SerialLink(SerialService& service, LinkFrameRouter& router);

    LinkKind kind() const override { return LinkKind::serial; }
    void send(QByteArray frame, std::optional<QString> label, SendCompletion completion) override;
    SendResult sendAndWait(QByteArray frame, std::optional<QString> label) override;
    LinkState state() const override;

    SerialService& service() { return service_; }

private:
    SerialService& service_;
};

} // namespace orvane
