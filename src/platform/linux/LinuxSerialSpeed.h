#pragma once

#include "common/Result.h"
#include "serial/SerialPortIO.h"

#include <QtGlobal>

namespace orvane {

// Arbitrary line speeds through the kernel's termios2 interface. Lives in a translation
// unit of its own because the kernel's terminal headers clash with <termios.h>.
namespace LinuxSerialSpeed {

// Sets input and output speed to `baud`: the standard speed constant when there is one,
// otherwise a custom (BOTHER) speed. Returns the output speed the driver reports afterwards.
Result<qint64, SerialSystemError> setSpeed(int fd, qint64 baud);

// The output speed in force, as the driver reports it.
Result<qint64, SerialSystemError> readSpeed(int fd);

} // namespace LinuxSerialSpeed
} // namespace orvane
