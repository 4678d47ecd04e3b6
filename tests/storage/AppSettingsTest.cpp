#include "storage/AppSettings.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace orvane;

TEST(AppSettingsTest, DefaultValue) {
    const AppSettings s;
    EXPECT_EQ(s.serialPort, QString());
    EXPECT_EQ(s.baudRate, 2000000);
    EXPECT_FALSE(s.autostart);
    EXPECT_TRUE(s.serialDebugLogEnabled);
    EXPECT_EQ(s.bluetoothDeviceID, QString());
    EXPECT_EQ(s.bluetoothDeviceName, QString());
}

TEST(AppSettingsTest, JsonUsesTheFieldNamesAndRoundTrips) {
    const AppSettings s{
        QStringLiteral("/dev/ttyACM0"), 115200, true, false, QStringLiteral("AA:BB:CC:DD:EE:FF"),
        QStringLiteral("ZE DOZ ERA")};
    const QByteArray json = QJsonDocument(s.toJson()).toJson(QJsonDocument::Compact);
    EXPECT_EQ(json,
              QByteArray(R"({"autostart":true,"baudRate":115200,)"
                         R"("bluetoothDeviceID":"AA:BB:CC:DD:EE:FF",)"
                         R"("bluetoothDeviceName":"ZE DOZ ERA","serialDebugLogEnabled":false,)"
                         R"("serialPort":"/dev/ttyACM0"})"));
    EXPECT_EQ(AppSettings::fromJson(QJsonDocument::fromJson(json).object()), s);
}

TEST(AppSettingsTest, FromJsonRejectsMissingKeysAndWrongTypes) {
    const QJsonObject good = AppSettings().toJson();
    ASSERT_TRUE(AppSettings::fromJson(good).has_value());
    for (const QString& key : good.keys()) {
        SCOPED_TRACE(key.toStdString());
        QJsonObject missing = good;
        missing.remove(key);
        EXPECT_FALSE(AppSettings::fromJson(missing).has_value());
    }
    const std::pair<const char*, QJsonValue> wrong[] = {
        {"baudRate", QStringLiteral("115200")},
        {"baudRate", 1.5},
        {"baudRate", 1e300},
        {"autostart", 1},
        {"serialPort", QJsonValue::Null},
        {"serialDebugLogEnabled", QStringLiteral("true")},
    };
    for (const auto& [key, value] : wrong) {
        SCOPED_TRACE(key);
        QJsonObject changed = good;
        changed.insert(QLatin1String(key), value);
        EXPECT_FALSE(AppSettings::fromJson(changed).has_value());
    }
}
