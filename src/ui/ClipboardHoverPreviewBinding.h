#pragma once

#include <QObject>
#include <QRect>

#include <optional>

namespace orvane {

class AppModel;
class AppShell;
class ClipboardHoverPreviewController;
class ClipboardPanelView;

// Hangs the hover preview under the clipboard panel: the panel's single clicks open it
// on the screen of the clicked row, double clicks and the window's hiding close it, the
// previewed row is highlighted, and an entry that leaves the history takes its preview
// with it.
//
// Main thread only; lives as long as the model and the shell it joins.
class ClipboardHoverPreviewBinding : public QObject {
    Q_OBJECT

public:
    ClipboardHoverPreviewBinding(AppModel& model, AppShell& shell, QObject* parent = nullptr);
    ~ClipboardHoverPreviewBinding() override;

    ClipboardHoverPreviewController& controller() const { return *controller_; }

private:
    // The entry's row in global coordinates while it is on screen.
    std::optional<QRect> rowRect(qint64 entryId) const;

    AppModel& model_;
    ClipboardPanelView& panel_;
    ClipboardHoverPreviewController* controller_;
};

} // namespace orvane
