#pragma once

#include "common/Result.h"

#include <QString>

namespace orvane {

// Starting at login through the desktop's autostart directory:
// $XDG_CONFIG_HOME/autostart/orvane.desktop (~/.config/autostart by default), whose Exec
// names this program by its absolute path followed by --autostart, so that the program
// tells a start at login from one the user asked for. Registering writes the entry, unregistering
// deletes it; failures come back as the user-facing text of the file system's error.
namespace XdgAutostart {

// The option the entry passes, without its leading dashes.
QString startOption();
QString entryPath();
Status<QString> setEnabled(bool enabled, const QString& executable);

} // namespace XdgAutostart

} // namespace orvane
