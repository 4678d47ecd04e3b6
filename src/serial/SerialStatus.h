#pragma once

#include "common/DefaultBaudRate.h"
#include "serial/SerialHint.h"
#include "serial/SerialStatusPhase.h"

#include <QString>
#include <QtGlobal>

namespace orvane {

// Why a serial link that is not live, connecting or waiting to reconnect stands closed.
enum class SerialClosedReason {
    noPortSelected,
    portClosed,      // disconnected while its path exists
    deviceNotFound,  // disconnected while its path is gone
    deviceMissing,   // the selected device is absent (the path is named)
    otherLinkChosen, // the user chose the Bluetooth link
    recovering,      // the session waits inside its read loop for the device to return
    hintShown,       // the connect hint says it all
};

// The serial link's one-line status as a value; SerialStatusText makes the words.
struct SerialStatus {
    SerialStatusPhase phase = SerialStatusPhase::closed;
    SerialClosedReason closedReason = SerialClosedReason::noPortSelected;
    QString path;                      // the selected path
    QString label;                     // the live port's label
    qint64 baudRate = defaultBaudRate; // the live port's speed
    qint64 reconnectSeconds = 0;       // whole seconds left of the reconnect wait
    SerialHint hint;                   // with hintShown

    static SerialStatus live(const QString& label, qint64 baudRate) {
        SerialStatus s;
        s.phase = SerialStatusPhase::live;
        s.label = label;
        s.baudRate = baudRate;
        return s;
    }
    static SerialStatus connecting(const QString& path) {
        SerialStatus s;
        s.phase = SerialStatusPhase::connecting;
        s.path = path;
        return s;
    }
    static SerialStatus reconnecting(qint64 seconds, const QString& path) {
        SerialStatus s;
        s.phase = SerialStatusPhase::reconnecting;
        s.reconnectSeconds = seconds;
        s.path = path;
        return s;
    }
    static SerialStatus closed(SerialClosedReason reason, const QString& path = {}) {
        SerialStatus s;
        s.closedReason = reason;
        s.path = path;
        return s;
    }
    static SerialStatus showingHint(const SerialHint& hint) {
        SerialStatus s = closed(SerialClosedReason::hintShown);
        s.hint = hint;
        return s;
    }

    friend bool operator==(const SerialStatus&, const SerialStatus&) = default;
};

} // namespace orvane
