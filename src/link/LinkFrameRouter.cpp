#include "link/LinkFrameRouter.h"

#include <chrono>

namespace orvane {

LinkFrameRouter::LinkFrameRouter(std::shared_ptr<const SerialProtocolRouter> router,
                                 EchoCallback onEcho)
    : router_(std::move(router))
    , onEcho_(std::move(onEcho))
    , queue_(std::make_shared<WorkQueue>(QString::fromLatin1(queueName))) {
    Q_ASSERT(router_);
}

LinkFrameRouter::~LinkFrameRouter() {
    queue_->stop();
}

QList<QByteArray> LinkFrameRouter::handleLocked(LinkKind source, const QByteArray& frame) {
    Q_ASSERT_X(queue_->isCurrentThread(), "LinkFrameRouter", "must run on the protocol queue");
    auto routed = router_->route(frame);
    if (routed.probe && onEcho_) {
        onEcho_(source);
    }
    return std::move(routed.replies);
}

void LinkFrameRouter::receive(Link& source, QByteArray frame, std::optional<QString> replyLabel) {
    queue_->post([this, &source, frame = std::move(frame), label = std::move(replyLabel)] {
        for (QByteArray& reply : handleLocked(source.kind(), frame)) {
            source.send(std::move(reply), label, {});
        }
    });
}

void LinkFrameRouter::flush() {
    Q_ASSERT(!queue_->isCurrentThread());
    // A handler is bounded by its own time-outs; this only keeps a wedged one from
    // hanging the caller for good.
    (void)queue_->runAndWait([] {}, std::chrono::seconds(30));
}

} // namespace orvane
