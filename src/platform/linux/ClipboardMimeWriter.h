#pragma once

#include "clipboard/ClipboardContent.h"
#include "clipboard/ClipboardError.h"
#include "common/Result.h"

#include <QMimeData>
#include <QString>

#include <memory>

namespace orvane {

// How ClipboardContent is offered to other programs, as a QMimeData.
namespace ClipboardMimeWriter {

struct Offer {
    std::unique_ptr<QMimeData> mime; // null: there is nothing to put on the clipboard
    QString mainFormat;              // the format named when setting the clipboard fails
};

// Text as text/plain. An image by its first bytes: PNG as image/png, JPEG as image/jpeg
// and also as image/png (JpegImageMimeData), anything else Qt decodes as an image that Qt converts
// to whatever format a reader asks for. Files as text/uri-list, with x-special/gnome-copied-files
// so that file managers paste them as files, and the paths as text/plain for editors; no files, no
// offer. Fails with emptyContent without a kind and emptyImage without decodable image bytes.
Result<Offer, ClipboardError> offerFor(const ClipboardContent& content);

} // namespace ClipboardMimeWriter

} // namespace orvane
