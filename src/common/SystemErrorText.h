#pragma once

#include <QString>

#include <cstring>

namespace orvane {

// The system's text for an error number, thread-safe. The C library translates it into the
// user's language ("设备或资源忙" under zh_CN), so it is for display and logs only: decide
// by the error number, never by this text.
inline QString systemErrorText(int code) {
    char buffer[256];
    // The GNU variant returns a pointer that may or may not be `buffer`.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

} // namespace orvane
