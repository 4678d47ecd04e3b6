#pragma once

#include "apps/orvane-cli/CliCommand.h"

namespace orvane {

// `orvane-cli show`: shows the running orvane's window, or starts orvane when it does not
// run, so that one keyboard shortcut does both.
CliCommand showCommand();

} // namespace orvane
