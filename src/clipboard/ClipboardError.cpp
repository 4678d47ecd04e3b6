#include "clipboard/ClipboardError.h"

namespace orvane {

QString ClipboardError::description() const {
    switch (code_) {
    case Code::writeFailed:
        return QStringLiteral("写入剪贴板失败: ") + text_;
    case Code::emptyContent:
        return QStringLiteral("剪贴板内容为空");
    case Code::emptyImage:
        return QStringLiteral("图片数据为空");
    }
    Q_UNREACHABLE();
}

} // namespace orvane
