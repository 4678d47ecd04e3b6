#pragma once

#include "apps/orvane-cli/HeadlessClient.h"

#include <QString>

#include <memory>

namespace orvane {

// What listen and send tell the user about the link on standard error.
namespace LinkReport {

// Follows the client's link state (status, connection, hints, warnings) as the window
// would show it; the protocol log lines, the client's and the diagnostics log's, only when
// `verbose`.
void follow(HeadlessClient& client, bool verbose);

// When `port` does not exist (yet), one line saying so and naming the ports that do exist
// in `deviceDirectory`, followed by `then` (what the command does about it).
void noteIfMissing(const QString& port, const QString& deviceDirectory, const QString& then);

// With a BLE `address`, has the client carry its frames over that bridge instead of a port,
// reporting its status and warnings like the serial link's; nothing without one.
void attachBle(HeadlessClient& client, const QString& address);

} // namespace LinkReport

} // namespace orvane
