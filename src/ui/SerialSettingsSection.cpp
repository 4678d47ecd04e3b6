#include "ui/SerialSettingsSection.h"

#include "ui/NumericTextField.h"
#include "ui/SettingsPanelView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace orvane {

SerialSettingsSection::SerialSettingsSection(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("serialSection"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(SettingsPanelView::makeTitle(QStringLiteral("串口"), this));

    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    auto* portRow = new QHBoxLayout;
    picker_ = new QComboBox(this);
    picker_->setObjectName(QStringLiteral("portPicker"));
    picker_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    picker_->setMinimumContentsLength(12);
    portRow->addWidget(picker_, 1);
    auto* refresh = new QPushButton(QStringLiteral("刷新端口"), this);
    refresh->setObjectName(QStringLiteral("refreshPorts"));
    portRow->addWidget(refresh);
    form->addRow(QStringLiteral("端口"), portRow);
    baudRate_ = new NumericTextField(this);
    baudRate_->setObjectName(QStringLiteral("baudRate"));
    form->addRow(QStringLiteral("波特率"), baudRate_);
    layout->addLayout(form);

    saveButton_ = new QPushButton(QStringLiteral("保存并连接"), this);
    saveButton_->setObjectName(QStringLiteral("saveSerial"));
    saveButton_->setDefault(true);
    auto* saveRow = new QHBoxLayout;
    saveRow->addStretch(1);
    saveRow->addWidget(saveButton_);
    layout->addLayout(saveRow);

    debugLog_ = new QCheckBox(QStringLiteral("开启串口调试日志"), this);
    debugLog_->setObjectName(QStringLiteral("debugLog"));
    layout->addWidget(debugLog_);
    layout->addWidget(SettingsPanelView::makeHint(
        QStringLiteral("开启后首页显示串口日志：SYS 事件、协议帧摘要、ERR 错误。"), this));
    layout->addStretch(1);

    connect(picker_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (updating_ || index < 0) {
            return;
        }
        serialPort_ = picker_->itemData(index).toString();
    });
    connect(refresh, &QPushButton::clicked, this, &SerialSettingsSection::refreshPortsRequested);
    connect(saveButton_, &QPushButton::clicked, this, &SerialSettingsSection::saveRequested);
    // clicked, not toggled: only the user's switch is a request, never setDebugLogEnabled.
    connect(debugLog_, &QCheckBox::clicked, this, &SerialSettingsSection::debugLogToggled);
    fillPicker();
}

void SerialSettingsSection::setPorts(const QList<SerialPortInfo>& ports) {
    ports_ = ports;
    fillPicker();
}

void SerialSettingsSection::setSerialPort(const QString& path) {
    serialPort_ = path;
    fillPicker();
}

qint64 SerialSettingsSection::baudRate() const {
    return baudRate_->value();
}

void SerialSettingsSection::setBaudRate(qint64 baudRate) {
    baudRate_->setValue(baudRate);
}

void SerialSettingsSection::setDebugLogEnabled(bool enabled) {
    debugLog_->setChecked(enabled);
}

void SerialSettingsSection::fillPicker() {
    updating_ = true;
    picker_->clear();
    picker_->addItem(QStringLiteral("选择串口…"), QString());
    int selected = 0;
    for (const SerialPortInfo& port : ports_) {
        picker_->addItem(port.displayName(), port.path);
        if (port.path == serialPort_) {
            selected = picker_->count() - 1;
        }
    }
    if (selected == 0 && !serialPort_.isEmpty()) {
        picker_->addItem(serialPort_, serialPort_);
        selected = picker_->count() - 1;
    }
    picker_->setCurrentIndex(selected);
    updating_ = false;
}

} // namespace orvane
