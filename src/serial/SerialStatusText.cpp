#include "serial/SerialStatusText.h"

namespace orvane::SerialStatusText {

namespace {

QString closedText(const SerialStatus& s) {
    switch (s.closedReason) {
    case SerialClosedReason::portClosed:
        return QStringLiteral("closed · ") + s.path;
    case SerialClosedReason::deviceNotFound:
        return QStringLiteral("closed · 设备未找到");
    case SerialClosedReason::deviceMissing:
        return QStringLiteral("closed · 设备未找到 · ") + s.path;
    case SerialClosedReason::otherLinkChosen:
        return QStringLiteral("closed · 使用蓝牙");
    case SerialClosedReason::recovering:
        return s.path + QStringLiteral(" · 恢复连接…");
    case SerialClosedReason::hintShown:
        return hint(s.hint);
    case SerialClosedReason::noPortSelected:
        break;
    }
    return QStringLiteral("closed");
}

} // namespace

QString status(const SerialStatus& s) {
    switch (s.phase) {
    case SerialStatusPhase::live:
        return QStringLiteral("%1 · %2 bps · open").arg(s.label).arg(s.baudRate);
    case SerialStatusPhase::connecting:
        return QStringLiteral("connecting · ") + s.path;
    case SerialStatusPhase::reconnecting:
        return QStringLiteral("reconnecting · %1s · %2").arg(s.reconnectSeconds).arg(s.path);
    case SerialStatusPhase::closed:
        break;
    }
    return closedText(s);
}

QString hint(const SerialHint& h) {
    switch (h.kind) {
    case SerialHintKind::choosePort:
        return QStringLiteral("请在设置中选择串口");
    case SerialHintKind::waitingForReenumeration:
        return QStringLiteral("等待 %1 重新枚举…").arg(h.path);
    case SerialHintKind::waitingForReady:
        return QStringLiteral("等待 %1 就绪…").arg(h.path);
    case SerialHintKind::noPermission:
        // Serial devices belong to a group the user must be in; "cannot open" alone would
        // leave them guessing.
        return QStringLiteral("无权限打开 %1（请将当前用户加入 dialout 组后重新登录）").arg(h.path);
    case SerialHintKind::busy:
        return (h.program.isEmpty() ? QStringLiteral("其他程序") : h.program) +
               QStringLiteral(" 占用 ") + h.path;
    case SerialHintKind::cannotOpen:
        return QStringLiteral("无法打开 ") + h.path;
    case SerialHintKind::sharedPort:
        return QStringLiteral("%1 也打开了 %2，可能会丢失数据").arg(h.program, h.path);
    case SerialHintKind::none:
        break;
    }
    return {};
}

} // namespace orvane::SerialStatusText
