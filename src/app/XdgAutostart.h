#pragma once

#include "common/Result.h"

#include <QString>

namespace orvane {

// Starting at login through the desktop's autostart directory:
// $XDG_CONFIG_HOME/autostart/orvane.desktop (~/.config/autostart by default), whose Exec
// names this program by its absolute path followed by --autostart, so that the program
// tells a start at login from one the user asked for. Registering writes the entry, unregistering
// deletes it; failures come back as a Chinese text chosen by the errno of the failing call,
// with the system's own text in the log.
namespace XdgAutostart {

// The option the entry passes, without its leading dashes.
QString startOption();
QString entryPath();
// What the user reads when the entry in `directory` could not be written or deleted.
QString failureText(int errorCode, const QString& directory);
Status<QString> setEnabled(bool enabled, const QString& executable);

} // namespace XdgAutostart

} // namespace orvane
