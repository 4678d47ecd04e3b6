#pragma once

#include <QImage>
#include <QSize>
#include <QSizeF>

namespace orvane {

// Sizes for showing a clipboard image: thumbnails in the history and the larger preview.
namespace ClipboardImagePreviewMetrics {

struct Result {
    int pixelWidth = 0;
    int pixelHeight = 0;
    QSizeF display;   // the image as drawn
    QSizeF panelSize; // the image with 12 points of frame on every side

    friend bool operator==(const Result&, const Result&) = default;
};

// Scales down (never up) to fit the box, flooring each side and keeping it at least 1.
// An image with an empty side gets min(box width, 240) x min(box height, 160).
QSizeF fit(QSize pixelSize, QSizeF box);

// The preview of an image of this pixel size in at most contentMax, which is raised to
// at least 160 x 100.
Result make(QSize pixelSize, QSizeF contentMax);

// The height of a thumbnail laid out 320 wide: minHeight until the image is known (or
// when it has an empty side), else its proportional height bounded by maxHeight and
// minHeight, and at least 1.
int thumbnailHeight(QSize imageSize, int minHeight, int maxHeight);

constexpr int thumbnailLayoutWidth = 320;

} // namespace ClipboardImagePreviewMetrics

} // namespace orvane
