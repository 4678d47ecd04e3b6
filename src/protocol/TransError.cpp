#include "protocol/TransError.h"

namespace orvane {

QString TransError::errorDescription() const {
    switch (code_) {
    case Code::headChecksumMismatch:
    case Code::headerTooShort:
    case Code::invalidHeaderLength:
    case Code::totalSizeTooSmall:
    case Code::firstReqTooShort:
    case Code::middleHeadTooShort:
        // The user cannot act on which field was wrong; the receiver's log lines carry it.
        return QStringLiteral("TRANS 协议错误");
    case Code::transferFailed:
        return QStringLiteral("传输失败: ") + text_;
    case Code::fileNotFound:
        return QStringLiteral("文件不存在: ") + text_;
    case Code::sendBusy:
        return QStringLiteral("另一个剪贴板传输正在进行中");
    case Code::serialClosed:
        return QStringLiteral("串口未连接");
    case Code::transferTimeout:
        return QStringLiteral("传输超时");
    case Code::transferTooLarge:
        return QStringLiteral("传输内容超过允许大小");
    case Code::emptyPayload:
        return QStringLiteral("空内容");
    case Code::filePathMissing:
        return QStringLiteral("文件路径缺失");
    }
    return QStringLiteral("TRANS 协议错误");
}

} // namespace orvane
