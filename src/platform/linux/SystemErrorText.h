#pragma once

#include <QString>

#include <cstring>

namespace orvane {

// The system's text for an error number ("Device or resource busy"), thread-safe.
inline QString systemErrorText(int code) {
    char buffer[256];
    // The GNU variant returns a pointer that may or may not be `buffer`.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

} // namespace orvane
