#include "storage/AppSettings.h"

#include <QJsonValue>

namespace orvane {

namespace {

std::optional<QString> stringField(const QJsonObject& json, const QString& key) {
    const QJsonValue v = json.value(key);
    if (!v.isString())
        return std::nullopt;
    return v.toString();
}

std::optional<bool> boolField(const QJsonObject& json, const QString& key) {
    const QJsonValue v = json.value(key);
    if (!v.isBool())
        return std::nullopt;
    return v.toBool();
}

std::optional<qint64> integerField(const QJsonObject& json, const QString& key) {
    const QJsonValue v = json.value(key);
    if (!v.isDouble())
        return std::nullopt;
    // toInteger() falls back to its argument for fractions and out-of-range numbers, so
    // two different fallbacks only agree when the number really is a qint64.
    const qint64 a = v.toInteger(0);
    const qint64 b = v.toInteger(1);
    if (a != b)
        return std::nullopt;
    return a;
}

} // namespace

QJsonObject AppSettings::toJson() const {
    return QJsonObject{
        {QStringLiteral("serialPort"), serialPort},
        {QStringLiteral("baudRate"), baudRate},
        {QStringLiteral("autostart"), autostart},
        {QStringLiteral("serialDebugLogEnabled"), serialDebugLogEnabled},
        {QStringLiteral("bluetoothDeviceID"), bluetoothDeviceID},
        {QStringLiteral("bluetoothDeviceName"), bluetoothDeviceName},
    };
}

std::optional<AppSettings> AppSettings::fromJson(const QJsonObject& json) {
    const auto serialPort = stringField(json, QStringLiteral("serialPort"));
    const auto baudRate = integerField(json, QStringLiteral("baudRate"));
    const auto autostart = boolField(json, QStringLiteral("autostart"));
    const auto serialDebugLog = boolField(json, QStringLiteral("serialDebugLogEnabled"));
    const auto deviceID = stringField(json, QStringLiteral("bluetoothDeviceID"));
    const auto deviceName = stringField(json, QStringLiteral("bluetoothDeviceName"));
    if (!serialPort || !baudRate || !autostart || !serialDebugLog || !deviceID || !deviceName)
        return std::nullopt;
    return AppSettings{*serialPort, *baudRate, *autostart, *serialDebugLog, *deviceID, *deviceName};
}

} // namespace orvane
