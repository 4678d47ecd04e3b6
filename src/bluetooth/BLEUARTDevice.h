#pragma once

#include <QJsonObject>
#include <QMetaType>
#include <QString>

#include <optional>

namespace orvane {

// One BLE peripheral seen by a scan. Identified by `id`, the platform's identifier in its
// canonical text form.
struct BLEUARTDevice {
    QString id;
    QString name; // empty when the peripheral has no name
    int rssi = 0; // dBm at the last sighting

    // "<name> · RSSI <rssi> dBm", or "未知设备 (<last 8 characters of id>) · RSSI …" for a
    // peripheral without a name.
    QString displayName() const;

    QJsonObject toJson() const;
    // Nothing when a key is missing or has the wrong type.
    static std::optional<BLEUARTDevice> fromJson(const QJsonObject& object);

    friend bool operator==(const BLEUARTDevice&, const BLEUARTDevice&) = default;
};

size_t qHash(const BLEUARTDevice& device, size_t seed = 0) noexcept;

} // namespace orvane

Q_DECLARE_METATYPE(orvane::BLEUARTDevice)
