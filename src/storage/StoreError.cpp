#include "storage/StoreError.h"

#include <sqlite3.h>

namespace orvane {

bool StoreError::isDamagedFile() const {
    // The low byte of an extended code is its primary code (SQLITE_CORRUPT_INDEX and
    // the like are corruption too).
    const int primary = resultCode_ & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

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
