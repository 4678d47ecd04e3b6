#include "serial/SerialPortError.h"

namespace orvane {

QString SerialPortError::description() const {
    switch (code_) {
    case Code::openFailed:
        return QStringLiteral("打开失败: ") + message_;
    case Code::configureFailed:
        return QStringLiteral("配置失败: ") + message_;
    case Code::writeFailed:
        return QStringLiteral("写入失败: ") + message_;
    case Code::notOpen:
        return QStringLiteral("串口未打开");
    }
    return {};
}

} // namespace orvane
