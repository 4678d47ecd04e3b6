#include "EchoProber.h"

#include "EventPrinter.h"
#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"
#include "protocol/TransWire.h"

#include <QJsonObject>

namespace orvane::devsim {

namespace {

// PERIPHERAL_ECHO payload: TLV type u16, length u32, value.
QByteArray probePayload() {
    const QByteArray value("devsim\0", 7);
    QByteArray payload(6, '\0');
    payload[0] = char(FrameType::PERIPHERAL_ECHO & 0xFF);
    payload[1] = char(FrameType::PERIPHERAL_ECHO >> 8);
    TransWire::storeLEUInt32(payload, 2, quint32(value.size()));
    return payload + value;
}

} // namespace

EchoProber::EchoProber(EventPrinter& events, FrameWriter writeFrame, int intervalMs,
                       QObject* parent)
    : QObject(parent)
    , events_(events)
    , writeFrame_(std::move(writeFrame))
    , intervalMs_(intervalMs) {
    timer_.setInterval(intervalMs_);
    connect(&timer_, &QTimer::timeout, this, &EchoProber::tick);
    clock_.start();
}

void EchoProber::start() {
    timer_.start();
    tick();
}

void EchoProber::stop() {
    timer_.stop();
    pending_.clear();
    setAnswering(false);
}

void EchoProber::forgetInFlight() {
    pending_.clear();
}

void EchoProber::setSilent(bool silent) {
    silent_ = silent;
    events_.report(QStringLiteral("silence"),
                   silent ? QStringLiteral("probes stopped") : QStringLiteral("probes resumed"),
                   {{QStringLiteral("silent"), silent}});
}

void EchoProber::tick() {
    const qint64 now = clock_.elapsed();
    bool anyMissing = false;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (now - it->second.sentAtMs < 3 * qint64(intervalMs_)) {
            ++it;
            continue;
        }
        ++missing_;
        // Only the first losses are told; a client that is gone would fill the screen.
        if (answering_) {
            events_.report(
                QStringLiteral("probe_missing"),
                QStringLiteral("probe sn=%1 was not echoed back (%2 missing so far)")
                    .arg(it->first)
                    .arg(missing_),
                {{QStringLiteral("sn"), qint64(it->first)}, {QStringLiteral("missing"), missing_}});
        }
        it = pending_.erase(it);
        anyMissing = true;
    }
    if (anyMissing) {
        setAnswering(false);
        emit probeMissing();
    }
    if (silent_) {
        return;
    }
    const quint32 sn = nextSn_++;
    const QByteArray frame = ProtocolWire::buildPacket(
        FrameChannel::peripheral, FrameType::PERIPHERAL_ECHO, sn, probePayload());
    pending_[sn] = {frame, now};
    writeFrame_(frame);
}

void EchoProber::handleEcho(const QByteArray& frame, const WireHeader& header) {
    const auto it = pending_.find(header.sn);
    if (it == pending_.end()) {
        events_.report(QStringLiteral("echo_unexpected"),
                       QStringLiteral("echo sn=%1 answers no probe in flight").arg(header.sn),
                       {{QStringLiteral("sn"), qint64(header.sn)}});
        return;
    }
    const qint64 roundTripMs = clock_.elapsed() - it->second.sentAtMs;
    const bool same = it->second.frame == frame;
    pending_.erase(it);
    if (!same) {
        ++mismatched_;
        events_.report(QStringLiteral("probe_mismatch"),
                       QStringLiteral("probe sn=%1 came back changed: %2")
                           .arg(header.sn)
                           .arg(ProtocolWire::formatHexCompactTruncated(frame, 32, 16)),
                       {{QStringLiteral("sn"), qint64(header.sn)},
                        {QStringLiteral("mismatched"), mismatched_}});
        return;
    }
    ++matched_;
    events_.report(QStringLiteral("probe_matched"),
                   QStringLiteral("probe sn=%1 echoed back unchanged after %2 ms")
                       .arg(header.sn)
                       .arg(roundTripMs),
                   {{QStringLiteral("sn"), qint64(header.sn)},
                    {QStringLiteral("roundTripMs"), roundTripMs},
                    {QStringLiteral("matched"), matched_}});
    setAnswering(true);
}

void EchoProber::setAnswering(bool answering) {
    if (answering == answering_) {
        return;
    }
    answering_ = answering;
    events_.report(QStringLiteral("client_answering"),
                   answering ? QStringLiteral("the client answers probes")
                             : QStringLiteral("the client stopped answering probes"),
                   {{QStringLiteral("answering"), answering}});
    emit clientAnsweringChanged(answering);
}

} // namespace orvane::devsim
