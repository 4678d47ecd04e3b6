#pragma once

#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"
#include "protocol/TransWire.h"

#include <QByteArray>
#include <QString>

// Frames a device would send on the TRANS channel, and the replies expected from this side.
namespace transframes {

inline QByteArray trans(quint16 type, quint32 sn, const QByteArray& payload = {}) {
    return orvane::ProtocolWire::buildPacket(orvane::FrameChannel::trans, type, sn, payload);
}

inline QByteArray reply(quint32 sn, bool ok) {
    return trans(orvane::FrameType::GENERAL_REPLY, sn, QByteArray::fromHex(ok ? "0003" : "0103"));
}

// A transfer header announcing `size` payload bytes with `checksum`, whatever follows.
inline QByteArray header(quint16 dataType, qint64 size, quint32 checksum,
                         const QString& name = {}) {
    namespace TW = orvane::TransWire;
    QByteArray h = TW::buildTransHeader(dataType, {}, {});
    // Written by hand so that names the builder would refuse or cut still travel.
    const QByteArray nameBytes = name.toUtf8().left(TW::fileNameMaxBytes);
    h.replace(TW::fileNameOffset, nameBytes.size(), nameBytes);
    TW::storeLEUInt32(h, 40, quint32(size + TW::transHeaderLength));
    TW::storeLEUInt32(h, 44, checksum);
    TW::storeLEUInt32(h, 48, orvane::ProtocolWire::mcAddCRC(QByteArrayView(h).first(48)));
    return h;
}

inline QByteArray first(quint32 sn, const QByteArray& transHeader) {
    return trans(orvane::FrameType::FIRST_PACKET, sn,
                 orvane::TransWire::buildFirstTransReqPayload(transHeader));
}

// The FIRST_PACKET that announces exactly `payload`.
inline QByteArray firstFor(quint32 sn, quint16 dataType, const QByteArray& payload,
                           const QString& name = {}) {
    return first(sn,
                 header(dataType, payload.size(), orvane::ProtocolWire::mcAddCRC(payload), name));
}

inline QByteArray middle(quint32 sn, const QByteArray& chunk, quint32 start, quint32 end,
                         bool checked = true) {
    return trans(orvane::FrameType::MIDDLE_PACKET, sn,
                 orvane::TransWire::buildTransMiddlePayload(chunk, start, end, checked));
}

// The chunk of `payload` at [start, start + length), with its true indices.
inline QByteArray chunkOf(quint32 sn, const QByteArray& payload, qsizetype start,
                          qsizetype length) {
    const QByteArray chunk = payload.mid(start, length);
    return middle(sn, chunk, quint32(start), quint32(start + chunk.size() - 1));
}

inline QByteArray finish(quint32 sn) {
    return trans(orvane::FrameType::FINISH_PACKET, sn);
}

} // namespace transframes
