#include "ui/SerialPortPicker.h"

namespace orvane {

SerialPortPicker::SerialPortPicker(QWidget* parent)
    : QComboBox(parent) {
    setObjectName(QStringLiteral("portPicker"));
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
    setMinimumContentsLength(12);
    connect(this, &QComboBox::activated, this, [this](int index) {
        const QString path = itemData(index).toString();
        if (!updating_ && !path.isEmpty()) {
            emit portChosen(path);
        }
    });
    setPorts({}, {});
}

void SerialPortPicker::setPorts(const QList<SerialPortInfo>& ports, const QString& selectedPath) {
    updating_ = true;
    clear();
    bool selectedListed = false;
    for (const SerialPortInfo& port : ports) {
        addItem(port.displayName(), port.path);
        selectedListed = selectedListed || port.path == selectedPath;
    }
    if (!selectedPath.isEmpty() && !selectedListed) {
        addItem(selectedPath, selectedPath);
    }
    if (count() == 0) {
        addItem(QStringLiteral("无可用串口"), QString());
    }
    const int selected = findData(selectedPath);
    setCurrentIndex(selected >= 0 ? selected : 0);
    updating_ = false;
}

void SerialPortPicker::showPopup() {
    emit popupAboutToShow();
    QComboBox::showPopup();
}

} // namespace orvane
