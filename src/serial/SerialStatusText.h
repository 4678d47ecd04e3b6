#pragma once

#include "serial/SerialHint.h"
#include "serial/SerialStatus.h"

#include <QString>

namespace orvane {

// The words for the serial link's status line and connect hint, made here only and never
// read back. They are the program's own (not the system's), so they read the same in
// every locale.
namespace SerialStatusText {

// "<label> · <baud> bps · open", "connecting · <path>", "reconnecting · <s>s · <path>",
// "closed", "closed · <path>", "closed · 设备未找到[ · <path>]", "closed · 使用蓝牙",
// "<path> · 恢复连接…", or the hint's own text.
QString status(const SerialStatus& status);

// Empty for no hint.
QString hint(const SerialHint& hint);

} // namespace SerialStatusText

} // namespace orvane
