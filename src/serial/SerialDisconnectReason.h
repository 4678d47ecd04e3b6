#pragma once

#include "serial/SerialErrorKind.h"
#include "serial/SerialPortError.h"

#include <QString>

namespace orvane {

// Why a session ended or an attempt failed: a class that decides the reconnect wait, and a
// text for the debug log. Built where the cause is known, from error kinds, so that the
// wait never depends on the wording (or the language) of a system message.
class SerialDisconnectReason {
public:
    enum class Class {
        fatal,      // the node is there but no device answers: a quick retry will not fix it
        deviceGone, // the node vanished or re-enumerated; it usually comes back quickly
        other,      // busy, or any other failure
    };

    static SerialDisconnectReason deviceRemoved() {
        return {Class::deviceGone, QStringLiteral("device removed")};
    }
    static SerialDisconnectReason reEnumerated(const QString& from, const QString& to) {
        return {Class::deviceGone, QStringLiteral("port re-enumerated %1 → %2").arg(from, to)};
    }
    static SerialDisconnectReason portBusy() { return {Class::other, QStringLiteral("port busy")}; }
    // A failed open or a lost session, classed by what the system said.
    static SerialDisconnectReason failure(SerialErrorKind kind, const QString& text) {
        return {kind == SerialErrorKind::notConfigured ? Class::fatal : Class::other, text};
    }
    static SerialDisconnectReason openFailure(const SerialPortError& error) {
        return failure(error.kind(), error.description());
    }

    SerialDisconnectReason() = default;

    Class reasonClass() const { return class_; }
    bool isFatal() const { return class_ == Class::fatal; }
    const QString& text() const { return text_; }

    friend bool operator==(const SerialDisconnectReason&, const SerialDisconnectReason&) = default;

private:
    SerialDisconnectReason(Class reasonClass, QString text)
        : class_(reasonClass)
        , text_(std::move(text)) {}

    Class class_ = Class::other;
    QString text_;
};

} // namespace orvane
