#pragma once

#include <QString>

namespace orvane {

// A desktop notification for a result nobody would otherwise see: orvane-cli started by a
// file manager action or a keyboard shortcut has no terminal to print to.
namespace DesktopNotification {

// Whether nobody watches standard error (it is not a terminal).
bool wanted();

// Shows the notification through the session's notification server and waits (briefly)
// for it to be taken, so that it is not lost when the program ends right after. Without a
// session bus or a server, nothing happens. A `passing` one (a success) is shown with low
// urgency and is not kept in the server's history.
void show(const QString& summary, const QString& body, bool passing = false);

} // namespace DesktopNotification

} // namespace orvane
