#include "ui/SerialStatusBar.h"

#include "ui/SerialPortPicker.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace orvane {

namespace {

constexpr int dotSize = 8;

QColor stateColor(const QString& state) {
    if (state == QLatin1String("open")) {
        return QColor(0x34, 0xc7, 0x59);
    }
    if (state == QLatin1String("connecting") || state == QLatin1String("reconnecting")) {
        return QColor(0xff, 0x95, 0x00);
    }
    return QColor(0x8e, 0x8e, 0x93);
}

} // namespace

SerialStatusBar::SerialStatusBar(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("statusBar"));
    auto* layout = new QHBoxLayout(this);
    // Room on the left for the state dot painted in paintEvent.
    layout->setContentsMargins(dotSize + 8, 0, 0, 0);
    layout->setSpacing(8);
    linkLabel_ = new QLabel(this);
    linkLabel_->setObjectName(QStringLiteral("link"));
    layout->addWidget(linkLabel_);
    picker_ = new SerialPortPicker(this);
    layout->addWidget(picker_, 1);
    deviceLabel_ = new QLabel(this);
    deviceLabel_->setObjectName(QStringLiteral("bluetoothDevice"));
    layout->addWidget(deviceLabel_, 1);
    toggleButton_ = new QPushButton(this);
    toggleButton_->setObjectName(QStringLiteral("toggle"));
    toggleButton_->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(toggleButton_);

    connect(picker_, &SerialPortPicker::portChosen, this, &SerialStatusBar::portSelected);
    connect(picker_, &SerialPortPicker::popupAboutToShow, this,
            &SerialStatusBar::refreshPortsRequested);
    connect(toggleButton_, &QPushButton::clicked, this, [this] {
        if (toggle_ == Toggle::connect) {
            emit connectRequested();
        } else if (toggle_ == Toggle::close) {
            emit closeRequested();
        }
    });
    setLink(Link::serial);
    setToggle(Toggle::none);
    setConnectionState(state_);
}

void SerialStatusBar::setLink(Link link) {
    link_ = link;
    linkLabel_->setText(link == Link::serial ? QStringLiteral("串口") : QStringLiteral("蓝牙"));
    picker_->setVisible(link == Link::serial);
    deviceLabel_->setVisible(link == Link::bluetooth);
}

void SerialStatusBar::setPorts(const QList<SerialPortInfo>& ports, const QString& selectedPath) {
    picker_->setPorts(ports, selectedPath);
}

void SerialStatusBar::setConnectionState(const QString& state) {
    state_ = state;
    setToolTip(state);
    update();
}

void SerialStatusBar::setBluetoothDeviceName(const QString& name) {
    deviceLabel_->setText(name);
}

void SerialStatusBar::setToggle(Toggle toggle) {
    toggle_ = toggle;
    toggleButton_->setVisible(toggle != Toggle::none);
    toggleButton_->setText(toggle == Toggle::close ? QStringLiteral("关闭")
                                                   : QStringLiteral("连接"));
}

void SerialStatusBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(stateColor(state_));
    painter.drawEllipse(QRectF(1, (height() - dotSize) / 2.0, dotSize, dotSize));
}

} // namespace orvane
