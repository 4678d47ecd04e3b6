#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace orvane {

// The content of a PERIPHERAL_ECHO payload (little-endian):
//   offset 0, 2 bytes: type, always 0x0014
//   offset 2, 4 bytes: length n, 1 ... 40
//   offset 6, n bytes: value; the payload is exactly n + 6 bytes
struct PeripheralTLV {
    quint16 type = 0;
    quint32 length = 0;
    QByteArray value;

    friend bool operator==(const PeripheralTLV&, const PeripheralTLV&) = default;
};

} // namespace orvane
