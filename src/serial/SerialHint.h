#pragma once

#include <QString>

namespace orvane {

// Why the serial link cannot (or can only partly) do its work, as the user is told it. A
// value: SerialStatusText makes the words, nothing parses them back.
enum class SerialHintKind {
    none,
    choosePort,              // no port selected
    waitingForReenumeration, // the selected path is gone, the device may come back
    waitingForReady,         // the path is back but not yet ours to open
    noPermission,            // the system refuses us access to the port
    busy,                    // another program holds the port (`program`, when known)
    cannotOpen,              // the port exists but refuses us, holder unknown
    sharedPort,              // `program` also has the connected port open
};

struct SerialHint {
    SerialHintKind kind = SerialHintKind::none;
    QString path;
    // Who holds or shares the port, as the system describes it; empty when unknown.
    QString program;

    bool isEmpty() const { return kind == SerialHintKind::none; }

    static SerialHint choosePort() { return {SerialHintKind::choosePort, {}, {}}; }
    static SerialHint waitingForReenumeration(const QString& path) {
        return {SerialHintKind::waitingForReenumeration, path, {}};
    }
    static SerialHint waitingForReady(const QString& path) {
        return {SerialHintKind::waitingForReady, path, {}};
    }
    static SerialHint noPermission(const QString& path) {
        return {SerialHintKind::noPermission, path, {}};
    }
    static SerialHint busy(const QString& program, const QString& path) {
        return {SerialHintKind::busy, path, program};
    }
    static SerialHint cannotOpen(const QString& path) {
        return {SerialHintKind::cannotOpen, path, {}};
    }
    static SerialHint sharedPort(const QString& program, const QString& path) {
        return {SerialHintKind::sharedPort, path, program};
    }

    friend bool operator==(const SerialHint&, const SerialHint&) = default;
};

} // namespace orvane
