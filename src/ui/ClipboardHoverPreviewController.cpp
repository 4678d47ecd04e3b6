#include "ui/ClipboardHoverPreviewController.h"

#include "ui/AppShell.h"
#include "ui/ClipboardFormatting.h"
#include "ui/ClipboardHoverPreview.h"

#include <QCursor>
#include <QGuiApplication>
#include <QThread>

#include <cmath>

namespace orvane {

ClipboardHoverPreviewController::ClipboardHoverPreviewController(ClipboardImageCache& images,
                                                                 QObject* parent)
    : QObject(parent)
    , images_(images)
    , clock_([] { return std::chrono::steady_clock::now(); })
    , screens_(&AppShell::currentScreenLayout)
    , pointer_([]() -> std::optional<QPoint> { return QCursor::pos(); })
    , placementEnabled_(!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {}

ClipboardHoverPreviewController::~ClipboardHoverPreviewController() = default;

void ClipboardHoverPreviewController::show(const ClipboardEntry& entry,
                                           const std::optional<QRect>& rowRect) {
    Q_ASSERT(QThread::currentThread() == thread());
    if (suppressReshowUntil_ && clock_() < *suppressReshowUntil_) {
        return;
    }
    setActiveEntry(entry);
    present(entry, rowRect);
}

void ClipboardHoverPreviewController::hide() {
    Q_ASSERT(QThread::currentThread() == thread());
    pointerInside_ = false;
    lastPresentedSize_ = {};
    preferredContentSize_.reset();
    if (panel_) {
        panel_->hide();
        panel_->clear();
    }
    setActiveEntry(std::nullopt);
}

void ClipboardHoverPreviewController::keepOpen(const ClipboardEntry& entry) {
    pointerInside_ = true;
    setActiveEntry(entry);
}

void ClipboardHoverPreviewController::noteContentChanged(QSizeF preferredSize) {
    if (!ClipboardPreviewLayout::acceptsContentReport(preferredSize)) {
        return;
    }
    const QSize size(int(std::ceil(preferredSize.width())), int(std::ceil(preferredSize.height())));
    preferredContentSize_ = size;
    if (activeEntry_) {
        applyPanelSize(size);
    }
}

void ClipboardHoverPreviewController::ensurePanel() {
    if (panel_) {
        return;
    }
    panel_ = std::make_unique<ClipboardHoverPreview>(images_);
    connect(panel_.get(), &ClipboardHoverPreview::clicked, this,
            &ClipboardHoverPreviewController::closeByClick);
    connect(panel_.get(), &ClipboardHoverPreview::escapePressed, this,
            &ClipboardHoverPreviewController::hide);
    connect(panel_.get(), &ClipboardHoverPreview::pointerEntered, this,
            [this] { pointerInside_ = true; });
    connect(panel_.get(), &ClipboardHoverPreview::pointerLeft, this,
            [this] { pointerInside_ = false; });
    connect(panel_.get(), &ClipboardHoverPreview::contentChanged, this,
            &ClipboardHoverPreviewController::noteContentChanged);
}

void ClipboardHoverPreviewController::present(const ClipboardEntry& entry,
                                              const std::optional<QRect>& rowRect) {
    ensurePanel();
    visibleFrame_ = ClipboardPreviewLayout::visibleFrameForPreview(screens_(), rowRect, pointer_());
    limits_ = ClipboardPreviewLayout::limits(visibleFrame_.size());
    preferredContentSize_.reset();
    if (entry.kind == ClipboardKind::text) {
        applyPanelSize(
            panel_->showText(ClipboardFormatting::previewPanelText(entry.text), limits_));
    } else {
        // The content reports the size it wants at once (noteContentChanged applies it)
        // and again when a picture has been decoded.
        const QSize before = lastPresentedSize_;
        panel_->showContent(entry, limits_.maxContent());
        if (!preferredContentSize_) {
            applyPanelSize(before.isValid() ? before : QSize(320, 200));
        }
    }
    panel_->show();
    panel_->raise();
    if (const auto pointer = pointer_()) {
        pointerInside_ =
            ClipboardPreviewLayout::pointerNear(QRect(panel_->pos(), panel_->size()), *pointer);
    }
}

void ClipboardHoverPreviewController::applyPanelSize(QSize requested) {
    const QSize size = ClipboardPreviewLayout::panelSize(requested, limits_);
    if (placementEnabled_) {
        panel_->setGeometry(ClipboardPreviewLayout::centredFrame(visibleFrame_, size));
    } else {
        panel_->resize(size);
    }
    lastPresentedSize_ = size;
}

void ClipboardHoverPreviewController::closeByClick() {
    hide();
    suppressReshowUntil_ = clock_() + reshowSuppression;
}

void ClipboardHoverPreviewController::setActiveEntry(std::optional<ClipboardEntry> entry) {
    const bool had = activeEntry_.has_value();
    const qint64 beforeID = had ? activeEntry_->id : 0;
    activeEntry_ = std::move(entry);
    const bool has = activeEntry_.has_value();
    if (had != has || (has && activeEntry_->id != beforeID)) {
        emit activeEntryChanged(has ? std::optional<qint64>(activeEntry_->id) : std::nullopt);
    }
}

} // namespace orvane
