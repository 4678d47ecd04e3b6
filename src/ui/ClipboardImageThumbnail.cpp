#include "ui/ClipboardImageThumbnail.h"

#include "ui/ClipboardImageCache.h"
#include "ui/ClipboardImagePreviewMetrics.h"
#include "ui/Symbols.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace orvane {

ClipboardImageThumbnail::ClipboardImageThumbnail(const ClipboardEntry& entry, int minHeight,
                                                 int maxHeight, ClipboardImageCache& cache,
                                                 QWidget* parent)
    : QWidget(parent)
    , cache_(cache)
    , key_(ClipboardImageCache::key(entry))
    , minHeight_(minHeight)
    , maxHeight_(maxHeight) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFixedHeight(sizeHint().height());
    connect(&cache_, &ClipboardImageCache::finished, this, &ClipboardImageThumbnail::onLoaded);
    takeFromCache();
    if (phase_ == ThumbnailPhase::loading) {
        cache_.load(entry);
    }
}

QSize ClipboardImageThumbnail::sizeHint() const {
    const QSize imageSize = phase_ == ThumbnailPhase::ready ? image_.size() : QSize();
    return {ClipboardImagePreviewMetrics::thumbnailLayoutWidth,
            ClipboardImagePreviewMetrics::thumbnailHeight(imageSize, minHeight_, maxHeight_)};
}

void ClipboardImageThumbnail::takeFromCache() {
    if (cache_.hasFailed(key_)) {
        phase_ = ThumbnailPhase::unavailable;
    } else if (const auto image = cache_.cached(key_)) {
        image_ = *image;
        phase_ = ThumbnailPhase::ready;
    } else {
        return;
    }
    setFixedHeight(sizeHint().height());
    update();
}

void ClipboardImageThumbnail::onLoaded(const QString& key, bool) {
    if (key == key_ && phase_ == ThumbnailPhase::loading) {
        takeFromCache();
    }
}

void ClipboardImageThumbnail::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QColor secondary = palette().color(QPalette::PlaceholderText);
    QColor wash = secondary;
    wash.setAlphaF(0.08f);
    const QRectF area(0.5, 0.5,
                      std::min(width(), ClipboardImagePreviewMetrics::thumbnailLayoutWidth) - 1.0,
                      height() - 1.0);
    if (phase_ == ThumbnailPhase::ready) {
        const QSizeF fitted =
            ClipboardImagePreviewMetrics::fit(image_.size(), area.size().toSize());
        const QRectF target(area.topLeft(), fitted);
        QPainterPath clip;
        clip.addRoundedRect(target, 6, 6);
        painter.setClipPath(clip);
        painter.drawImage(target, image_);
        painter.setClipping(false);
        QColor outline = secondary;
        outline.setAlphaF(0.35f);
        painter.setPen(outline);
        painter.drawRoundedRect(target, 6, 6);
        return;
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(wash);
    painter.drawRoundedRect(area, 6, 6);
    if (phase_ == ThumbnailPhase::unavailable) {
        const int iconSize = 18;
        QFont caption = font();
        caption.setPointSizeF(caption.pointSizeF() * 0.85);
        painter.setFont(caption);
        const QString text = QStringLiteral("无法加载截图");
        const int textWidth = painter.fontMetrics().horizontalAdvance(text);
        const int total = iconSize + 6 + textWidth;
        const int x = int(area.center().x()) - total / 2;
        const int y = int(area.center().y());
        painter.drawPixmap(x, y - iconSize / 2,
                           Symbols::icon(QStringLiteral("photo")).pixmap(iconSize, iconSize));
        painter.setPen(secondary);
        painter.drawText(QRect(x + iconSize + 6, y - iconSize, textWidth + 2, iconSize * 2),
                         Qt::AlignVCenter | Qt::AlignLeft, text);
    }
}

} // namespace orvane
