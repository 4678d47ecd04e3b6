#pragma once

#include "common/WorkQueue.h"
#include "link/Link.h"
#include "link/LinkKind.h"
#include "trans/SerialProtocolRouter.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace orvane {

// Hands every frame the device sends, whichever link it came over, to the protocol
// handlers: one frame at a time on the protocol queue, in the order each link delivered
// them, so that handler calls never overlap. The frame's link travels with it as an
// argument; replies go back on that link, and a probe is reported with it.
class LinkFrameRouter {
public:
    static constexpr char queueName[] = "com.orvane.serial.protocol";

    // The probe arrived over `source`. Called on the protocol queue, before the probe is
    // answered.
    using EchoCallback = std::function<void(LinkKind source)>;

    LinkFrameRouter(std::shared_ptr<const SerialProtocolRouter> router, EchoCallback onEcho);
    // Runs what is still queued, then ends the queue.
    ~LinkFrameRouter();

    LinkFrameRouter(const LinkFrameRouter&) = delete;
    LinkFrameRouter& operator=(const LinkFrameRouter&) = delete;

    // The protocol queue. A link that drains its frames itself (the serial port, whose
    // replies are written by the session as they are produced) does so on it.
    const std::shared_ptr<WorkQueue>& queue() const { return queue_; }

    // Protocol queue only: one frame from `source`, the reply frames for it to write back.
    QList<QByteArray> handleLocked(LinkKind source, const QByteArray& frame);

    // Any thread: one whole frame from `source`, handled on the protocol queue; its replies
    // are sent back over `source` with `replyLabel`. `source` must outlive what it queued
    // here (see flush()).
    void receive(Link& source, QByteArray frame, std::optional<QString> replyLabel);

    // Waits (bounded) until what is queued now has been handled; for a link about to go.
    // Not on the protocol queue.
    void flush();

private:
    const std::shared_ptr<const SerialProtocolRouter> router_;
    const EchoCallback onEcho_;
    const std::shared_ptr<WorkQueue> queue_;
};

} // namespace orvane
