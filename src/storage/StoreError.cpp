#include "storage/StoreError.h"

namespace orvane {

QString StoreError::description() const {
    switch (code_) {
    case Code::message:
        return text_;
    case Code::openFailed:
        return QStringLiteral("无法打开数据库");
    case Code::execFailed:
        return QStringLiteral("数据库操作失败");
    }
    Q_UNREACHABLE();
    return {};
}

} // namespace orvane
