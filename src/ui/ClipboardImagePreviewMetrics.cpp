#include "ui/ClipboardImagePreviewMetrics.h"

#include <algorithm>
#include <cmath>

namespace orvane::ClipboardImagePreviewMetrics {

QSizeF fit(QSize pixelSize, QSizeF box) {
    if (pixelSize.width() <= 0 || pixelSize.height() <= 0) {
        return {std::min(box.width(), 240.0), std::min(box.height(), 160.0)};
    }
    const double w = pixelSize.width();
    const double h = pixelSize.height();
    const double scale = std::min({box.width() / w, box.height() / h, 1.0});
    return {std::max(1.0, std::floor(w * scale)), std::max(1.0, std::floor(h * scale))};
}

Result make(QSize pixelSize, QSizeF contentMax) {
    const QSizeF box(std::max(contentMax.width(), 160.0), std::max(contentMax.height(), 100.0));
    const QSizeF display = fit(pixelSize, box);
    return Result{pixelSize.width(), pixelSize.height(), display,
                  QSizeF(display.width() + 24, display.height() + 24)};
}

int thumbnailHeight(QSize imageSize, int minHeight, int maxHeight) {
    if (imageSize.width() <= 0 || imageSize.height() <= 0) {
        return std::max(minHeight, 1);
    }
    const double proportional =
        double(thumbnailLayoutWidth) * imageSize.height() / imageSize.width();
    const double bounded = std::max(std::min(proportional, double(maxHeight)), double(minHeight));
    return std::max(1, int(std::lround(bounded)));
}

} // namespace orvane::ClipboardImagePreviewMetrics
