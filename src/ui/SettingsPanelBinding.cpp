#include "ui/SettingsPanelBinding.h"

#include "app/AppModel.h"
#include "serial/SerialService.h"
#include "ui/AboutSettingsSection.h"
#include "ui/AppShell.h"
#include "ui/AutostartSettingsSection.h"
#include "ui/BluetoothSettingsSection.h"
#include "ui/MainSidebarView.h"
#include "ui/MainView.h"
#include "ui/SerialSettingsSection.h"
#include "ui/SettingsPanelView.h"

#include <QCoreApplication>
#include <QThread>

namespace orvane {

SettingsPanelBinding::SettingsPanelBinding(AppModel& model, AppShell& shell, QObject* parent)
    : QObject(parent)
    , model_(model)
    , shell_(shell)
    , view_(new SettingsPanelView) {
    Q_ASSERT(QThread::currentThread() == thread());
    bindWindow();
    bindSerial();
    bindBluetooth();
    shell_.mainView()->setSettingsPanel(view_); // the main view owns the page from here
    loadFromApp();
}

void SettingsPanelBinding::loadFromApp() {
    loaded_ = model_.settings();
    view_->loadFromApp(loaded_, model_.bluetooth().filteredDevices());
}

void SettingsPanelBinding::followStoredSerialValues() {
    SerialSettingsSection& section = *view_->serialSection();
    const AppSettings& stored = model_.settings();
    if (stored.serialPort != loaded_.serialPort && section.serialPort() == loaded_.serialPort) {
        section.setSerialPort(stored.serialPort);
    }
    if (stored.baudRate != loaded_.baudRate && section.baudRate() == loaded_.baudRate) {
        section.setBaudRate(stored.baudRate);
    }
    loaded_.serialPort = stored.serialPort;
    loaded_.baudRate = stored.baudRate;
}

void SettingsPanelBinding::bindWindow() {
    MainView& main = *shell_.mainView();
    // Closing goes back to the clipboard as choosing it in the sidebar does, which also
    // lowers the flag.
    connect(view_, &SettingsPanelView::closeRequested, &main,
            [&main] { main.sidebar()->setSelection(MainSidebarItem::clipboard); });
    connect(view_, &SettingsPanelView::shown, this, &SettingsPanelBinding::loadFromApp);

    const auto showError = [this] {
        view_->setErrorMessage(model_.errorMessage());
    };
    connect(&model_, &AppModel::errorMessageChanged, view_, showError);
    showError();

    AutostartSettingsSection& autostart = *view_->autostartSection();
    connect(&autostart, &AutostartSettingsSection::autostartToggled, &model_,
            &AppModel::setAutostart);
    // A refused change puts the switch back to what is registered.
    connect(&model_, &AppModel::settingsChanged, &autostart,
            [this, &autostart] { autostart.setAutostart(model_.settings().autostart); });
    connect(&model_, &AppModel::errorMessageChanged, &autostart,
            [this, &autostart] { autostart.setAutostart(model_.settings().autostart); });

    view_->aboutSection()->setVersion(QCoreApplication::applicationVersion());
}

void SettingsPanelBinding::bindSerial() {
    SerialSettingsSection& section = *view_->serialSection();
    SerialService& serial = model_.serial();
    const auto showPorts = [&section, &serial] {
        section.setPorts(serial.ports());
    };
    connect(&serial, &SerialService::portsChanged, &section, showPorts);
    showPorts();
    connect(&model_, &AppModel::settingsChanged, &section, [this] { followStoredSerialValues(); });
    connect(&section, &SerialSettingsSection::refreshPortsRequested, &serial,
            &SerialService::refreshPorts);
    connect(&section, &SerialSettingsSection::saveRequested, &model_, [this, &section] {
        AppSettings updated = model_.settings();
        updated.serialPort = section.serialPort();
        updated.baudRate = section.baudRate();
        model_.saveSettings(updated);
    });

    connect(&section, &SerialSettingsSection::debugLogToggled, &model_,
            &AppModel::applySerialDebugLogEnabled);
    const auto showDebugLog = [this, &section] {
        section.setDebugLogEnabled(model_.serialDebugLogEnabled());
    };
    connect(&model_, &AppModel::serialDebugLogEnabledChanged, &section, showDebugLog);
    showDebugLog();
}

void SettingsPanelBinding::bindBluetooth() {
    BluetoothSettingsSection& section = *view_->bluetoothSection();
    BluetoothService& ble = model_.bluetooth();

    const auto showState = [&section, &ble] {
        section.setStatusText(ble.statusText());
        section.setScanning(ble.isScanning());
        section.setShowNamedOnly(ble.showNamedOnly());
        section.setConnected(ble.isConnected());
        section.setAuthorizationText(ble.authorizationStatusText());
    };
    for (auto changed :
         {&BluetoothService::statusTextChanged, &BluetoothService::isScanningChanged,
          &BluetoothService::showNamedOnlyChanged, &BluetoothService::isConnectedChanged,
          &BluetoothService::authorizationStatusTextChanged}) {
        connect(&ble, changed, &section, showState);
    }
    showState();
    const auto showDevices = [&section, &ble] {
        section.setDevices(ble.filteredDevices());
    };
    connect(&ble, &BluetoothService::filteredDevicesChanged, &section, showDevices);
    showDevices();
    const auto showSaved = [this, &section] {
        section.setSavedDevice(model_.settings().bluetoothDeviceID,
                               model_.settings().bluetoothDeviceName);
    };
    connect(&model_, &AppModel::settingsChanged, &section, showSaved);
    showSaved();

    connect(&section, &BluetoothSettingsSection::scanRequested, &ble, &BluetoothService::startScan);
    connect(&section, &BluetoothSettingsSection::showNamedOnlyToggled, &ble,
            &BluetoothService::setShowNamedOnly);
    connect(&section, &BluetoothSettingsSection::disconnectRequested, &ble,
            &BluetoothService::disconnect);
    connect(&section, &BluetoothSettingsSection::connectSavedRequested, &model_,
            &AppModel::connectBluetooth);
    connect(&section, &BluetoothSettingsSection::saveRequested, &model_,
            [this](const BLEUARTDevice& device) { model_.saveBluetoothDevice(device); });
    connect(&section, &BluetoothSettingsSection::saveAndConnectRequested, &model_,
            [this](const BLEUARTDevice& device) {
                model_.saveBluetoothDevice(device);
                // Connecting after a failed save would reach for the previous device.
                if (model_.settings().bluetoothDeviceID == device.id) {
                    model_.connectBluetooth();
                }
            });
    connect(
        &section, &BluetoothSettingsSection::systemSettingsRequested, &section, [this, &section] {
            section.setSystemSettingsMessage(
                launcher_.open() ? QString()
                                 : QStringLiteral("未找到蓝牙设置工具（GNOME 设置、KDE 系统设置或 "
                                                  "blueman），请在桌面的设置中打开蓝牙。"));
        });
}

} // namespace orvane
