#include "clipboard/ClipboardKind.h"

namespace orvane {

QString clipboardKindRawValue(ClipboardKind kind) {
    switch (kind) {
    case ClipboardKind::text:
        return QStringLiteral("text");
    case ClipboardKind::files:
        return QStringLiteral("files");
    case ClipboardKind::image:
        return QStringLiteral("image");
    }
    Q_UNREACHABLE();
}

std::optional<ClipboardKind> clipboardKindFromRawValue(const QString& raw) {
    if (raw == u"text") {
        return ClipboardKind::text;
    }
    if (raw == u"files") {
        return ClipboardKind::files;
    }
    if (raw == u"image") {
        return ClipboardKind::image;
    }
    return std::nullopt;
}

} // namespace orvane
