#pragma once

#include "clipboard/ClipboardKind.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace orvane {

// What was read from, or is to be written to, the system clipboard.
struct ClipboardContent {
    std::optional<ClipboardKind> kind; // absent: nothing usable on the clipboard
    QString text;      // the text; for files the paths joined by "\n"; for an image "[截图]"
    QStringList files; // absolute paths, only for files
    // Only for images. The bytes may be PNG or JPEG despite the name: JPEG is passed
    // through unchanged rather than re-encoded.
    std::optional<QByteArray> imagePNG;

    friend bool operator==(const ClipboardContent&, const ClipboardContent&) = default;
};

} // namespace orvane
