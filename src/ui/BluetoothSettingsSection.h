#pragma once

#include "bluetooth/BLEUARTDevice.h"

#include <QList>
#include <QWidget>

#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace orvane {

// The Bluetooth page of the settings: the BLE service's status and scan, the device
// choice (saved only by "保存" / "保存并连接"), the device saved last with a direct
// connect, the adapter's access state and the way to the desktop's Bluetooth settings.
class BluetoothSettingsSection : public QWidget {
    Q_OBJECT

public:
    explicit BluetoothSettingsSection(QWidget* parent = nullptr);

    void setStatusText(const QString& text);
    void setScanning(bool scanning);
    void setShowNamedOnly(bool namedOnly);
    // The devices on offer; the chosen one stays chosen while it is listed.
    void setDevices(const QList<BLEUARTDevice>& devices);
    // Chooses the listed device with this identifier, or the placeholder when it is not
    // listed (or empty).
    void selectDevice(const QString& id);
    std::optional<BLEUARTDevice> selectedDevice() const { return selected_; }
    // The device saved in the settings; an empty id hides the "上次连接" row.
    void setSavedDevice(const QString& id, const QString& name);
    void setConnected(bool connected);
    void setAuthorizationText(const QString& text);
    // A line under the system links, for when the desktop's settings could not be opened.
    void setSystemSettingsMessage(const QString& message);

    QComboBox* devicePicker() const { return picker_; }

signals:
    void scanRequested();
    void showNamedOnlyToggled(bool namedOnly);
    void saveRequested(const orvane::BLEUARTDevice& device);
    void saveAndConnectRequested(const orvane::BLEUARTDevice& device);
    void connectSavedRequested();
    void disconnectRequested();
    void systemSettingsRequested();

private:
    void fillPicker();
    void updateButtons();

    QLabel* status_;
    QPushButton* scanButton_;
    QCheckBox* namedOnly_;
    QComboBox* picker_;
    QWidget* savedRow_;
    QLabel* savedName_;
    QPushButton* saveButton_;
    QPushButton* saveAndConnectButton_;
    QPushButton* disconnectButton_;
    QLabel* authorization_;
    QLabel* systemMessage_;
    QList<BLEUARTDevice> devices_;
    std::optional<BLEUARTDevice> selected_;
    bool updating_ = false;
};

} // namespace orvane
