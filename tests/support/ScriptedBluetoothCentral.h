#pragma once

// A BLE central played by hand: the test sets its state and the peripherals it knows, and
// reads back every call the service made of it. Events go to the delegate only when the
// test delivers them.

#include "bluetooth/BluetoothCentral.h"

#include <QList>
#include <QRegularExpression>

#include <gtest/gtest.h>
#include <utility>

namespace orvane {

class ScriptedBluetoothCentral : public BluetoothCentral {
public:
    void setDelegate(Delegate* d) override { delegate = d; }
    State state() const override { return currentState; }
    std::optional<QString> canonicalIdentifier(const QString& text) const override {
        static const QRegularExpression address(QStringLiteral("^([0-9A-F]{2}:){5}[0-9A-F]{2}$"));
        const QString upper = text.toUpper();
        return address.match(upper).hasMatch() ? std::optional(upper) : std::nullopt;
    }
    void scanForPeripherals() override { ++scansStarted; }
    void stopScan() override { ++scansStopped; }
    bool isKnownPeripheral(const QString& id) override { return known.contains(id); }
    QStringList connectedPeripherals(const QStringList& services) override {
        connectedQueryServices = services;
        return systemConnected;
    }
    bool isPeripheralConnected(const QString& id) override { return systemConnected.contains(id); }
    void connectPeripheral(const QString& id) override { connectRequests.append(id); }
    void cancelPeripheralConnection(const QString& id) override { cancelled.append(id); }
    void discoverServices(const QString& id, const QStringList& services) override {
        serviceDiscoveries.append(id + QStringLiteral(" ") + services.join(u','));
    }
    void discoverCharacteristics(const QString&, const QString& service,
                                 const QStringList& characteristics) override {
        characteristicDiscoveries.append(service + QStringLiteral(" ") +
                                         characteristics.join(u','));
    }
    void setNotifyValue(const QString&, const Characteristic& c, bool enabled) override {
        if (enabled) {
            notifying.append(c);
        }
    }
    int maximumWriteLength(const QString&, const Characteristic&) override { return writeLength; }
    void writeWithoutResponse(const QString& id, const Characteristic& c,
                              QByteArrayView bytes) override {
        if (!writeTarget.isEmpty()) {
            EXPECT_EQ(id, writeTarget);
        }
        writes.append({c, bytes.toByteArray()});
    }

    Delegate* delegate = nullptr;
    State currentState = State::poweredOn;
    QStringList known;
    QStringList systemConnected;
    QStringList connectedQueryServices;
    int scansStarted = 0;
    int scansStopped = 0;
    QStringList connectRequests;
    QStringList cancelled;
    QStringList serviceDiscoveries;
    QStringList characteristicDiscoveries;
    QList<Characteristic> notifying;
    int writeLength = 20;
    QString writeTarget; // every write goes to this peripheral when set
    QList<std::pair<Characteristic, QByteArray>> writes;
};

} // namespace orvane
