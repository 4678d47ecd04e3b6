#pragma once

#include <QLowEnergyController>
#include <QString>

namespace orvane {

// The user's words for why a BLE link failed, from the controller's error kind. Qt's own
// errorString() is English whatever the desktop's language, so it only goes to the log.
QString bleControllerErrorText(QLowEnergyController::Error error);

} // namespace orvane
