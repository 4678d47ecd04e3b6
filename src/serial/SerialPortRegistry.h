#pragma once

#include "serial/SerialClock.h"
#include "serial/SerialDeviceSource.h"
#include "serial/SerialPortDiscovery.h"
#include "serial/SerialPortInfo.h"
#include "serial/SerialServiceTimings.h"

#include <QHash>
#include <QList>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>

namespace orvane {

// What the serial service remembers about the ports: the last known list (an empty
// enumeration, as during re-enumeration, never wipes it), the product name each path was
// last listed under (a device that dropped off the bus takes its registry entry along),
// and the program last found holding a busy port.
//
// Everything runs on the service's I/O queue except labelFor(), which any thread may call.
class SerialPortRegistry {
public:
    SerialPortRegistry(std::shared_ptr<const SerialDeviceSource> devices, SerialClock& clock,
                       const SerialServiceTimings& timings);

    const SerialDeviceSource& devices() const { return *devices_; }
    const SerialPortDiscovery& discovery() const { return discovery_; }

    // The cached list while it is fresh and non-empty, else a new enumeration.
    QList<SerialPortInfo> currentPortList(bool forceRefresh);
    // Enumerates (once more after a short pause when nothing was found) and notes the time.
    QList<SerialPortInfo> enumerate();
    // Keeps `list` as the known list unless it is empty while a list is known.
    void store(const QList<SerialPortInfo>& list);
    // The list has not been enumerated for the refresh interval.
    bool isStale() const;
    // The next currentPortList() enumerates whatever the cache holds.
    void invalidate() { lastRefresh_.reset(); }

    // The label of `path` in the known list, or the path itself. Any thread.
    QString labelFor(const QString& path) const;
    // The product name of `path`, from a fresh look-up, else the path.
    QString displayLabelFor(const QString& path) const;

    // The program holding `path`, reused for a while once found.
    std::optional<QString> occupierHint(const QString& path);

    // The port that the device last seen at `previousPath` is now, judged by its label.
    std::optional<QString> pickRenumberedPort(const QList<SerialPortInfo>& list,
                                              const QString& previousPath) const;

private:
    const std::shared_ptr<const SerialDeviceSource> devices_;
    const SerialPortDiscovery discovery_;
    SerialClock& clock_;
    const SerialServiceTimings& timings_;

    mutable std::mutex listLock_; // the list is read by the status refresh on another queue
    QList<SerialPortInfo> cachedPortList_;
    std::optional<SerialClock::TimePoint> lastRefresh_;
    QHash<QString, QString> lastListedProductNames_; // one per device node ever seen
    std::optional<SerialClock::TimePoint> lastOccupierCheckAt_;
    QString lastOccupierPath_;
    QString cachedOccupierHint_;
};

} // namespace orvane
