#pragma once

#include "bluetooth/BLEUARTDevice.h"
#include "storage/AppSettings.h"

#include <QList>
#include <QWidget>

class QLabel;
class QListWidget;
class QStackedWidget;

namespace orvane {

class AboutSettingsSection;
class AutostartSettingsSection;
class BluetoothSettingsSection;
class SerialSettingsSection;

// The settings page of the window: a section list on the left and the chosen section on
// the right, with the application's current error line in red above it. The port, baud
// rate and Bluetooth device are edited in local copies that only the save buttons write;
// loadFromApp() discards unsaved edits, so leaving the page and coming back shows what is
// stored. Plain widgets: the owner feeds state in through setters and acts on the signals.
class SettingsPanelView : public QWidget {
    Q_OBJECT

public:
    enum class SettingsSection { serial, bluetooth, autostart, about };
    static constexpr int sectionListWidth = 120;

    static QList<SettingsSection> allSections();
    static QString title(SettingsSection section);

    explicit SettingsPanelView(QWidget* parent = nullptr);

    // Takes the stored serial values and autostart, and chooses the saved Bluetooth device
    // among `filteredDevices` (the placeholder when it is not listed).
    void loadFromApp(const AppSettings& settings, const QList<BLEUARTDevice>& filteredDevices);

    SettingsSection section() const { return section_; }
    void setSection(SettingsSection section);
    void setErrorMessage(const QString& message);

    SerialSettingsSection* serialSection() const { return serial_; }
    BluetoothSettingsSection* bluetoothSection() const { return bluetooth_; }
    AutostartSettingsSection* autostartSection() const { return autostart_; }
    AboutSettingsSection* aboutSection() const { return about_; }

    // The look shared by the sections.
    static QLabel* makeTitle(const QString& text, QWidget* parent);
    static QLabel* makeHint(const QString& text, QWidget* parent);

signals:
    void closeRequested();
    // The page came on screen; the owner answers with loadFromApp().
    void shown();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QListWidget* sectionList_;
    QStackedWidget* pages_;
    QLabel* error_;
    SerialSettingsSection* serial_;
    BluetoothSettingsSection* bluetooth_;
    AutostartSettingsSection* autostart_;
    AboutSettingsSection* about_;
    SettingsSection section_ = SettingsSection::serial;
};

} // namespace orvane
