#pragma once

namespace orvane {

// What a failed port operation means for the connection logic. The platform layer derives
// it from the error number; the system's text, which the C library translates into the
// user's language, is never consulted for it.
enum class SerialErrorKind {
    other,
    busy,          // another process holds the port
    missing,       // the device node does not exist
    permission,    // the node exists but we may not open it
    hungUp,        // the device went away under an open descriptor
    notConfigured, // the node exists but no device or driver answers behind it
};

} // namespace orvane
