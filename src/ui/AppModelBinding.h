#pragma once

#include <QObject>

namespace orvane {

class AppModel;
class AppShell;
class ClipboardPanelView;
class MainView;
class SerialStatusBar;

// Connects the window's views to the application model: the model's state flows into
// the views' setters, the views' requests go to the model's actions. The desktop program
// and the widget tests build the same binding, so what the tests drive is what users see.
//
// Main thread only; goes before the model and the shell it joins (its connections carry
// it as their context, so none of them outlives it).
class AppModelBinding : public QObject {
    Q_OBJECT

public:
    AppModelBinding(AppModel& model, AppShell& shell, QObject* parent = nullptr);
    ~AppModelBinding() override;

private:
    void bindMainView(MainView& view);
    void bindClipboardPanel(ClipboardPanelView& panel);
    void bindStatusBar(SerialStatusBar& bar);

    AppModel& model_;
    AppShell& shell_;
};

} // namespace orvane
