#pragma once

#include <QString>

namespace orvane::BLEUUIDs {

// The canonical text of a Bluetooth UUID: upper-case, 36 characters with dashes. A 16-bit
// ("FFF0") or 32-bit short form is expanded over the Bluetooth base UUID, so that the short
// and the long spelling of one UUID compare equal. Text that is no UUID comes back
// upper-cased and otherwise unchanged.
QString canonical(const QString& uuid);

} // namespace orvane::BLEUUIDs
