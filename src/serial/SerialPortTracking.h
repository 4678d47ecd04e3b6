#pragma once

#include "serial/SerialHint.h"
#include "serial/SerialPortInfo.h"
#include "serial/SerialStatus.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>

namespace orvane {

// The rules that turn the serial service's view of its port into what the user is told: the
// one-line status and the connect hint (as values, worded by SerialStatusText), the offered port
// list, and which port a device that re-enumerated under a new path is now. Pure functions; the
// service gathers the facts.
namespace SerialPortTracking {

struct StatusFacts {
    QString selectedPath;
    // The serial link is closed by choice: another link is the chosen one, or the user
    // disconnected. Nothing is being attempted then, whatever the port's state.
    bool otherLinkChosen = false;
    bool userWantsConnection = true;
    bool live = false;         // connected with an open session whose read loop runs
    bool missing = false;      // selected path absent and not held by the session
    bool reconnecting = false; // the session's read loop is waiting for the device
    bool pathExists = false;
    // Whole seconds left of the reconnect wait, when one is running (at least 1).
    std::optional<qint64> coolingSeconds;
    SerialHint connectHint;
    QString portLabel;                 // label of the selected port, or its path
    qint64 baudRate = defaultBaudRate; // speed in force, or the default without a session
};

// The first rule that applies: live, closed by choice, a hint, recovering, missing, cooling down,
// no path, path absent, connecting.
SerialStatus status(const StatusFacts& facts);

// Whole seconds (at least 1) for a wait of `remainingMs`.
qint64 wholeSecondsAtLeastOne(qint64 remainingMs);

// What the status is after a disconnect: no port selected, the port closed, or the device
// not found.
SerialStatus closedStatus(const QString& selectedPath, bool pathExists);

enum class OpenRefusal {
    none,       // the port can be opened (or no path is selected)
    missing,    // the path does not exist
    permission, // the system refused us access
    other,      // held by someone, or refused for another reason
};

struct HintFacts {
    QString selectedPath;
    bool reachable = false;
    OpenRefusal refusal = OpenRefusal::none;
    std::optional<QString> occupier;
};

// The hint shown while not connected; none when the port is reachable.
SerialHint connectHint(const HintFacts& facts);

// The list offered for selection: a selected path that is absent from `ports` is put
// first, labelled with its own path, so the selection stays visible while unplugged.
QList<SerialPortInfo> offeredPorts(const QList<SerialPortInfo>& ports, const QString& selectedPath);

struct CandidateChecks {
    std::function<bool(const QString&)> pathExists;
    std::function<bool(const QString&)> isFree; // no other holder, exclusive open works
    std::function<std::optional<QString>(const QString&)> lookupProductName;
};

// The port that the device behind `previousPath` most likely is now: the only other
// existing, free port with the same label. None when there is no label to go by, or when
// zero or several ports qualify (two identical adapters never cause a guess).
std::optional<QString> pickRenumberedPort(const QList<SerialPortInfo>& ports,
                                          const QString& previousPath,
                                          const CandidateChecks& checks);

} // namespace SerialPortTracking
} // namespace orvane
