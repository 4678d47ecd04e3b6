#pragma once

#include "clipboard/ClipboardEntry.h"

#include <QImage>
#include <QWidget>

namespace orvane {

class ClipboardImageCache;

// An image entry's picture in its history row, loaded through the shared cache. It takes
// minHeight while loading, then the image's proportional height for a 320 px width,
// bounded by maxHeight; an image that cannot be loaded shows a placeholder.
class ClipboardImageThumbnail : public QWidget {
    Q_OBJECT

public:
    enum class ThumbnailPhase { loading, ready, unavailable };

    ClipboardImageThumbnail(const ClipboardEntry& entry, int minHeight, int maxHeight,
                            ClipboardImageCache& cache, QWidget* parent = nullptr);

    ThumbnailPhase phase() const { return phase_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void onLoaded(const QString& key, bool ok);
    void takeFromCache();

    ClipboardImageCache& cache_;
    QString key_;
    int minHeight_;
    int maxHeight_;
    QImage image_;
    ThumbnailPhase phase_ = ThumbnailPhase::loading;
};

} // namespace orvane
