#pragma once

#include "apps/orvane-cli/CliCommand.h"

namespace orvane {

// `orvane-cli status [--json]`: the running orvane's link and what it is doing, or that it
// does not run (exit code 1).
CliCommand statusCommand();

} // namespace orvane
