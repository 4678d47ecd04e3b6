#include "serial/SerialLinkWriter.h"

#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"
#include "serial/SerialFrameDispatcher.h"
#include "serial/SerialFrameProcessor.h"

#include <condition_variable>

namespace orvane {

namespace {

bool isMiddlePacket(const QByteArray& frame) {
    const auto header = ProtocolWire::parseHeader(frame);
    return header && header->type == FrameType::MIDDLE_PACKET;
}

SerialWriteError serialClosed() {
    return SerialWriteError(TransError(TransError::Code::serialClosed));
}

} // namespace

SerialLinkWriter::SerialLinkWriter(WorkQueue& ioQueue, SerialConnectionController& controller,
                                   Links links)
    : ioQueue_(ioQueue)
    , controller_(controller)
    , links_(std::move(links)) {}

SerialLinkWriter::WriteResult SerialLinkWriter::writeLocked(const QByteArray& data) {
    Q_ASSERT(ioQueue_.isCurrentThread());
    const auto session = controller_.connectedSessionLocked();
    if (!session || !session->isReadyForWrite()) {
        return fail(serialClosed());
    }
    if (auto written = session->writeAndFlush(data); !written) {
        return fail(SerialWriteError(written.error()));
    }
    return Done{};
}

void SerialLinkWriter::writeAsync(QByteArray data, std::optional<QString> label,
                                  WriteCompletion completion) {
    ioQueue_.post([this, data = std::move(data), label = std::move(label),
                   completion = std::move(completion)] { sendLocked(data, label, completion); });
}

void SerialLinkWriter::sendLocked(const QByteArray& data, const std::optional<QString>& label,
                                  const WriteCompletion& completion) {
    WriteResult result = writeLocked(data);
    if (result) {
        if (label && !isMiddlePacket(data)) {
            links_.logSent(*label + QStringLiteral(" · ") +
                               SerialFrameProcessor::logSummary(SerialFrameProcessor::frameSn(data),
                                                                data.size()),
                           SerialFrameProcessor::hexRow(data));
        }
    } else if (!completion) {
        // Fire-and-forget sends have nobody else to tell.
        links_.log(QStringLiteral("WRN"),
                   QStringLiteral("串口写入失败: ") + result.error().description(), {});
    }
    if (completion) {
        completion(std::move(result));
    }
}

SerialLinkWriter::WriteResult SerialLinkWriter::writeAndWait(QByteArray data,
                                                             std::optional<QString> label,
                                                             std::chrono::milliseconds queueLimit,
                                                             std::chrono::milliseconds writeLimit) {
    Q_ASSERT(!ioQueue_.isCurrentThread());
    struct Pending {
        std::mutex lock;
        std::condition_variable done;
        bool started = false;
        bool withdrawn = false;
        std::optional<WriteResult> result;
    };
    auto pending = std::make_shared<Pending>();
    ioQueue_.post([this, pending, data = std::move(data), label = std::move(label)]() mutable {
        {
            std::lock_guard lock(pending->lock);
            if (pending->withdrawn) {
                return;
            }
            pending->started = true;
            pending->done.notify_all();
        }
        sendLocked(data, label, [pending](WriteResult result) {
            std::lock_guard lock(pending->lock);
            pending->result = std::move(result);
            pending->done.notify_all();
        });
    });
    std::unique_lock lock(pending->lock);
    if (!pending->done.wait_for(lock, queueLimit, [&] { return pending->started; })) {
        pending->withdrawn = true;
        return fail(serialClosed());
    }
    // Under way: the port bounds its own writes well within this limit, so only a write
    // that hangs gets here.
    if (!pending->done.wait_for(lock, writeLimit, [&] { return pending->result.has_value(); })) {
        return fail(
            SerialWriteError(SerialPortError::writeFailed(QStringLiteral("write timed out"))));
    }
    return std::move(*pending->result);
}

void SerialLinkWriter::beginExclusiveSend() {
    {
        std::lock_guard lock(sendGateLock_);
        ++exclusiveSendDepth_;
    }
    ioQueue_.post([this] {
        if (const auto session = controller_.sessionLocked()) {
            SerialFrameDispatcher::adjustBulkDepth(*session, 1);
        }
    });
}

void SerialLinkWriter::endExclusiveSend() {
    ioQueue_.post([this] {
        bool lower = false;
        {
            std::lock_guard lock(sendGateLock_);
            if (exclusiveSendDepth_ >= 1) {
                --exclusiveSendDepth_;
                lower = exclusiveSendDepth_ == 0;
            } else {
                lower = true; // an end without a begin still lets the port leave bulk mode
            }
        }
        if (const auto session = controller_.sessionLocked(); lower && session) {
            SerialFrameDispatcher::adjustBulkDepth(*session, -1);
        }
    });
}

qint64 SerialLinkWriter::exclusiveSendDepth() const {
    std::lock_guard lock(sendGateLock_);
    return exclusiveSendDepth_;
}

} // namespace orvane
