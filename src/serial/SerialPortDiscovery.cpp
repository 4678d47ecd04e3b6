#include "serial/SerialPortDiscovery.h"

#include <utility>

namespace orvane {

namespace {

QString labelFor(const QString& path, const std::optional<QString>& productName) {
    return productName && !productName->isEmpty() ? *productName : path;
}

} // namespace

SerialPortDiscovery::SerialPortDiscovery(std::shared_ptr<const SerialDeviceSource> source)
    : source_(std::move(source)) {
    Q_ASSERT(source_);
}

QList<SerialPortInfo> SerialPortDiscovery::listPortsOnce() const {
    const QMap<QString, std::optional<QString>> products = source_->productNamesByPath();
    // Keyed by path, so the result comes out sorted and each path appears once.
    QMap<QString, SerialPortInfo> ports;

    if (const auto nodes = source_->listDeviceNodes()) {
        for (const QString& path : *nodes) {
            ports.insert(path, SerialPortInfo::make(path, labelFor(path, products.value(path))));
        }
    }
    for (auto it = products.cbegin(); it != products.cend(); ++it) {
        if (source_->pathExists(it.key())) {
            ports.insert(it.key(), SerialPortInfo::make(it.key(), labelFor(it.key(), it.value())));
        }
    }
    // The registry may not have had the product name yet when the map was built (a device
    // still being set up); one more look-up per unnamed port catches most of those.
    for (SerialPortInfo& port : ports) {
        if (port.label == port.path) {
            if (const auto name = source_->lookupProductName(port.path); name && !name->isEmpty()) {
                port.label = *name;
            }
        }
    }
    return ports.values();
}

bool SerialPortDiscovery::canOpenPort(const QString& path) const {
    if (!source_->pathExists(path)) {
        return false;
    }
    if (source_->describePortOccupier(path)) {
        return false;
    }
    return source_->tryOpenExclusive(path);
}

std::optional<QString> SerialPortDiscovery::describePortOccupier(const QString& path) const {
    return source_->describePortOccupier(path);
}

std::optional<QString> SerialPortDiscovery::lookupProductName(const QString& path) const {
    return source_->lookupProductName(path);
}

} // namespace orvane
