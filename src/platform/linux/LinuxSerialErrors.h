#pragma once

#include "serial/SerialPortIO.h"

namespace orvane::LinuxSerialErrors {

// Which call failed: the same error number means different things for an open() and for
// a read() or write() on a descriptor that was working.
enum class Call { open, transfer, configure };

// busy: EBUSY/EWOULDBLOCK; missing: ENOENT/ENOTDIR; permission: EACCES/EPERM;
// notConfigured: ENXIO/ENODEV, and EIO from an open() (the node exists, the device behind
// it does not answer); hungUp: EIO/ENODEV/EPIPE from a transfer.
SerialErrorKind kindOf(int code, Call call);

// The error number with its kind and the system's text.
SerialSystemError error(int code, Call call);

} // namespace orvane::LinuxSerialErrors
