#include "serial/SerialConnectionController.h"
#include "serial/SerialPortTracking.h"

// The controller's port tracking: which port is meant, whether it can be reached, following
// a device to a new path, hot-plug reactions, and what the user is told (hint and status).

namespace orvane {

using std::chrono::duration_cast;
using std::chrono::milliseconds;
namespace Tracking = SerialPortTracking;

// ---- Port list and predicates --------------------------------------------------------

bool SerialConnectionController::sessionDescriptorValidLocked() const {
    // The session reports a hung-up or closed descriptor as not ready, which on Linux is
    // what a removed device leaves behind.
    return session_ && session_->isReadyForWrite();
}

bool SerialConnectionController::sessionHoldsSelectedPortLocked() const {
    return session_ && session_->path() == selectedPathLocked_ && sessionDescriptorValidLocked();
}

bool SerialConnectionController::portOpenableLocked(const QString& path) const {
    // A tty may be open in several processes at once (a device simulator keeps its slave
    // side open, a terminal may hold it without locking); whoever holds it only matters when
    // it keeps us from taking it exclusively, so the exclusive open decides.
    return devices_.pathExists(path) && devices_.tryOpenExclusive(path);
}

bool SerialConnectionController::isTargetPortReachableLocked() const {
    return !selectedPathLocked_.isEmpty() &&
           (sessionHoldsSelectedPortLocked() || portOpenableLocked(selectedPathLocked_));
}

bool SerialConnectionController::isSelectedPortMissingLocked() const {
    return !selectedPathLocked_.isEmpty() && !sessionHoldsSelectedPortLocked() &&
           !devices_.pathExists(selectedPathLocked_);
}

bool SerialConnectionController::isLinkLiveLocked() const {
    return ioConnected_ && session_ && session_->isOpen() && session_->readerRunning() &&
           sessionDescriptorValidLocked();
}

// ---- Migration, missing port, hints ------------------------------------------------------

bool SerialConnectionController::attemptPortMigrationIfNeededLocked() {
    const QString previous = selectedPathLocked_;
    if (previous.isEmpty()) {
        return false;
    }
    // A session holding the port answers for it: no enumeration needed to know it is there.
    if (sessionHoldsSelectedPortLocked()) {
        return true;
    }
    const auto list = registry_.currentPortList(true);
    if (isTargetPortReachableLocked()) {
        return true;
    }
    const auto moved = registry_.pickRenumberedPort(list, previous);
    if (!moved || *moved == previous) {
        return false;
    }
    publishSelectedPathLocked(*moved, QStringLiteral("串口重枚举 %1 → %2").arg(previous, *moved),
                              true);
    if (session_) {
        forceDisconnectLocked(SerialDisconnectReason::reEnumerated(previous, *moved), true);
        nextReconnectAllowedAt_.reset();
    }
    return isTargetPortReachableLocked();
}

void SerialConnectionController::publishSelectedPathLocked(const QString& path,
                                                           const QString& logSummary,
                                                           bool migrate) {
    selectedPathLocked_ = path;
    host_.publishSelectedPath(path, logSummary, migrate);
}

void SerialConnectionController::handleSelectedPortMissingLocked() {
    const QString path = selectedPathLocked_;
    if (path.isEmpty() || sessionHoldsSelectedPortLocked() || devices_.pathExists(path)) {
        portMissingChecks_ = 0;
        return;
    }
    ++portMissingChecks_;
    if (session_) {
        forceDisconnectLocked(SerialDisconnectReason::deviceRemoved(), portMissingChecks_ == 1);
    }
    setConnectHintLocked(SerialHint::waitingForReenumeration(path));
    scheduleReconnectLocked(SerialDisconnectReason::deviceRemoved());
}

void SerialConnectionController::maybeAutoSelectPortLocked() {
    const QString path = selectedPathLocked_;
    Tracking::HintFacts facts{path, false, Tracking::OpenRefusal::none, std::nullopt};
    if (!path.isEmpty()) {
        facts.reachable = isTargetPortReachableLocked();
        if (!facts.reachable) {
            if (!devices_.pathExists(path)) {
                facts.refusal = Tracking::OpenRefusal::missing;
            } else if (!devices_.isAccessible(path)) {
                facts.refusal = Tracking::OpenRefusal::permission;
            } else {
                facts.refusal = Tracking::OpenRefusal::other;
                facts.occupier = registry_.occupierHint(path);
            }
        }
    }
    // While connected the only thing worth a hint is a program sharing the port.
    setConnectHintLocked(facts.reachable && sessionHoldsSelectedPortLocked()
                             ? sharedOpenerHint_
                             : Tracking::connectHint(facts));
}

void SerialConnectionController::setConnectHintLocked(const SerialHint& hint) {
    connectHintLocked_ = hint;
    host_.publishConnectHint(hint);
}

void SerialConnectionController::handleHotplugEventLocked(const SerialPortHotplug::Event& event) {
    assertOnQueue();
    if (stopping_) {
        return;
    }
    registry_.invalidate();
    publishPortsLocked(registry_.currentPortList(true));
    if (event.kind == SerialPortHotplug::Event::Kind::detached) {
        const bool concerned =
            event.path == selectedPathLocked_ || (session_ && session_->path() == event.path);
        if (!concerned || sessionDescriptorValidLocked()) {
            return; // unrelated, or the session still has the device open
        }
        if (session_) {
            session_->noteHardwareDisconnect();
        }
        forceDisconnectLocked(SerialDisconnectReason::deviceRemoved(), true);
        nextReconnectAllowedAt_.reset();
        tryConnectSavedPortLocked();
        return;
    }
    if (!selectedPathLocked_.isEmpty() && !isLinkLiveLocked()) {
        attemptPortMigrationIfNeededLocked();
        resetReconnectBackoffLocked();
        tryConnectSavedPortLocked();
    }
}

// ---- Status ------------------------------------------------------------------------------

void SerialConnectionController::syncUIConnectionStateLocked() {
    const QString path = selectedPathLocked_;
    const bool live = ioConnected_ && session_ && session_->isOpen() && session_->readerRunning();
    const bool exists = !path.isEmpty() && devices_.pathExists(path);
    Tracking::StatusFacts facts;
    facts.selectedPath = path;
    facts.otherLinkChosen = host_.selection().otherLinkChosen;
    facts.userWantsConnection = userWantsConnectionLocked_;
    facts.live = live;
    facts.pathExists = exists;
    facts.missing = !path.isEmpty() && !exists && !sessionHoldsSelectedPortLocked();
    facts.reconnecting = session_ && !live && session_->waitingReconnect();
    const auto now = clock_.now();
    if (!live && !facts.missing && !facts.reconnecting && !path.isEmpty() &&
        nextReconnectAllowedAt_ && now < *nextReconnectAllowedAt_) {
        facts.coolingSeconds = Tracking::wholeSecondsAtLeastOne(
            duration_cast<milliseconds>(*nextReconnectAllowedAt_ - now).count());
    }
    facts.connectHint = connectHintLocked_;
    facts.portLabel = registry_.labelFor(path);
    if (session_) {
        facts.baudRate = session_->actualBaudRate();
    }
    host_.publishConnectionState(live, Tracking::status(facts));
}

} // namespace orvane
