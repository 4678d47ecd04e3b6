#pragma once

#include "apps/orvane-cli/CliCommand.h"
#include "serial/SerialPortDiscovery.h"

namespace orvane {

// `orvane-cli ports [--json]`: every candidate serial port with its label, whether it can
// be opened and, when not, which program holds it.
CliCommand portsCommand();

// Port discovery over the serial device nodes (ttyACM*, ttyUSB*) in `directory`.
SerialPortDiscovery portDiscoveryIn(const QString& directory);

} // namespace orvane
