#pragma once

#include <QtGlobal>

namespace orvane {

// The speed the device's serial port runs at unless the user chose another; also what a
// status line reports while no session says otherwise.
inline constexpr qint64 defaultBaudRate = 2000000;

} // namespace orvane
