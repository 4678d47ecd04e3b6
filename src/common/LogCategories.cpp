#include "common/LogCategories.h"

// Debug lines are off unless a rule asks for them; information and errors are on.
Q_LOGGING_CATEGORY(lcSerial, "com.orvane.serial", QtInfoMsg)
Q_LOGGING_CATEGORY(lcBle, "com.orvane.ble", QtInfoMsg)
Q_LOGGING_CATEGORY(lcTrans, "com.orvane.trans", QtInfoMsg)
Q_LOGGING_CATEGORY(lcClipboard, "com.orvane.clipboard", QtInfoMsg)
Q_LOGGING_CATEGORY(lcApp, "com.orvane.app", QtInfoMsg)
