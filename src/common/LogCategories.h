#pragma once

#include <QLoggingCategory>

// One logging category per subsystem, so that QT_LOGGING_RULES (or
// QLoggingCategory::setFilterRules) can quieten one of them, e.g.
// QT_LOGGING_RULES="com.orvane.ble.info=false". Lines on these categories go to standard
// error and serial.log once the diagnostics message handler is installed.
namespace orvane {

inline constexpr char logCategoryPrefix[] = "com.orvane.";

} // namespace orvane

Q_DECLARE_LOGGING_CATEGORY(lcSerial)
Q_DECLARE_LOGGING_CATEGORY(lcBle)
Q_DECLARE_LOGGING_CATEGORY(lcTrans)
Q_DECLARE_LOGGING_CATEGORY(lcClipboard)
Q_DECLARE_LOGGING_CATEGORY(lcApp)
