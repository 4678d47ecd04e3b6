#include "trans/TransSender.h"

#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"
#include "protocol/TransWire.h"

#include <algorithm>
#include <utility>

namespace orvane {

namespace {

constexpr int maxTimeoutResends = 10;
constexpr int maxFailureResends = 3;
constexpr qsizetype defaultChunkSize = 10240;
constexpr quint32 deviceBufferReserve = 64;

// The step whose reply is awaited.
enum class SendState { waitStart, waitQuery, waitFirst, data, waitFinish };

QString stateName(SendState state) {
    switch (state) {
    case SendState::waitStart:
        return QStringLiteral("waitStart");
    case SendState::waitQuery:
        return QStringLiteral("waitQuery");
    case SendState::waitFirst:
        return QStringLiteral("waitFirst");
    case SendState::data:
        return QStringLiteral("data");
    case SendState::waitFinish:
        return QStringLiteral("waitFinish");
    }
    return {};
}

// round(done * 100 / total), halves away from zero, kept within 5..99 so that the start
// and the end of the transfer keep their own values.
int boundedPercent(qint64 done, qint64 total) {
    const qint64 rounded = (done * 200 + total) / (total * 2);
    return int(std::clamp<qint64>(rounded, 5, 99));
}

// The device's buffer size less a margin for its own framing, never above the default.
qsizetype chunkSizeFor(quint32 deviceBuffer) {
    if (deviceBuffer == 0) {
        return defaultChunkSize;
    }
    const quint32 usable =
        deviceBuffer > deviceBufferReserve ? deviceBuffer - deviceBufferReserve : deviceBuffer;
    return qsizetype(std::min<quint32>(usable, quint32(defaultChunkSize)));
}

} // namespace

TransSender::TransSender(LogCallback log, TransSenderTimings timings)
    : log_(std::move(log))
    , timings_(timings) {}

bool TransSender::consumeFrame(const WireHeader& header, const QByteArray& payload) {
    {
        std::lock_guard guard(lock_);
        if (!consuming_) {
            return false;
        }
        rxEvents_.push_back(RxEvent{header.type, header.sn, payload});
    }
    rxReady_.notify_all();
    return true;
}

bool TransSender::isBusy() const {
    std::lock_guard guard(lock_);
    return busy_;
}

void TransSender::finishSend() {
    {
        std::lock_guard guard(lock_);
        consuming_ = false;
        rxEvents_.clear();
    }
    std::lock_guard guard(lock_);
    busy_ = false;
}

Status<TransSender::SendError> TransSender::writeFrame(quint16 type, quint32 sn,
                                                       const QByteArray& payload,
                                                       const FrameWriter& write,
                                                       std::stop_token stop) {
    {
        // The pause is a wait like any other: a cancelled send must not sit it out.
        // Frames queued meanwhile wake the wait but do not end it.
        std::unique_lock guard(lock_);
        rxReady_.wait_for(guard, stop, timings_.writePause, [] { return false; });
    }
    if (stop.stop_requested()) {
        return fail(SendError(SendCancelled{}));
    }
    const QByteArray frame = ProtocolWire::buildPacket(FrameChannel::trans, type, sn, payload);
    if (log_) {
        log_(QStringLiteral("TRANS TX ") + ProtocolWire::typeName(type) +
             QStringLiteral(" payload=") + QString::number(payload.size()) +
             QStringLiteral(" sn=") + QString::number(sn));
    }
    const Status<WriteError> written = write(frame);
    if (!written) {
        if (const auto* transError = std::get_if<TransError>(&written.error())) {
            return fail(SendError(*transError));
        }
        return fail(SendError(TransError::transferFailed(std::get<QString>(written.error()))));
    }
    return Done{};
}

std::optional<TransSender::RxEvent>
TransSender::dequeueEvent(std::chrono::steady_clock::time_point deadline, std::stop_token stop) {
    std::unique_lock guard(lock_);
    if (!rxReady_.wait_until(guard, stop, deadline, [this] { return !rxEvents_.empty(); })) {
        return std::nullopt;
    }
    RxEvent event = std::move(rxEvents_.front());
    rxEvents_.pop_front();
    return event;
}

Status<TransSender::SendError> TransSender::send(const SendJob& job, const FrameWriter& write,
                                                 const ProgressCallback& onProgress,
                                                 std::stop_token stop) {
    {
        std::lock_guard guard(lock_);
        if (busy_) {
            return fail(SendError(TransError(TransError::Code::sendBusy)));
        }
        busy_ = true;
    }
    {
        std::lock_guard guard(lock_);
        consuming_ = true;
        rxEvents_.clear();
    }
    struct Cleanup {
        TransSender* sender;
        ~Cleanup() { sender->finishSend(); }
    } cleanup{this};

    const auto progress = [&onProgress](int percent) {
        if (onProgress) {
            onProgress(percent);
        }
    };

    const QByteArray header = TransWire::buildTransHeader(job.dataType, job.payload, job.fileName);
    // The transfer stream is the header followed by the payload. Chunks start after the
    // header, so they are cut from the payload itself rather than from a joined copy.
    const qint64 total = TransWire::transHeaderLength + job.payload.size();
    qint64 offset = TransWire::transHeaderLength;
    qsizetype chunkSize = defaultChunkSize;
    progress(0);

    // The frame outstanding, as it goes out again on a resend.
    SendState state = SendState::waitStart;
    quint16 currentType = FrameType::START_REQUEST;
    QByteArray currentPayload;
    quint32 currentSn = 0;
    qint64 chunkLength = 0;
    int timeouts = 0;
    int failures = 0;

    struct Accepted {
        quint32 sn;
        SendState state;
    };
    std::optional<Accepted> lastAccepted;

    // A new frame, not a resend: its counters start again.
    const auto sendNew = [&](quint16 type, quint32 sn, QByteArray payload,
                             SendState next) -> Status<SendError> {
        currentType = type;
        currentSn = sn;
        currentPayload = std::move(payload);
        state = next;
        timeouts = 0;
        failures = 0;
        return writeFrame(currentType, currentSn, currentPayload, write, stop);
    };
    const auto sendFinish = [&](quint32 sn) {
        progress(99);
        return sendNew(FrameType::FINISH_PACKET, sn, {}, SendState::waitFinish);
    };
    const auto sendChunk = [&](quint32 sn) -> Status<SendError> {
        if (offset >= total) {
            return sendFinish(sn);
        }
        chunkLength = std::min<qint64>(total - offset, chunkSize);
        const quint32 startIndex = quint32(offset - TransWire::transHeaderLength);
        const quint32 endIndex = startIndex + quint32(chunkLength) - 1;
        progress(boundedPercent(offset + chunkLength, total));
        return sendNew(FrameType::MIDDLE_PACKET, sn,
                       TransWire::buildTransMiddlePayload(
                           QByteArrayView(job.payload).sliced(startIndex, chunkLength), startIndex,
                           endIndex, true),
                       SendState::data);
    };

    if (auto written = sendNew(FrameType::START_REQUEST, 0, {}, SendState::waitStart); !written) {
        return written;
    }
    progress(1);

    auto deadline = std::chrono::steady_clock::now() + timings_.replyWait;
    for (;;) {
        if (stop.stop_requested()) {
            return fail(SendError(SendCancelled{}));
        }
        const std::optional<RxEvent> event = dequeueEvent(deadline, stop);
        if (stop.stop_requested()) {
            return fail(SendError(SendCancelled{}));
        }

        if (!event) {
            ++timeouts;
            if (timeouts == 1 || timeouts == maxTimeoutResends) {
                if (log_) {
                    log_(QStringLiteral("TRANS timeout state=") + stateName(state) +
                         QStringLiteral(" sn=") + QString::number(currentSn) +
                         QStringLiteral(" retry=") + QString::number(timeouts) +
                         QStringLiteral("/") + QString::number(maxTimeoutResends));
                }
            }
            if (timeouts > maxTimeoutResends) {
                if (log_) {
                    log_(QStringLiteral("TRANS 超时放弃 state=") + stateName(state) +
                         QStringLiteral(" sn=") + QString::number(currentSn) +
                         QStringLiteral("（已重试 ") + QString::number(maxTimeoutResends) +
                         QStringLiteral(" 次）"));
                }
                return fail(SendError(TransError(TransError::Code::transferTimeout)));
            }
            if (auto written = writeFrame(currentType, currentSn, currentPayload, write, stop);
                !written) {
                return written;
            }
            deadline = std::chrono::steady_clock::now() + timings_.replyWait;
            continue;
        }

        const bool isReply =
            event->type == FrameType::GENERAL_REPLY && event->payload.size() >= 2 &&
            (quint8(event->payload[1]) == 0x02 || quint8(event->payload[1]) == 0x03);
        const bool isQueryRsp = state == SendState::waitQuery &&
                                event->type == FrameType::DEVICE_QUERY_RSP &&
                                event->payload.size() >= 4;
        if (!isReply && !isQueryRsp) {
            continue; // Not meant for this step; the same deadline holds.
        }

        if (isQueryRsp) {
            chunkSize = chunkSizeFor(TransWire::loadLEUInt32(event->payload, 0));
            lastAccepted = Accepted{event->sn, state};
            if (auto written =
                    sendNew(FrameType::FIRST_PACKET, event->sn + 1,
                            TransWire::buildFirstTransReqPayload(header), SendState::waitFirst);
                !written) {
                return written;
            }
            progress(5);
            progress(boundedPercent(TransWire::transHeaderLength, total));
            deadline = std::chrono::steady_clock::now() + timings_.replyWait;
            continue;
        }

        if (lastAccepted && lastAccepted->sn == event->sn && lastAccepted->state == state) {
            continue; // A repeated acknowledgement must not advance the transfer twice.
        }

        const quint8 status = quint8(event->payload[0]);
        if (status != TransWire::replyStatusSuccess) {
            if (failures >= maxFailureResends) {
                return fail(SendError(TransError::transferFailed(QStringLiteral("rsp_code=") +
                                                                 QString::number(status))));
            }
            // The resend answers the failure reply with its sn; a later silent wait still
            // resends with the frame's own sn.
            if (auto written = writeFrame(currentType, event->sn, currentPayload, write, stop);
                !written) {
                return written;
            }
            ++failures;
            timeouts = 0;
            deadline = std::chrono::steady_clock::now() + timings_.replyWait;
            continue;
        }

        lastAccepted = Accepted{event->sn, state};
        const quint32 next = event->sn + 1;
        Status<SendError> written = Done{};
        switch (state) {
        case SendState::waitStart:
            progress(3);
            // DEVICE_QUERY carries the reply's own sn; silence resends it with one more.
            written = sendNew(FrameType::DEVICE_QUERY, event->sn, {}, SendState::waitQuery);
            currentSn = next;
            break;
        case SendState::waitQuery:
            // Only DEVICE_QUERY_RSP moves on from here.
            continue;
        case SendState::waitFirst:
            written = sendChunk(next);
            break;
        case SendState::data:
            offset += chunkLength;
            written = offset >= total ? sendFinish(next) : sendChunk(next);
            break;
        case SendState::waitFinish:
            if (log_) {
                log_(QStringLiteral("TRANS send complete"));
            }
            progress(100);
            return Done{};
        }
        if (!written) {
            return written;
        }
        deadline = std::chrono::steady_clock::now() + timings_.replyWait;
    }
}

} // namespace orvane
