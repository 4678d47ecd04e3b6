#include "TransPusher.h"

#include "EventPrinter.h"
#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"
#include "protocol/TransWire.h"

#include <QJsonObject>

namespace orvane::devsim {

namespace {

constexpr int maxResends = 3;

QString stepName(int step) {
    static const char* const names[] = {"idle", "START_REQUEST", "FIRST_PACKET", "MIDDLE_PACKET",
                                        "FINISH_PACKET"};
    return QString::fromLatin1(names[step]);
}

} // namespace

TransPusher::TransPusher(EventPrinter& events, FrameWriter writeFrame, int chunkSize,
                         int replyTimeoutMs, QObject* parent)
    : QObject(parent)
    , events_(events)
    , writeFrame_(std::move(writeFrame))
    , chunkSize_(chunkSize) {
    replyTimer_.setSingleShot(true);
    replyTimer_.setInterval(replyTimeoutMs);
    connect(&replyTimer_, &QTimer::timeout, this, [this] { retry(QStringLiteral("no reply")); });
}

void TransPusher::enqueue(PushItem item) {
    queue_.push_back(std::move(item));
}

void TransPusher::startNext() {
    if (isBusy() || queue_.empty()) {
        return;
    }
    item_ = std::move(queue_.front());
    queue_.pop_front();
    chunks_ = 0;
    reportedDecile_ = 0;
    clock_.start();
    events_.report(QStringLiteral("push_start"),
                   QStringLiteral("pushing %1 (%2 bytes) to the client")
                       .arg(item_.label)
                       .arg(item_.payload.size()),
                   {{QStringLiteral("item"), item_.label},
                    {QStringLiteral("dataType"), item_.dataType},
                    {QStringLiteral("size"), item_.payload.size()}});
    sendNew(Step::start, {});
}

void TransPusher::abort(const QString& reason) {
    if (isBusy()) {
        end(false, reason);
    }
}

void TransPusher::handleReply(const WireHeader& header, const QByteArray& payload) {
    const bool wellFormed = payload.size() >= 2 && (payload[1] == 0x02 || payload[1] == 0x03);
    if (!isBusy() || header.sn != sn_ || !wellFormed) {
        events_.report(QStringLiteral("reply_ignored"),
                       QStringLiteral("ignored GENERAL_REPLY sn=%1 %2")
                           .arg(header.sn)
                           .arg(ProtocolWire::formatHexCompact(payload)),
                       {{QStringLiteral("sn"), qint64(header.sn)}});
        return;
    }
    replyTimer_.stop();
    if (payload[0] != 0) {
        retry(QStringLiteral("failure reply status %1").arg(quint8(payload[0])));
        return;
    }
    acknowledged();
}

void TransPusher::sendNew(Step step, QByteArray payload) {
    step_ = step;
    framePayload_ = std::move(payload);
    sn_ = nextSn_++;
    resends_ = 0;
    transmit();
}

void TransPusher::sendChunk() {
    chunkLength_ = std::min(chunkSize_, item_.payload.size() - offset_);
    const QByteArrayView chunk = QByteArrayView(item_.payload).sliced(offset_, chunkLength_);
    sendNew(Step::middle, TransWire::buildTransMiddlePayload(
                              chunk, quint32(offset_), quint32(offset_ + chunkLength_ - 1), true));
}

void TransPusher::transmit() {
    static constexpr quint16 types[] = {0, FrameType::START_REQUEST, FrameType::FIRST_PACKET,
                                        FrameType::MIDDLE_PACKET, FrameType::FINISH_PACKET};
    QByteArray payload = framePayload_;
    if (step_ == Step::middle && damageNext_ && chunkLength_ > 0) {
        damageNext_ = false;
        payload[TransWire::middleHeadLength] = char(payload[TransWire::middleHeadLength] ^ 0xFF);
        events_.report(
            QStringLiteral("chunk_damaged"),
            QStringLiteral("chunk at %1 sent with a damaged byte").arg(offset_),
            {{QStringLiteral("startIndex"), offset_}, {QStringLiteral("sn"), qint64(sn_)}});
    }
    writeFrame_(ProtocolWire::buildPacket(FrameChannel::trans, types[int(step_)], sn_, payload));
    replyTimer_.start();
}

void TransPusher::acknowledged() {
    switch (step_) {
    case Step::start:
        sendNew(Step::first,
                QByteArray(1, '\x01') +
                    TransWire::buildTransHeader(item_.dataType, item_.payload, item_.fileName));
        return;
    case Step::first:
        offset_ = 0;
        break;
    case Step::middle: {
        offset_ += chunkLength_;
        ++chunks_;
        const int decile = int(offset_ * 10 / item_.payload.size());
        if (decile > reportedDecile_) {
            reportedDecile_ = decile;
            events_.report(
                QStringLiteral("push_progress"),
                QStringLiteral("%1%: %2 of %3 bytes acknowledged")
                    .arg(decile * 10)
                    .arg(offset_)
                    .arg(item_.payload.size()),
                {{QStringLiteral("percent"), decile * 10}, {QStringLiteral("bytes"), offset_}});
        }
        break;
    }
    case Step::finish:
        end(true, {});
        return;
    case Step::idle:
        return;
    }
    if (offset_ < item_.payload.size()) {
        sendChunk();
    } else {
        sendNew(Step::finish, {});
    }
}

void TransPusher::retry(const QString& why) {
    if (resends_ == maxResends) {
        end(false, QStringLiteral("%1 after %2 resends of %3")
                       .arg(why)
                       .arg(maxResends)
                       .arg(stepName(int(step_))));
        return;
    }
    ++resends_;
    events_.report(QStringLiteral("push_retry"),
                   QStringLiteral("%1 to %2 sn=%3, resending (%4/%5)")
                       .arg(why, stepName(int(step_)))
                       .arg(sn_)
                       .arg(resends_)
                       .arg(maxResends),
                   {{QStringLiteral("reason"), why},
                    {QStringLiteral("step"), stepName(int(step_))},
                    {QStringLiteral("sn"), qint64(sn_)}});
    transmit();
}

void TransPusher::end(bool ok, const QString& reason) {
    replyTimer_.stop();
    step_ = Step::idle;
    const qint64 elapsedUs = clock_.nsecsElapsed() / 1000;
    const qint64 elapsedMs = elapsedUs / 1000;
    const qint64 bytes = item_.payload.size();
    QJsonObject fields{{QStringLiteral("ok"), ok},
                       {QStringLiteral("item"), item_.label},
                       {QStringLiteral("size"), bytes},
                       {QStringLiteral("chunks"), chunks_},
                       {QStringLiteral("elapsedMs"), elapsedMs},
                       {QStringLiteral("elapsedUs"), elapsedUs}};
    if (ok) {
        events_.report(QStringLiteral("push_done"),
                       QStringLiteral("the client accepted %1: %2 bytes in %3 chunks, %4 ms")
                           .arg(item_.label)
                           .arg(bytes)
                           .arg(chunks_)
                           .arg(elapsedMs),
                       fields);
    } else {
        fields.insert(QStringLiteral("reason"), reason);
        events_.report(QStringLiteral("push_done"),
                       QStringLiteral("push of %1 failed: %2").arg(item_.label, reason), fields);
    }
    item_ = {};
    emit pushEnded();
}

} // namespace orvane::devsim
