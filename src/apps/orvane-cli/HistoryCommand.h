#pragma once

#include "apps/orvane-cli/CliCommand.h"

namespace orvane {

// `orvane-cli history [--json]`: the running orvane's clipboard history, newest first, with
// the ids that `send --entry` takes.
CliCommand historyCommand();

} // namespace orvane
