#include "ui/BluetoothSettingsSection.h"

#include "ui/SettingsPanelView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace orvane {

BluetoothSettingsSection::BluetoothSettingsSection(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("bluetoothSection"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(SettingsPanelView::makeTitle(QStringLiteral("蓝牙"), this));
    layout->addWidget(SettingsPanelView::makeHint(
        QStringLiteral("BLE UART 服务同时支持 Nordic UART Service "
                       "(6E400001-B5A3-F393-E0A9-E50E24DCCA9E) 与 ZE DOZ ERA (FFF0)。"),
        this));

    auto* statusRow = new QHBoxLayout;
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("bluetoothStatus"));
    status_->setWordWrap(true);
    statusRow->addWidget(status_, 1);
    scanButton_ = new QPushButton(QStringLiteral("扫描"), this);
    scanButton_->setObjectName(QStringLiteral("scan"));
    statusRow->addWidget(scanButton_);
    layout->addLayout(statusRow);

    namedOnly_ = new QCheckBox(QStringLiteral("只显示有名称的设备"), this);
    namedOnly_->setObjectName(QStringLiteral("namedOnly"));
    layout->addWidget(namedOnly_);

    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    picker_ = new QComboBox(this);
    picker_->setObjectName(QStringLiteral("devicePicker"));
    picker_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    picker_->setMinimumContentsLength(16);
    form->addRow(QStringLiteral("设备"), picker_);
    layout->addLayout(form);

    savedRow_ = new QWidget(this);
    auto* savedLayout = new QHBoxLayout(savedRow_);
    savedLayout->setContentsMargins(0, 0, 0, 0);
    savedName_ = new QLabel(savedRow_);
    savedName_->setObjectName(QStringLiteral("savedDevice"));
    savedLayout->addWidget(savedName_, 1);
    auto* connectSaved = new QPushButton(QStringLiteral("直接连接上次设备"), savedRow_);
    connectSaved->setObjectName(QStringLiteral("connectSaved"));
    savedLayout->addWidget(connectSaved);
    layout->addWidget(savedRow_);

    auto* buttons = new QHBoxLayout;
    disconnectButton_ = new QPushButton(QStringLiteral("断开"), this);
    disconnectButton_->setObjectName(QStringLiteral("disconnect"));
    buttons->addWidget(disconnectButton_);
    buttons->addStretch(1);
    saveButton_ = new QPushButton(QStringLiteral("保存"), this);
    saveButton_->setObjectName(QStringLiteral("saveDevice"));
    buttons->addWidget(saveButton_);
    saveAndConnectButton_ = new QPushButton(QStringLiteral("保存并连接"), this);
    saveAndConnectButton_->setObjectName(QStringLiteral("saveAndConnectDevice"));
    buttons->addWidget(saveAndConnectButton_);
    layout->addLayout(buttons);

    authorization_ = new QLabel(this);
    authorization_->setObjectName(QStringLiteral("authorization"));
    authorization_->setToolTip(
        QStringLiteral("BlueZ 可访问且有蓝牙适配器时为已授权；适配器关闭时也可能显示已授权。"));
    layout->addWidget(authorization_);

    auto* links = new QHBoxLayout;
    auto* systemSettings = new QPushButton(QStringLiteral("打开系统蓝牙设置"), this);
    systemSettings->setObjectName(QStringLiteral("openBluetoothSettings"));
    links->addWidget(systemSettings);
    // The desktop keeps Bluetooth access and the adapter in the same settings page.
    auto* privacySettings = new QPushButton(QStringLiteral("打开蓝牙隐私设置"), this);
    privacySettings->setObjectName(QStringLiteral("openBluetoothPrivacy"));
    links->addWidget(privacySettings);
    links->addStretch(1);
    layout->addLayout(links);
    systemMessage_ = SettingsPanelView::makeHint(QString(), this);
    systemMessage_->setObjectName(QStringLiteral("systemSettingsMessage"));
    systemMessage_->hide();
    layout->addWidget(systemMessage_);
    layout->addStretch(1);

    connect(scanButton_, &QPushButton::clicked, this, &BluetoothSettingsSection::scanRequested);
    connect(namedOnly_, &QCheckBox::clicked, this, &BluetoothSettingsSection::showNamedOnlyToggled);
    connect(picker_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (updating_) {
            return;
        }
        selected_ = index >= 1 && index - 1 < devices_.size()
                        ? std::optional<BLEUARTDevice>(devices_[index - 1])
                        : std::nullopt;
        updateButtons();
    });
    connect(connectSaved, &QPushButton::clicked, this,
            &BluetoothSettingsSection::connectSavedRequested);
    connect(saveButton_, &QPushButton::clicked, this, [this] {
        if (selected_) {
            emit saveRequested(*selected_);
        }
    });
    connect(saveAndConnectButton_, &QPushButton::clicked, this, [this] {
        if (selected_) {
            emit saveAndConnectRequested(*selected_);
        }
    });
    connect(disconnectButton_, &QPushButton::clicked, this,
            &BluetoothSettingsSection::disconnectRequested);
    connect(systemSettings, &QPushButton::clicked, this,
            &BluetoothSettingsSection::systemSettingsRequested);
    connect(privacySettings, &QPushButton::clicked, this,
            &BluetoothSettingsSection::systemSettingsRequested);

    setScanning(false);
    setSavedDevice({}, {});
    setConnected(false);
    setAuthorizationText({});
    fillPicker();
}

void BluetoothSettingsSection::setStatusText(const QString& text) {
    status_->setText(text);
}

void BluetoothSettingsSection::setScanning(bool scanning) {
    scanButton_->setText(scanning ? QStringLiteral("扫描中…") : QStringLiteral("扫描"));
    scanButton_->setEnabled(!scanning);
}

void BluetoothSettingsSection::setShowNamedOnly(bool namedOnly) {
    namedOnly_->setChecked(namedOnly);
}

void BluetoothSettingsSection::setDevices(const QList<BLEUARTDevice>& devices) {
    devices_ = devices;
    fillPicker();
}

void BluetoothSettingsSection::selectDevice(const QString& id) {
    selected_.reset();
    for (const BLEUARTDevice& device : devices_) {
        if (!id.isEmpty() && device.id == id) {
            selected_ = device;
        }
    }
    fillPicker();
}

void BluetoothSettingsSection::setSavedDevice(const QString& id, const QString& name) {
    savedRow_->setVisible(!id.isEmpty());
    savedName_->setText(QStringLiteral("上次连接：") + (name.isEmpty() ? id : name));
}

void BluetoothSettingsSection::setConnected(bool connected) {
    disconnectButton_->setVisible(connected);
}

void BluetoothSettingsSection::setAuthorizationText(const QString& text) {
    authorization_->setText(QStringLiteral("权限：") + text);
}

void BluetoothSettingsSection::setSystemSettingsMessage(const QString& message) {
    systemMessage_->setText(message);
    systemMessage_->setVisible(!message.isEmpty());
}

void BluetoothSettingsSection::fillPicker() {
    updating_ = true;
    picker_->clear();
    picker_->addItem(QStringLiteral("选择 BLE UART 设备…"));
    int current = 0;
    for (const BLEUARTDevice& device : devices_) {
        picker_->addItem(device.displayName(), device.id);
        if (selected_ && selected_->id == device.id) {
            current = picker_->count() - 1;
            selected_ = device; // the latest sighting's name and signal
        }
    }
    if (current == 0) {
        selected_.reset(); // a device no longer listed cannot be saved from here
    }
    picker_->setCurrentIndex(current);
    updating_ = false;
    updateButtons();
}

void BluetoothSettingsSection::updateButtons() {
    // Saving "no device" would drop the saved device and the serial port alike, which no
    // one means by pressing save with an empty choice.
    saveButton_->setEnabled(selected_.has_value());
    saveAndConnectButton_->setEnabled(selected_.has_value());
}

} // namespace orvane
