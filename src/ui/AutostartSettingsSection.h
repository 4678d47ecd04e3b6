#pragma once

#include <QWidget>

class QCheckBox;

namespace orvane {

// The start-at-login page of the settings; the switch acts at once.
class AutostartSettingsSection : public QWidget {
    Q_OBJECT

public:
    explicit AutostartSettingsSection(QWidget* parent = nullptr);

    void setAutostart(bool enabled);
    bool autostart() const;

signals:
    void autostartToggled(bool enabled);

private:
    QCheckBox* toggle_;
};

} // namespace orvane
