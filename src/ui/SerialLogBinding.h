#pragma once

#include <QObject>

namespace orvane {

class AppModel;
class AppShell;
class SerialLogPanelView;

// Puts the serial log panel under the clipboard history and keeps it in step with the
// serial service: while the log is enabled, the store's deltas and resets go to the text;
// the service's pause flag and the store's hasLogs go to the toolbar, the toolbar's
// requests to the service. Also sizes the window for the log whenever the model's
// debug-log flag changes.
//
// Main thread only; lives as long as the model and the shell.
class SerialLogBinding : public QObject {
    Q_OBJECT

public:
    SerialLogBinding(AppModel& model, AppShell& shell, QObject* parent = nullptr);

    SerialLogPanelView* panel() const { return panel_; }

private:
    void followStore(bool follow);
    void copyLog();

    AppModel& model_;
    SerialLogPanelView* panel_;
    QMetaObject::Connection deltaConnection_;
    QMetaObject::Connection resetConnection_;
};

} // namespace orvane
