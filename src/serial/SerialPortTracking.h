#pragma once

#include "serial/SerialPortInfo.h"
#include "serial/SerialStatusPhase.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>

namespace orvane {

// The rules that turn the serial service's view of its port into what the user reads: the
// one-line status, the connect hint, the offered port list, and which port a device that
// re-enumerated under a new path is now. Pure functions; the service gathers the facts.
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
    QString connectHint;
    QString portLabel;         // label of the selected port, or its path
    qint64 baudRate = 2000000; // speed in force, or the default without a session
};

struct StatusLine {
    SerialStatusPhase phase = SerialStatusPhase::closed;
    QString text;
};

// The first rule that applies: live, closed by choice, a hint, recovering, missing, cooling down,
// no path, path absent, connecting.
StatusLine statusLine(const StatusFacts& facts);
inline QString statusText(const StatusFacts& facts) {
    return statusLine(facts).text;
}

// "<label> · <baud> bps · open"
QString liveStatusText(const QString& label, qint64 baudRate);

// Whole seconds (at least 1) for a wait of `remainingMs`.
qint64 wholeSecondsAtLeastOne(qint64 remainingMs);

// What the status reads after a disconnect: "closed", "closed · <path>" or
// "closed · 设备未找到".
QString closedStatusText(const QString& selectedPath, bool pathExists);

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

// The hint shown while not connected; empty when the port is reachable.
QString connectHint(const HintFacts& facts);

QString waitingForReenumerationHint(const QString& path);
QString waitingForReadyHint(const QString& path);
// "<occupier> 占用 <path>", with "其他程序" when nobody can be named.
// "<command> 也打开了 <path>，可能会丢失数据"
QString sharedPortHint(const QString& command, const QString& path);
QString busyHint(const std::optional<QString>& occupier, const QString& path);

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
