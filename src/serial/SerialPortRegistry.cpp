#include "serial/SerialPortRegistry.h"

#include "serial/SerialPortTracking.h"

namespace orvane {

SerialPortRegistry::SerialPortRegistry(std::shared_ptr<const SerialDeviceSource> devices,
                                       SerialClock& clock, const SerialServiceTimings& timings)
    : devices_(std::move(devices))
    , discovery_(devices_)
    , clock_(clock)
    , timings_(timings) {}

QList<SerialPortInfo> SerialPortRegistry::enumerate() {
    auto list = discovery_.listPortsOnce();
    if (list.isEmpty() && clock_.sleepFor(timings_.emptyEnumerationRetry)) {
        list = discovery_.listPortsOnce();
    }
    lastRefresh_ = clock_.now();
    return list;
}

void SerialPortRegistry::store(const QList<SerialPortInfo>& list) {
    for (const SerialPortInfo& port : list) {
        if (port.label != port.path) {
            lastListedProductNames_.insert(port.path, port.label);
        }
    }
    std::lock_guard lock(listLock_);
    if (!list.isEmpty() || cachedPortList_.isEmpty()) {
        cachedPortList_ = list;
    }
}

QList<SerialPortInfo> SerialPortRegistry::currentPortList(bool forceRefresh) {
    if (!forceRefresh && !isStale()) {
        std::lock_guard lock(listLock_);
        if (!cachedPortList_.isEmpty()) {
            return cachedPortList_;
        }
    }
    store(enumerate());
    std::lock_guard lock(listLock_);
    return cachedPortList_;
}

bool SerialPortRegistry::isStale() const {
    return !lastRefresh_ || clock_.now() - *lastRefresh_ >= timings_.portListRefreshInterval;
}

QString SerialPortRegistry::labelFor(const QString& path) const {
    std::lock_guard lock(listLock_);
    for (const SerialPortInfo& port : cachedPortList_) {
        if (port.path == path) {
            return port.label;
        }
    }
    return path;
}

QString SerialPortRegistry::displayLabelFor(const QString& path) const {
    const QString label = labelFor(path);
    return label != path ? label : discovery_.lookupProductName(path).value_or(path);
}

std::optional<QString> SerialPortRegistry::occupierHint(const QString& path) {
    const auto now = clock_.now();
    if (path == lastOccupierPath_ && lastOccupierCheckAt_ &&
        now - *lastOccupierCheckAt_ < timings_.occupierCheckInterval &&
        !cachedOccupierHint_.isEmpty()) {
        return cachedOccupierHint_;
    }
    auto occupier = discovery_.describePortOccupier(path);
    if (occupier) {
        lastOccupierPath_ = path;
        lastOccupierCheckAt_ = now;
        cachedOccupierHint_ = *occupier;
    }
    return occupier;
}

std::optional<QString> SerialPortRegistry::pickRenumberedPort(const QList<SerialPortInfo>& list,
                                                              const QString& previousPath) const {
    return SerialPortTracking::pickRenumberedPort(
        list, previousPath,
        SerialPortTracking::CandidateChecks{
            [this](const QString& path) { return devices_->pathExists(path); },
            [this](const QString& path) { return devices_->tryOpenExclusive(path); },
            [this](const QString& path) -> std::optional<QString> {
                if (auto name = discovery_.lookupProductName(path)) {
                    return name;
                }
                // A device that dropped off the bus took its sysfs entry along; the name it
                // was last listed under still tells which new node is the same device.
                const auto known = lastListedProductNames_.constFind(path);
                if (known == lastListedProductNames_.cend()) {
                    return std::nullopt;
                }
                return *known;
            }});
}

} // namespace orvane
