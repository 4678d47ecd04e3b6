#include "protocol/PeripheralHandler.h"

#include "protocol/ProtocolWire.h"

namespace orvane {

PeripheralHandler::PeripheralHandler(LogFn log, EchoFn onEcho)
    : log_(std::move(log))
    , onEcho_(std::move(onEcho)) {
    Q_ASSERT(log_);
}

QList<QByteArray> PeripheralHandler::handleEcho(const QByteArray& frame, const WireHeader& header,
                                                QByteArrayView payload) const {
    if (onEcho_) {
        onEcho_();
    }
    if (const auto tlv = ProtocolWire::parseEchoTLV(payload)) {
        log_(QStringLiteral("PERIPHERAL ECHO sn=%1 tlv.type=0x%2 value=%3")
                 .arg(header.sn)
                 .arg(QString::asprintf("%04X", unsigned(tlv->type)))
                 .arg(ProtocolWire::formatTLVValue(*tlv)));
    } else {
        log_(QStringLiteral("PERIPHERAL ECHO sn=%1 tlv parse failed (%2) payload=%3 B hex=[%4]")
                 .arg(header.sn)
                 .arg(ProtocolWire::echoTLVParseFailureReason(payload))
                 .arg(payload.size())
                 .arg(ProtocolWire::formatHexCompact(payload)));
    }
    return {frame};
}

} // namespace orvane
