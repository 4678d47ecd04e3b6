#pragma once

#include <QtGlobal>

namespace orvane {

// The 9-byte head of a MIDDLE_PACKET payload (layout in TransWire.h). The indices are
// offsets into the transfer payload, endIndex inclusive; nothing about them is checked
// when parsing, since a peer may send any values.
struct CommPacketHead {
    quint8 flag = 0;
    quint32 startIndex = 0;
    quint32 endIndex = 0;

    friend bool operator==(const CommPacketHead&, const CommPacketHead&) = default;
};

} // namespace orvane
