#pragma once

#include <QtGlobal>

namespace orvane {

// The decoded 17-byte frame header. Every frame on either link looks like this
// (all integers little-endian):
//
//   offset size field
//        0    2 sync 57 AB
//        2    1 channel   logical channel (0x03 liveness probe, 0x06 TRANS)
//        3    4 sn        sequence number; a reply reuses the sn of what it answers
//        7    4 totalLen  payload length + 6 as written by the builder; never checked on receipt
//       11    2 type      frame type code (FrameType)
//       13    4 len       payload length L, at most 65536
//       17    L payload
//   17 + L    4 checksum  ProtocolWire::mcAddCRC of bytes 0 .. 16 + L
struct WireHeader {
    quint8 channel = 0;
    quint32 sn = 0;
    quint32 totalLen = 0;
    quint16 type = 0;
    quint32 len = 0;

    friend bool operator==(const WireHeader&, const WireHeader&) = default;
};

} // namespace orvane
