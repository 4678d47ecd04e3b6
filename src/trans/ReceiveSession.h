#pragma once

#include "protocol/TransHeader.h"
#include "trans/PayloadStorage.h"

#include <QtGlobal>

#include <optional>

namespace orvane {

// The incoming transfer that TransHandler is assembling. A default-constructed session is
// the idle one. Copies share the file handle of a file storage.
struct ReceiveSession {
    // A FIRST_PACKET has been accepted.
    bool active = false;
    TransHeader header;
    std::optional<PayloadStorage> storage;
    // One past the largest endIndex seen, capped at the expected payload size. It says how
    // far the sender got, not that every byte before it arrived; the payload checksum
    // catches holes.
    qint64 highestEnd = 0;
    // The request's needResponse byte. Kept for diagnosis; replies do not depend on it.
    quint8 needRsp = 0;
    // The item was delivered, so its file is the user's and must stay.
    bool transferOK = false;
    qint64 middlePacketCount = 0;

    // Buffer length, announced size or expected file size; 0 without storage.
    qint64 expectedPayloadSize() const { return storage ? storage->expectedPayloadSize() : 0; }
};

} // namespace orvane
