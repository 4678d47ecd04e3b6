#pragma once

#include "serial/SerialPortInfo.h"

#include <QList>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QPushButton;

namespace orvane {

class NumericTextField;

// The serial port page of the settings: the port and baud rate, edited locally and saved
// together by "保存并连接", and the debug-log switch, which acts at once.
class SerialSettingsSection : public QWidget {
    Q_OBJECT

public:
    explicit SerialSettingsSection(QWidget* parent = nullptr);

    // The ports on offer. A chosen port that is no longer listed stays chosen, shown by
    // its path, so that a save does not silently switch to another port.
    void setPorts(const QList<SerialPortInfo>& ports);

    // The locally edited values.
    QString serialPort() const { return serialPort_; }
    void setSerialPort(const QString& path);
    qint64 baudRate() const;
    void setBaudRate(qint64 baudRate);

    void setDebugLogEnabled(bool enabled);

    QComboBox* portPicker() const { return picker_; }
    NumericTextField* baudRateField() const { return baudRate_; }

signals:
    void refreshPortsRequested();
    void saveRequested();
    void debugLogToggled(bool enabled);

private:
    void fillPicker();

    QComboBox* picker_;
    NumericTextField* baudRate_;
    QPushButton* saveButton_;
    QCheckBox* debugLog_;
    QList<SerialPortInfo> ports_;
    QString serialPort_;
    bool updating_ = false;
};

} // namespace orvane
