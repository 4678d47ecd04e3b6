#pragma once

#include "common/Result.h"

#include <QString>

namespace orvane {

// Starting at login through the desktop's autostart directory:
// $XDG_CONFIG_HOME/autostart/orvane.desktop (~/.config/autostart by default), whose Exec
// names this program by its absolute path. Registering writes the entry, unregistering
// deletes it; failures come back as the user-facing text of the file system's error.
namespace XdgAutostart {

QString entryPath();
Status<QString> setEnabled(bool enabled, const QString& executable);

} // namespace XdgAutostart

} // namespace orvane
