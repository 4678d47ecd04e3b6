#pragma once

namespace orvane {

// `orvane-cli scan`: scans for BLE peripherals for `seconds` and lists each one found
// (address, RSSI, name, and the bridge service it advertises, if any) on standard output,
// as text or one JSON object per line; the scan's summary goes to standard error.
// Returns 0, or 1 when Bluetooth is not available (the reason on standard error).
int runScan(bool json, int seconds);

} // namespace orvane
