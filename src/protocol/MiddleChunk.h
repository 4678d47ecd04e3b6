#pragma once

#include <QByteArrayView>
#include <QtGlobal>

namespace orvane {

// The data part of a MIDDLE_PACKET payload, split off by TransWire::splitMiddleChunk.
// `data` views the caller's payload buffer and is valid only as long as that buffer.
struct MiddleChunk {
    QByteArrayView data;
    // Whether the packet asked for a checksum test (flag 0x02). Without it the checksums
    // are both 0 and the chunk is accepted as it is.
    bool checksumChecked = false;
    quint32 calculatedChecksum = 0;
    quint32 receivedChecksum = 0;

    bool checksumOk() const { return !checksumChecked || calculatedChecksum == receivedChecksum; }
};

} // namespace orvane
