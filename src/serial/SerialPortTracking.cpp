#include "serial/SerialPortTracking.h"

namespace orvane::SerialPortTracking {

QString liveStatusText(const QString& label, qint64 baudRate) {
    return QStringLiteral("%1 · %2 bps · open").arg(label).arg(baudRate);
}

qint64 wholeSecondsAtLeastOne(qint64 remainingMs) {
    return std::max<qint64>(1, remainingMs / 1000);
}

StatusLine statusLine(const StatusFacts& f) {
    using Phase = SerialStatusPhase;
    if (f.live) {
        return {Phase::live, liveStatusText(f.portLabel, f.baudRate)};
    }
    if (f.otherLinkChosen) {
        return {Phase::closed, QStringLiteral("closed · 使用蓝牙")};
    }
    if (!f.userWantsConnection) {
        return {Phase::closed, closedStatusText(f.selectedPath, f.pathExists)};
    }
    if (!f.connectHint.isEmpty()) {
        return {Phase::closed, f.connectHint};
    }
    if (f.reconnecting) {
        return {Phase::closed, f.selectedPath + QStringLiteral(" · 恢复连接…")};
    }
    if (f.missing) {
        return {Phase::closed, QStringLiteral("closed · 设备未找到 · ") + f.selectedPath};
    }
    if (f.coolingSeconds && !f.selectedPath.isEmpty()) {
        return {
            Phase::reconnecting,
            QStringLiteral("reconnecting · %1s · %2").arg(*f.coolingSeconds).arg(f.selectedPath)};
    }
    if (f.selectedPath.isEmpty()) {
        return {Phase::closed, QStringLiteral("closed")};
    }
    if (!f.pathExists) {
        return {Phase::closed, QStringLiteral("closed · 设备未找到")};
    }
    return {Phase::connecting, QStringLiteral("connecting · ") + f.selectedPath};
}

QString closedStatusText(const QString& selectedPath, bool pathExists) {
    if (selectedPath.isEmpty()) {
        return QStringLiteral("closed");
    }
    return pathExists ? QStringLiteral("closed · ") + selectedPath
                      : QStringLiteral("closed · 设备未找到");
}

QString waitingForReenumerationHint(const QString& path) {
    return QStringLiteral("等待 %1 重新枚举…").arg(path);
}

QString waitingForReadyHint(const QString& path) {
    return QStringLiteral("等待 %1 就绪…").arg(path);
}

QString sharedPortHint(const QString& command, const QString& path) {
    return QStringLiteral("%1 也打开了 %2，可能会丢失数据").arg(command, path);
}

QString busyHint(const std::optional<QString>& occupier, const QString& path) {
    const QString holder =
        occupier && !occupier->isEmpty() ? *occupier : QStringLiteral("其他程序");
    return holder + QStringLiteral(" 占用 ") + path;
}

QString connectHint(const HintFacts& f) {
    if (f.selectedPath.isEmpty()) {
        return QStringLiteral("请在设置中选择串口");
    }
    if (f.reachable) {
        return {};
    }
    switch (f.refusal) {
    case OpenRefusal::missing:
        return waitingForReenumerationHint(f.selectedPath);
    case OpenRefusal::permission:
        // Serial devices belong to a group the user must be in; "cannot open" alone would
        // leave them guessing.
        return QStringLiteral("无权限打开 %1（请将当前用户加入 dialout 组后重新登录）")
            .arg(f.selectedPath);
    case OpenRefusal::none:
    case OpenRefusal::other:
        break;
    }
    if (f.occupier && !f.occupier->isEmpty()) {
        return busyHint(f.occupier, f.selectedPath);
    }
    return QStringLiteral("无法打开 ") + f.selectedPath;
}

QList<SerialPortInfo> offeredPorts(const QList<SerialPortInfo>& ports,
                                   const QString& selectedPath) {
    if (selectedPath.isEmpty()) {
        return ports;
    }
    for (const SerialPortInfo& port : ports) {
        if (port.path == selectedPath) {
            return ports;
        }
    }
    QList<SerialPortInfo> result{SerialPortInfo::make(selectedPath, selectedPath)};
    result.append(ports);
    return result;
}

std::optional<QString> pickRenumberedPort(const QList<SerialPortInfo>& ports,
                                          const QString& previousPath,
                                          const CandidateChecks& checks) {
    QString wanted;
    bool listed = false;
    for (const SerialPortInfo& port : ports) {
        if (port.path == previousPath) {
            wanted = port.label;
            listed = true;
            break;
        }
    }
    if (!listed && checks.lookupProductName) {
        wanted = checks.lookupProductName(previousPath).value_or(QString());
    }
    if (wanted.isEmpty() || wanted == previousPath) {
        return std::nullopt;
    }
    std::optional<QString> found;
    int candidates = 0;
    for (const SerialPortInfo& port : ports) {
        if (port.label != wanted || port.path == previousPath) {
            continue;
        }
        if (!checks.pathExists(port.path) || !checks.isFree(port.path)) {
            continue;
        }
        ++candidates;
        found = port.path;
    }
    if (candidates != 1) {
        return std::nullopt;
    }
    return found;
}

} // namespace orvane::SerialPortTracking
