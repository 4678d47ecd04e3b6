#include "platform/linux/LinuxSerialErrors.h"

#include "common/SystemErrorText.h"

#include <cerrno>

namespace orvane::LinuxSerialErrors {

SerialErrorKind kindOf(int code, Call call) {
    switch (code) {
    case EBUSY:
    case EWOULDBLOCK:
        return call == Call::transfer ? SerialErrorKind::other : SerialErrorKind::busy;
    case ENOENT:
    case ENOTDIR:
        return SerialErrorKind::missing;
    case EACCES:
    case EPERM:
        return SerialErrorKind::permission;
    case ENXIO:
    case ENODEV:
        return call == Call::transfer ? SerialErrorKind::hungUp : SerialErrorKind::notConfigured;
    case EIO:
        return call == Call::transfer ? SerialErrorKind::hungUp : SerialErrorKind::notConfigured;
    case EPIPE:
        return SerialErrorKind::hungUp;
    default:
        return SerialErrorKind::other;
    }
}

SerialSystemError error(int code, Call call) {
    return {code, systemErrorText(code), kindOf(code, call)};
}

} // namespace orvane::LinuxSerialErrors
