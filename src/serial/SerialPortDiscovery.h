#pragma once

#include "serial/SerialDeviceSource.h"
#include "serial/SerialPortInfo.h"

#include <QList>

#include <memory>
#include <optional>

namespace orvane {

// Which serial ports exist, what to call them, and whether one can be opened. Every call
// re-reads the system through the source; nothing is cached here, so callers that ask
// often keep their own short-lived copy. May run on any thread; calls block on the file
// system and on /proc.
class SerialPortDiscovery {
public:
    explicit SerialPortDiscovery(std::shared_ptr<const SerialDeviceSource> source);

    // Every port, labelled with its product name when known, sorted by path. A failed
    // directory listing still yields the ports the device registry knows.
    QList<SerialPortInfo> listPortsOnce() const;

    // False when the path is missing or another process is seen holding it (without trying
    // to open it); otherwise whether an exclusive open succeeds.
    bool canOpenPort(const QString& path) const;

    std::optional<QString> describePortOccupier(const QString& path) const;
    std::optional<QString> lookupProductName(const QString& path) const;

    const std::shared_ptr<const SerialDeviceSource>& source() const { return source_; }

private:
    std::shared_ptr<const SerialDeviceSource> source_;
};

} // namespace orvane
