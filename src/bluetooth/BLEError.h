#pragma once

#include <QString>

namespace orvane {

// Why a BLE connection failed or ended, as far as the status line cares. The platform
// adapter classifies by the stack's error codes; `description` is the user's text for the
// stack's error kind (its own text only goes to the log), shown for the kinds that have
// no text of their own.
struct BLEError {
    enum class Kind {
        connectionTimeout, // the peripheral did not answer in time (out of range, asleep)
        pairingRemoved,    // the peer no longer has our keys: the pairing must be redone
        other,
    };
    Kind kind = Kind::other;
    QString description;

    friend bool operator==(const BLEError&, const BLEError&) = default;
};

} // namespace orvane
