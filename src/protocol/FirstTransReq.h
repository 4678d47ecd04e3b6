#pragma once

#include "protocol/TransHeader.h"

#include <QtGlobal>

namespace orvane {

// The decoded FIRST_PACKET payload: the needResponse byte and the validated transfer
// header that follows it (layout in TransWire.h).
struct FirstTransReq {
    quint8 needResponse = 0;
    TransHeader header;

    friend bool operator==(const FirstTransReq&, const FirstTransReq&) = default;
};

} // namespace orvane
