#pragma once

#include "storage/AppSettings.h"
#include "ui/BluetoothSettingsLauncher.h"

#include <QObject>

namespace orvane {

class AppModel;
class AppShell;
class SettingsPanelView;

// Builds the settings page, installs it in the window and connects it to the model: the
// model's settings, ports, BLE state and error line flow into the page, the page's saves
// and switches go to the model's actions, and the scan, filter and disconnect to the BLE
// service directly. Main thread only; lives as long as the model and the shell.
class SettingsPanelBinding : public QObject {
    Q_OBJECT

public:
    SettingsPanelBinding(AppModel& model, AppShell& shell, QObject* parent = nullptr);

    SettingsPanelView* view() const { return view_; }
    // Discards the page's unsaved edits in favour of the model's settings.
    void loadFromApp();

private:
    void bindSerial();
    void bindBluetooth();
    void bindWindow();
    // Takes a stored port or baud rate changed elsewhere (the status bar, a re-enumerated
    // device) into the page, unless the user is editing that field.
    void followStoredSerialValues();

    AppModel& model_;
    AppShell& shell_;
    BluetoothSettingsLauncher launcher_;
    SettingsPanelView* view_;
    AppSettings loaded_; // what the page last took from the model
};

} // namespace orvane
