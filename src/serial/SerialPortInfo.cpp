#include "serial/SerialPortInfo.h"

namespace orvane {

QString SerialPortInfo::displayName() const {
    if (!label.isEmpty() && label != path) {
        return label + QStringLiteral(" · ") + path;
    }
    return path;
}

} // namespace orvane
