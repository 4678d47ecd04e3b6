#include "bluetooth/BLEUARTDevice.h"

#include <QHashFunctions>

namespace orvane {

QString BLEUARTDevice::displayName() const {
    // An address's first three bytes name its maker, often the same for every device in
    // the list; the last three tell them apart.
    const QString label = name.isEmpty() ? QStringLiteral("未知设备 (%1)").arg(id.right(8)) : name;
    return label + QStringLiteral(" · RSSI %1 dBm").arg(rssi);
}

QJsonObject BLEUARTDevice::toJson() const {
    return {
        {QStringLiteral("id"), id}, {QStringLiteral("name"), name}, {QStringLiteral("rssi"), rssi}};
}

std::optional<BLEUARTDevice> BLEUARTDevice::fromJson(const QJsonObject& object) {
    const QJsonValue id = object.value(QStringLiteral("id"));
    const QJsonValue name = object.value(QStringLiteral("name"));
    const QJsonValue rssi = object.value(QStringLiteral("rssi"));
    if (!id.isString() || !name.isString() || !rssi.isDouble()) {
        return std::nullopt;
    }
    return BLEUARTDevice{id.toString(), name.toString(), rssi.toInt()};
}

size_t qHash(const BLEUARTDevice& device, size_t seed) noexcept {
    return qHashMulti(seed, device.id, device.name, device.rssi);
}

} // namespace orvane
