#pragma once

#include "apps/orvane-cli/CliCommand.h"

namespace orvane {

// `orvane-cli scan [--json] [--seconds N]`: scans for BLE peripherals and lists each one
// found (address, RSSI, name, and the bridge service it advertises, if any) on standard
// output, as text or one JSON object per line; the scan's summary goes to standard error.
// Exits 1 when Bluetooth is not available (the reason on standard error).
CliCommand scanCommand();

} // namespace orvane
