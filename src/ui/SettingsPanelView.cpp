#include "ui/SettingsPanelView.h"

#include "ui/AboutSettingsSection.h"
#include "ui/AutostartSettingsSection.h"
#include "ui/BluetoothSettingsSection.h"
#include "ui/SerialSettingsSection.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace orvane {

QList<SettingsPanelView::SettingsSection> SettingsPanelView::allSections() {
    return {SettingsSection::serial, SettingsSection::bluetooth, SettingsSection::autostart,
            SettingsSection::about};
}

QString SettingsPanelView::title(SettingsSection section) {
    switch (section) {
    case SettingsSection::serial:
        return QStringLiteral("串口");
    case SettingsSection::bluetooth:
        return QStringLiteral("蓝牙");
    case SettingsSection::autostart:
        return QStringLiteral("启动");
    case SettingsSection::about:
        return QStringLiteral("关于");
    }
    return {};
}

SettingsPanelView::SettingsPanelView(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("settingsPanel"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    sectionList_ = new QListWidget(this);
    sectionList_->setObjectName(QStringLiteral("sectionList"));
    sectionList_->setFixedWidth(sectionListWidth);
    sectionList_->setFrameShape(QFrame::NoFrame);
    // The primary (text) colour at 4 % over the window, whatever the theme's colours are.
    QColor tint = palette().color(QPalette::WindowText);
    tint.setAlphaF(0.04F);
    sectionList_->setStyleSheet(
        QStringLiteral("QListWidget#sectionList { background: rgba(%1, %2, %3, %4); }"
                       "QListWidget#sectionList::item { padding: 6px 10px; }")
            .arg(tint.red())
            .arg(tint.green())
            .arg(tint.blue())
            .arg(tint.alphaF()));
    for (SettingsSection section : allSections()) {
        sectionList_->addItem(title(section));
    }
    layout->addWidget(sectionList_);

    auto* right = new QVBoxLayout;
    right->setContentsMargins(20, 14, 20, 14);
    right->setSpacing(10);
    auto* top = new QHBoxLayout;
    error_ = new QLabel(this);
    error_->setObjectName(QStringLiteral("errorMessage"));
    error_->setWordWrap(true);
    error_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette red = error_->palette();
    red.setColor(QPalette::WindowText, QColor(0xff, 0x3b, 0x30));
    error_->setPalette(red);
    top->addWidget(error_, 1);
    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("close"));
    close->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    top->addWidget(close, 0, Qt::AlignTop | Qt::AlignRight);
    right->addLayout(top);

    pages_ = new QStackedWidget(this);
    serial_ = new SerialSettingsSection;
    bluetooth_ = new BluetoothSettingsSection;
    autostart_ = new AutostartSettingsSection;
    about_ = new AboutSettingsSection;
    for (QWidget* page : {static_cast<QWidget*>(serial_), static_cast<QWidget*>(bluetooth_),
                          static_cast<QWidget*>(autostart_), static_cast<QWidget*>(about_)}) {
        // A short window still reaches every control of the longer sections.
        auto* scroll = new QScrollArea(pages_);
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidget(page);
        pages_->addWidget(scroll);
    }
    right->addWidget(pages_, 1);
    layout->addLayout(right, 1);

    connect(sectionList_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < allSections().size()) {
            setSection(allSections()[row]);
        }
    });
    connect(close, &QPushButton::clicked, this, &SettingsPanelView::closeRequested);
    setErrorMessage({});
    sectionList_->setCurrentRow(0);
}

void SettingsPanelView::loadFromApp(const AppSettings& settings,
                                    const QList<BLEUARTDevice>& filteredDevices) {
    serial_->setSerialPort(settings.serialPort);
    serial_->setBaudRate(settings.baudRate);
    autostart_->setAutostart(settings.autostart);
    bluetooth_->setDevices(filteredDevices);
    bluetooth_->selectDevice(settings.bluetoothDeviceID);
}

void SettingsPanelView::setSection(SettingsSection section) {
    section_ = section;
    const int index = int(allSections().indexOf(section));
    pages_->setCurrentIndex(index);
    if (sectionList_->currentRow() != index) {
        sectionList_->setCurrentRow(index);
    }
}

void SettingsPanelView::setErrorMessage(const QString& message) {
    error_->setText(message);
    error_->setVisible(!message.isEmpty());
}

QLabel* SettingsPanelView::makeTitle(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 1.25);
    font.setBold(true);
    label->setFont(font);
    return label;
}

QLabel* SettingsPanelView::makeHint(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    QPalette secondary = label->palette();
    secondary.setColor(QPalette::WindowText, secondary.color(QPalette::PlaceholderText));
    label->setPalette(secondary);
    return label;
}

void SettingsPanelView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    emit shown();
}

} // namespace orvane
