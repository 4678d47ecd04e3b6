#include "serial/SerialPortTracking.h"

namespace orvane::SerialPortTracking {

qint64 wholeSecondsAtLeastOne(qint64 remainingMs) {
    return std::max<qint64>(1, remainingMs / 1000);
}

SerialStatus status(const StatusFacts& f) {
    using Reason = SerialClosedReason;
    if (f.live) {
        return SerialStatus::live(f.portLabel, f.baudRate);
    }
    if (f.otherLinkChosen) {
        return SerialStatus::closed(Reason::otherLinkChosen);
    }
    if (!f.userWantsConnection) {
        return closedStatus(f.selectedPath, f.pathExists);
    }
    if (!f.connectHint.isEmpty()) {
        return SerialStatus::showingHint(f.connectHint);
    }
    if (f.reconnecting) {
        return SerialStatus::closed(Reason::recovering, f.selectedPath);
    }
    if (f.missing) {
        return SerialStatus::closed(Reason::deviceMissing, f.selectedPath);
    }
    if (f.coolingSeconds && !f.selectedPath.isEmpty()) {
        return SerialStatus::reconnecting(*f.coolingSeconds, f.selectedPath);
    }
    if (f.selectedPath.isEmpty()) {
        return SerialStatus::closed(Reason::noPortSelected);
    }
    if (!f.pathExists) {
        return SerialStatus::closed(Reason::deviceNotFound);
    }
    return SerialStatus::connecting(f.selectedPath);
}

SerialStatus closedStatus(const QString& selectedPath, bool pathExists) {
    if (selectedPath.isEmpty()) {
        return SerialStatus::closed(SerialClosedReason::noPortSelected);
    }
    return pathExists ? SerialStatus::closed(SerialClosedReason::portClosed, selectedPath)
                      : SerialStatus::closed(SerialClosedReason::deviceNotFound);
}

SerialHint connectHint(const HintFacts& f) {
    if (f.selectedPath.isEmpty()) {
        return SerialHint::choosePort();
    }
    if (f.reachable) {
        return {};
    }
    switch (f.refusal) {
    case OpenRefusal::missing:
        return SerialHint::waitingForReenumeration(f.selectedPath);
    case OpenRefusal::permission:
        return SerialHint::noPermission(f.selectedPath);
    case OpenRefusal::none:
    case OpenRefusal::other:
        break;
    }
    if (f.occupier && !f.occupier->isEmpty()) {
        return SerialHint::busy(*f.occupier, f.selectedPath);
    }
    return SerialHint::cannotOpen(f.selectedPath);
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
