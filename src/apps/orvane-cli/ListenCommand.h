#pragma once

#include "apps/orvane-cli/CliCommand.h"

namespace orvane {

// `orvane-cli listen <port> [--json]`: holds the link until SIGINT or SIGTERM, answering the
// device and reporting every item it pushes on standard output.
CliCommand listenCommand();

} // namespace orvane
