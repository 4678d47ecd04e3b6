#pragma once

#include "common/DefaultBaudRate.h"
#include "serial/SerialHint.h"
#include "serial/SerialPortInfo.h"
#include "serial/SerialStatus.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <memory>

namespace orvane {

class SerialPortSession;

// What the connection controller needs from its owner. Every call comes from the I/O
// queue; the owner moves what it publishes to the main thread.
class SerialConnectionHost {
public:
    // The choices the user makes on the main thread, as the I/O queue may read them.
    struct Selection {
        QString path;
        qint64 baudRate = defaultBaudRate;
        // Another link is chosen: the port stays closed and the status says so.
        bool otherLinkChosen = false;
    };

    virtual ~SerialConnectionHost() = default;

    virtual Selection selection() const = 0;
    // A TRANS receive is running / the depth of exclusive (bulk) sends.
    virtual bool transferReceiveActive() const = 0;
    virtual qint64 exclusiveSendDepth() const = 0;
    // Hot-plug events report every port that comes or goes, so the known port list stays
    // current without enumerating again.
    virtual bool portChangesReported() const = 0;

    // The link's state and status line.
    virtual void publishConnectionState(bool live, const SerialStatus& status) = 0;
    virtual void publishDisconnected(const SerialStatus& status) = 0;
    // Connecting to `path`, unless the port already shows as open.
    virtual void publishConnecting(const QString& path) = 0;
    // The port flag drops ahead of the rest of the state (a forced disconnect).
    virtual void publishPortClosed() = 0;
    virtual void publishPorts(const QList<SerialPortInfo>& ports) = 0;
    virtual void publishConnectHint(const SerialHint& hint) = 0;
    // The selection moved to `path`; `logSummary` (when not empty) goes to the debug log,
    // `migrated` tells the owner to remember the new path.
    virtual void publishSelectedPath(const QString& path, const QString& logSummary,
                                     bool migrated) = 0;
    virtual void publishUserWantsConnection(bool wants) = 0;
    virtual void publishRxByteCount(quint64 count) = 0;

    // A line for the debug log ("SYS", "WRN"), and an error line for the diagnostics log.
    virtual void log(const QString& direction, const QString& summary) = 0;
    virtual void logError(const QString& message) = 0;

    // The session may have frames waiting: drain it on the protocol queue.
    virtual void requestDrain(std::weak_ptr<SerialPortSession> session) = 0;
};

} // namespace orvane
