#include "serial/SerialFrameProcessor.h"

#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"

namespace orvane::SerialFrameProcessor {

namespace {

constexpr qsizetype hexMaxBytes = 32;
constexpr qsizetype hexEdgeBytes = 16;

} // namespace

quint32 frameSn(const QByteArray& frame) {
    const auto header = ProtocolWire::parseHeader(frame);
    return header ? header->sn : 0;
}

QString logSummary(quint32 sn, qsizetype length) {
    return QStringLiteral("sn=%1 · %2 B").arg(sn).arg(length);
}

QString hexRow(const QByteArray& frame) {
    return ProtocolWire::formatHexCompactTruncated(frame, hexMaxBytes, hexEdgeBytes);
}

SerialLogEntry logEntry(const QString& direction, const QByteArray& frame) {
    return SerialLogEntry::make(direction, logSummary(frameSn(frame), frame.size()),
                                {hexRow(frame)});
}

FrameProcessResult processFrames(const QList<QByteArray>& frames, const FrameHandler& handler,
                                 const ReplyWriter& writeReply,
                                 const std::function<void()>& onFirstPacket) {
    FrameProcessResult result;
    bool sawMiddle = false;
    for (const QByteArray& frame : frames) {
        bool isMiddle = false;
        quint32 requestSn = 0;
        if (const auto header = ProtocolWire::parseHeader(frame)) {
            requestSn = header->sn;
            switch (header->type) {
            case FrameType::MIDDLE_PACKET:
                isMiddle = true;
                break;
            case FrameType::FIRST_PACKET:
                if (onFirstPacket) {
                    onFirstPacket();
                }
                result.sawFirstPacket = true;
                break;
            case FrameType::FINISH_PACKET:
                result.sawFinish = true;
                break;
            default:
                break;
            }
        }
        if (handler) {
            for (const QByteArray& reply : handler(frame)) {
                writeReply(reply);
                if (!isMiddle) {
                    const auto replyHeader = ProtocolWire::parseHeader(reply);
                    result.logEntries.append(SerialLogEntry::make(
                        QStringLiteral("TX"),
                        logSummary(replyHeader ? replyHeader->sn : requestSn, reply.size()),
                        {hexRow(reply)}));
                }
            }
        }
        if (isMiddle) {
            sawMiddle = true;
            ++result.middleCount;
        } else {
            result.logEntries.append(logEntry(QStringLiteral("RX"), frame));
        }
    }
    result.significant = !sawMiddle || !result.logEntries.isEmpty();
    return result;
}

} // namespace orvane::SerialFrameProcessor
