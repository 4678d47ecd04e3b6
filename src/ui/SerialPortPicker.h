#pragma once

#include "serial/SerialPortInfo.h"

#include <QComboBox>
#include <QList>

namespace orvane {

// The serial port choice: the ports by display name, "无可用串口" when there are none.
// Opening the list asks for a fresh port list first (popupAboutToShow), and choosing a
// port reports its path.
class SerialPortPicker : public QComboBox {
    Q_OBJECT

public:
    explicit SerialPortPicker(QWidget* parent = nullptr);

    // Selects selectedPath when listed; a selected port that is gone stays in the list
    // (by its path) so the choice in force remains visible.
    void setPorts(const QList<SerialPortInfo>& ports, const QString& selectedPath);

    void showPopup() override;

signals:
    void popupAboutToShow();
    void portChosen(const QString& path);

private:
    bool updating_ = false;
};

} // namespace orvane
