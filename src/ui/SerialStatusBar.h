#pragma once

#include "serial/SerialPortInfo.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace orvane {

class SerialPortPicker;

// The link line at the top of the clipboard panel: which link is in use, its state, the
// serial port picker, and the connect or close button when one applies. It shows what
// it is told and reports what the user asks for.
class SerialStatusBar : public QWidget {
    Q_OBJECT

public:
    enum class Link { serial, bluetooth };
    enum class Toggle { none, connect, close };

    explicit SerialStatusBar(QWidget* parent = nullptr);

    void setLink(Link link);
    void setPorts(const QList<SerialPortInfo>& ports, const QString& selectedPath);
    // "open", "connecting", "reconnecting" or "closed".
    void setConnectionState(const QString& state);
    // The BLE device shown instead of the port picker while Bluetooth is the link.
    void setBluetoothDeviceName(const QString& name);
    void setToggle(Toggle toggle);

    Link link() const { return link_; }
    QString connectionState() const { return state_; }
    SerialPortPicker* portPicker() const { return picker_; }

signals:
    void portSelected(const QString& path);
    void refreshPortsRequested();
    void connectRequested();
    void closeRequested();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Link link_ = Link::serial;
    Toggle toggle_ = Toggle::none;
    QString state_ = QStringLiteral("closed");
    QLabel* linkLabel_;
    QLabel* deviceLabel_;
    SerialPortPicker* picker_;
    QPushButton* toggleButton_;
};

} // namespace orvane
