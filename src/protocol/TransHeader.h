#pragma once

#include <QString>
#include <QtGlobal>

namespace orvane {

// The transfer header that opens every TRANS transfer. On the wire it is exactly 52 bytes,
// all integers little-endian:
//
//   offset size field
//        0    2 headerLength   52 when built here; a peer may announce less (at least 4)
//        2    2 dataType       0 text, 1 image, 2 file
//        4   30 fileName       UTF-8, padded with 0x00; all zero unless dataType is 2.
//                              The builder writes at most 29 bytes so one 0x00 always follows
//       34    2 productID      0x00BF when built here
//       36    2 appID          0x0011 text, 0x0012 image, 0x0013 file
//       38    2 appVer         0 when built here
//       40    4 totalFileSize  payload length + headerLength (the header counts)
//       44    4 mcAddChecksum  ProtocolWire::mcAddCRC of the whole payload, 0 when it is empty
//       48    4 headChecksum   ProtocolWire::mcAddCRC of the first headerLength - 4 bytes
//
// fileName holds the decoded, trimmed text (empty when the bytes were not valid UTF-8).
// The record itself promises nothing: only TransWire::validateTransHeaderWire guarantees
// that headerLength lies in 4..52 and that totalFileSize >= headerLength.
struct TransHeader {
    quint16 headerLength = 0;
    quint16 dataType = 0;
    QString fileName;
    quint16 productID = 0;
    quint16 appID = 0;
    quint16 appVer = 0;
    quint32 totalFileSize = 0;
    quint32 mcAddChecksum = 0;
    quint32 headChecksum = 0;

    // The payload size the header announces. Negative only for a header that would not
    // have passed validation.
    qint64 announcedPayloadSize() const { return qint64(totalFileSize) - qint64(headerLength); }

    friend bool operator==(const TransHeader&, const TransHeader&) = default;
};

} // namespace orvane
