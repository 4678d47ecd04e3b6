#pragma once

#include "clipboard/ClipboardEntry.h"
#include "ui/ClipboardPreviewLayout.h"
#include "ui/ScreenArea.h"

#include <QObject>
#include <QRect>
#include <QSize>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace orvane {

class ClipboardHoverPreview;
class ClipboardImageCache;

// Decides what the hover preview shows, on which screen, how large and where; owns the
// preview window (created on first use and kept for reuse).
//
// A click on the preview closes it and keeps it closed for reshowSuppression, so the
// same click cannot reopen it through the history row underneath. Placement is left to
// the compositor on native Wayland, which does not let clients position windows; the
// sizing rules hold there too.
//
// Main thread only.
class ClipboardHoverPreviewController : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using ScreenSource = std::function<ScreenLayout()>;
    using PointerSource = std::function<std::optional<QPoint>()>;

    static constexpr std::chrono::milliseconds reshowSuppression{400};

    // Without sources the real clock, QScreen's screens and the real pointer are used.
    explicit ClipboardHoverPreviewController(ClipboardImageCache& images,
                                             QObject* parent = nullptr);
    ~ClipboardHoverPreviewController() override;

    void setClock(Clock clock) { clock_ = std::move(clock); }
    void setScreenSource(ScreenSource source) { screens_ = std::move(source); }
    void setPointerSource(PointerSource source) { pointer_ = std::move(source); }
    // Off on native Wayland by default.
    void setPlacementEnabled(bool enabled) { placementEnabled_ = enabled; }

    const std::optional<ClipboardEntry>& activeEntry() const { return activeEntry_; }
    bool isPreviewPointerInside() const { return pointerInside_; }
    QSize lastPresentedSize() const { return lastPresentedSize_; }
    const ClipboardPreviewLayout::Limits& limits() const { return limits_; }
    // Nothing before the first show.
    ClipboardHoverPreview* panel() const { return panel_.get(); }

public slots:
    // Opens the preview for the entry or switches it there; rowRect is the entry's row
    // in global coordinates when it is known. Does nothing while the reshow is suppressed.
    void show(const ClipboardEntry& entry, const std::optional<QRect>& rowRect = std::nullopt);
    void hide();
    // The pointer is over the preview of this entry: it stays open.
    void keepOpen(const ClipboardEntry& entry);
    // The content's wish; reports of 40 or less on a side come from an unsettled layout.
    void noteContentChanged(QSizeF preferredSize);

signals:
    // The entry shown, for the history's highlight; nothing once closed.
    void activeEntryChanged(std::optional<qint64> id);

private:
    void ensurePanel();
    void present(const ClipboardEntry& entry, const std::optional<QRect>& rowRect);
    void applyPanelSize(QSize requested);
    void closeByClick();
    void setActiveEntry(std::optional<ClipboardEntry> entry);

    ClipboardImageCache& images_;
    Clock clock_;
    ScreenSource screens_;
    PointerSource pointer_;
    bool placementEnabled_;

    std::unique_ptr<ClipboardHoverPreview> panel_;
    std::optional<ClipboardEntry> activeEntry_;
    QRect visibleFrame_;
    ClipboardPreviewLayout::Limits limits_;
    QSize lastPresentedSize_;
    std::optional<QSize> preferredContentSize_;
    bool pointerInside_ = false;
    std::optional<std::chrono::steady_clock::time_point> suppressReshowUntil_;
};

} // namespace orvane
