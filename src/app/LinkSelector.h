#pragma once

#include "app/LinkSelection.h"
#include "bluetooth/BLEUARTDevice.h"
#include "bluetooth/BluetoothService.h"
#include "link/BleLink.h"
#include "link/LinkKind.h"
#include "serial/SerialService.h"
#include "storage/AppSettings.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace orvane {

// The one owner of which link is in use. It tells the serial link and the BLE link what to
// hold, saves each choice through its owner as it applies it, and makes the choice at
// start-up: the saved port and the bridge (the saved one, or one named "ZE DOZ ERA") are
// both tried, and the link the device's first probe comes over is kept.
//
// The serial link and the BLE link never both hold something: while a BLE device is chosen
// the serial link has no path and stands aside, as a start with that device saved has it.
//
// Main thread.
class LinkSelector : public QObject {
    Q_OBJECT

public:
    static inline const QString autoSelectName = QStringLiteral("ZE DOZ ERA");

    // What the selector needs from its owner, who keeps the settings.
    struct Owner {
        std::function<const AppSettings&()> settings;
        // Saves and publishes the settings; a choice the store cannot keep still holds for
        // this run (the owner reports that).
        std::function<void(const AppSettings&)> commit;
        std::function<void(bool)> setPortConfigured;
        // `aboutTheLink`: an error that a working link makes obsolete.
        std::function<void(const QString&, bool aboutTheLink)> setErrorMessage;
        // A line for the debug log ("SYS").
        std::function<void(const QString&)> log;
    };

    LinkSelector(SerialService& serial, BleLink& ble, Owner owner, QObject* parent = nullptr);
    ~LinkSelector() override;

    LinkSelector(const LinkSelector&) = delete;
    LinkSelector& operator=(const LinkSelector&) = delete;

    // What the links hold now.
    LinkSelection selection() const;
    bool isAutoSelecting() const { return isAutoSelecting_; }

    // The saved choice, held as the links' start-up state.
    void load(const AppSettings& settings);
    // Tries both links; the first probe decides (handleEcho).
    void startAutoConnect();
    void handleEcho(LinkKind source);

    // ---- The user's choices: each is saved and applied at once ----------------------------
    void selectSerialPort(const QString& path);
    void saveBluetoothDevice(const std::optional<BLEUARTDevice>& device);
    // The link part of saved settings (already normalised and committed by the owner).
    void applySettings(const AppSettings& settings);

    void reconnectSerial();
    void connectBluetooth();

private:
    BluetoothService& bluetooth() { return ble_.bluetooth(); }
    const AppSettings& settings() const { return owner_.settings(); }
    void commit(const AppSettings& settings) { owner_.commit(settings); }

    void startBLEAutoConnect();
    void clearSavedBluetoothDevice();
    void selectBluetoothInSerial(const QString& id, const QString& name);
    // The BLE link holds this device (none when `id` is empty); the serial link stands
    // aside while it does.
    void holdBluetooth(const QString& id, const QString& name);
    void connectBluetoothDevice(const QString& id);
    void onBluetoothConnectedChanged();
    // A link has been chosen (by the user or by the first probe): the start-up scan no
    // longer connects what it finds, and nothing is left for the first probe to save.
    void endScanMatch();

    SerialService& serial_;
    BleLink& ble_;
    const Owner owner_;
    QMetaObject::Connection bleScanConnection_;
    // The bridge the start-up scan found by its name and connected; saved as the chosen
    // device only if the first probe comes over it.
    std::optional<BLEUARTDevice> autoFoundDevice_;
    bool isAutoSelecting_ = false;
};

} // namespace orvane
