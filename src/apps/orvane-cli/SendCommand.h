#pragma once

#include "apps/orvane-cli/CliCommand.h"

namespace orvane {

// `orvane-cli send <port> (--text T | --file P | --image P) [--wait S] [--json]`: waits for
// the link, sends one item and exits with its result.
CliCommand sendCommand();

} // namespace orvane
