#pragma once

#include "common/DefaultBaudRate.h"

#include <QJsonObject>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace orvane {

// The user's settings as one value. The store keeps each field under its own key.
struct AppSettings {
    QString serialPort;
    qint64 baudRate = defaultBaudRate;
    bool autostart = false;
    // True for a settings value made from scratch; a database that has never stored the
    // switch reads it as false.
    bool serialDebugLogEnabled = true;
    QString bluetoothDeviceID;
    QString bluetoothDeviceName;

    // JSON with the keys "serialPort", "baudRate", "autostart", "serialDebugLogEnabled",
    // "bluetoothDeviceID", "bluetoothDeviceName".
    QJsonObject toJson() const;
    // Nothing when a key is missing or has the wrong type; every key is required.
    static std::optional<AppSettings> fromJson(const QJsonObject& json);

    friend bool operator==(const AppSettings&, const AppSettings&) = default;
};

} // namespace orvane
