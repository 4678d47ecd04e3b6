#pragma once

#include "protocol/WireHeader.h"

#include <QByteArray>

namespace orvane {

// A frame that passed validation: its header and a copy of its payload.
struct DecodedFrame {
    WireHeader header;
    QByteArray payload;
};

} // namespace orvane
