#pragma once

namespace orvane {

// Where the serial link stands, as the state word its status line leads with: "open" while
// live, "connecting · …", "reconnecting · <n>s · …", and closed for everything else (closed by
// choice, missing, waiting for the device or a hint).
enum class SerialStatusPhase {
    closed,
    connecting,
    reconnecting,
    live,
};

} // namespace orvane
