#include "ui/ClipboardHoverPreviewBinding.h"

#include "app/AppModel.h"
#include "ui/AppShell.h"
#include "ui/ClipboardHistoryRow.h"
#include "ui/ClipboardHoverPreviewController.h"
#include "ui/ClipboardPanelView.h"
#include "ui/MainView.h"

#include <algorithm>

namespace orvane {

ClipboardHoverPreviewBinding::ClipboardHoverPreviewBinding(AppModel& model, AppShell& shell,
                                                           QObject* parent)
    : QObject(parent)
    , model_(model)
    , panel_(*shell.mainView()->clipboardPanel())
    , controller_(new ClipboardHoverPreviewController(panel_.imageCache(), this)) {
    connect(&panel_, &ClipboardPanelView::previewRequested, controller_,
            [this](const ClipboardEntry& entry) { controller_->show(entry, rowRect(entry.id)); });
    connect(&panel_, &ClipboardPanelView::previewHideRequested, controller_,
            &ClipboardHoverPreviewController::hide);
    connect(&shell, &AppShell::orvaneHideTransientUI, controller_,
            &ClipboardHoverPreviewController::hide);
    connect(&shell, &AppShell::orvaneWillTerminate, controller_,
            &ClipboardHoverPreviewController::hide);
    connect(controller_, &ClipboardHoverPreviewController::activeEntryChanged, &panel_,
            &ClipboardPanelView::setPreviewedEntryId);
    connect(&model_, &AppModel::clipboardStateChanged, controller_, [this] {
        const auto& active = controller_->activeEntry();
        if (!active) {
            return;
        }
        const auto& history = model_.clipboardState().history;
        const bool kept = std::any_of(history.begin(), history.end(),
                                      [&](const ClipboardEntry& e) { return e.id == active->id; });
        if (!kept) {
            controller_->hide();
        }
    });
}

ClipboardHoverPreviewBinding::~ClipboardHoverPreviewBinding() = default;

std::optional<QRect> ClipboardHoverPreviewBinding::rowRect(qint64 entryId) const {
    for (ClipboardHistoryRow* row : panel_.rows()) {
        if (row->entry().id == entryId && row->isVisible()) {
            return QRect(row->mapToGlobal(QPoint(0, 0)), row->size());
        }
    }
    return std::nullopt;
}

} // namespace orvane
