#include "Device.h"

#include "EventPrinter.h"
#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"

#include <QJsonObject>
#include <QRandomGenerator>

namespace orvane::devsim {

namespace {

// No valid frame is longer; more unparsed bytes than this are noise.
constexpr qsizetype maxRxBuffer =
    2 * (ProtocolWire::maxPayloadLength + ProtocolWire::frameOverhead);

} // namespace

Device::Device(const Options& options, EventPrinter& events, QObject* parent)
    : QObject(parent)
    , events_(events)
    , linkPath_(options.linkPath)
    , link_(options.linkPath)
    , prober_(
          events, [this](const QByteArray& frame) { writeFrame(frame); }, options.probeIntervalMs)
    , receiver_(events, options.bufferSize, options.saveDir)
    , pusher_(
          events, [this](const QByteArray& frame) { writeFrame(frame); }, options.chunkSize,
          options.replyTimeoutMs) {
    connect(&link_, &PtyLink::bytesReceived, this, &Device::bytesReceived);
    connect(&prober_, &EchoProber::clientAnsweringChanged, this, &Device::maybeStartPush);
    connect(&pusher_, &TransPusher::pushEnded, this, &Device::maybeStartPush);
    connect(&prober_, &EchoProber::probeMissing, this, [this] {
        // Nobody is reading: what waits in the line is stale by now. Not during a transfer,
        // whose frames and replies may still be waiting for a slow reader.
        if (!pusher_.isBusy() && !receiver_.isReceiving()) {
            link_.discardUnread();
            prober_.forgetInFlight();
        }
    });
}

bool Device::plug() {
    const auto plugged = link_.plug();
    if (!plugged) {
        events_.report(QStringLiteral("error"), plugged.error(),
                       {{QStringLiteral("reason"), plugged.error()}});
        return false;
    }
    rxBuffer_.clear();
    events_.report(
        QStringLiteral("plugged"),
        QStringLiteral("plugged in: %1 -> %2").arg(linkPath_, link_.slavePath()),
        {{QStringLiteral("link"), linkPath_}, {QStringLiteral("slave"), link_.slavePath()}});
    prober_.start();
    return true;
}

void Device::unplug() {
    if (!link_.isPlugged()) {
        return;
    }
    // In this order: with the client no longer answering and the line gone, ending the
    // running push does not start the next one.
    prober_.stop();
    link_.unplug();
    pusher_.abort(QStringLiteral("unplugged"));
    receiver_.reset();
    events_.report(QStringLiteral("unplugged"), QStringLiteral("unplugged"));
}

void Device::push(PushItem item) {
    pusher_.enqueue(std::move(item));
    maybeStartPush();
}

void Device::sendNoise(int count) {
    QByteArray noise(count, Qt::Uninitialized);
    for (char& byte : noise) {
        // Never the first sync byte: random bytes that happened to read 57 AB with a large
        // length would hold the client's parser waiting, which is not what noise shows.
        do {
            byte = char(QRandomGenerator::global()->bounded(256));
        } while (quint8(byte) == 0x57);
    }
    link_.write(noise);
    events_.report(QStringLiteral("noise_sent"),
                   QStringLiteral("%1 bytes of line noise sent").arg(count),
                   {{QStringLiteral("bytes"), count}});
}

void Device::bytesReceived(const QByteArray& bytes) {
    rxBuffer_.append(bytes);
    QList<FrameIssue> issues;
    while (const auto frame = ProtocolWire::extractFrame(rxBuffer_, issues)) {
        frameReceived(*frame);
        if (!link_.isPlugged()) {
            return;
        }
    }
    for (const FrameIssue& issue : issues) {
        events_.report(QStringLiteral("line_issue"), QStringLiteral("line: ") + issue.message,
                       {{QStringLiteral("message"), issue.message},
                        {QStringLiteral("bytes"), ProtocolWire::formatHexCompactTruncated(
                                                      issue.data.value_or(QByteArray()), 32, 16)}});
    }
    if (rxBuffer_.size() > maxRxBuffer) {
        events_.report(QStringLiteral("line_issue"),
                       QStringLiteral("line: %1 unparsable bytes dropped").arg(rxBuffer_.size()));
        rxBuffer_.clear();
    }
}

void Device::frameReceived(const QByteArray& frame) {
    const auto decoded = ProtocolWire::validateFrameDetailed(frame);
    if (!decoded) {
        return; // extractFrame returns only valid frames
    }
    const WireHeader& header = decoded->header;
    if (header.channel == FrameChannel::peripheral && header.type == FrameType::PERIPHERAL_ECHO) {
        prober_.handleEcho(frame, header);
        maybeStartPush(); // every answered probe is a chance to start what waits
    } else if (header.channel == FrameChannel::trans && header.type == FrameType::GENERAL_REPLY) {
        pusher_.handleReply(header, decoded->payload);
    } else if (header.channel == FrameChannel::trans) {
        const QByteArray reply = receiver_.handle(header, decoded->payload);
        if (dropNextReply_) {
            dropNextReply_ = false;
            events_.report(QStringLiteral("reply_dropped"),
                           QStringLiteral("reply to %1 sn=%2 dropped")
                               .arg(ProtocolWire::typeName(header.type))
                               .arg(header.sn),
                           {{QStringLiteral("sn"), qint64(header.sn)},
                            {QStringLiteral("type"), ProtocolWire::typeName(header.type)}});
        } else {
            writeFrame(reply);
        }
        if (header.type == FrameType::FINISH_PACKET) {
            maybeStartPush();
        }
    } else {
        events_.report(
            QStringLiteral("frame_ignored"),
            QStringLiteral("ignored %1 on channel 0x%2 sn=%3")
                .arg(ProtocolWire::typeName(header.type))
                .arg(header.channel, 2, 16, QLatin1Char('0'))
                .arg(header.sn),
            {{QStringLiteral("channel"), header.channel}, {QStringLiteral("type"), header.type}});
    }
}

void Device::writeFrame(const QByteArray& frame) {
    link_.write(frame);
}

void Device::maybeStartPush() {
    // A client that is sending to us takes every TRANS frame as part of its own transfer,
    // so a push has to wait until its transfer is over.
    if (link_.isPlugged() && prober_.clientAnswering() && !receiver_.isReceiving()) {
        pusher_.startNext();
    }
}

} // namespace orvane::devsim
