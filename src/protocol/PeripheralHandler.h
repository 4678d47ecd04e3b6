#pragma once

#include "protocol/WireHeader.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>

namespace orvane {

// Answers the device's liveness probe (PERIPHERAL_ECHO on channel 0x03): the reply is
// the probe itself, byte for byte. Keeps no state; callbacks run on the caller's thread.
class PeripheralHandler {
public:
    using LogFn = std::function<void(const QString&)>;
    using EchoFn = std::function<void()>;

    // `onEcho` may be empty; it fires once for every probe, before anything else happens,
    // and is how the application learns which link is alive.
    explicit PeripheralHandler(LogFn log, EchoFn onEcho = {});

    // `frame` is the validated probe, `header` and `payload` its decoded parts. Logs the
    // probe's TLV (or why it does not parse) and returns a one-element list holding
    // `frame` unchanged: a malformed TLV is echoed as well.
    QList<QByteArray> handleEcho(const QByteArray& frame, const WireHeader& header,
                                 QByteArrayView payload) const;

private:
    LogFn log_;
    EchoFn onEcho_;
};

} // namespace orvane
