#include "clipboard/ClipboardConversions.h"

#include <QFile>

namespace orvane::ClipboardConversions {

namespace {

QString imageLabel() {
    return QStringLiteral("[截图]");
}

std::optional<QByteArray> readWholeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return std::nullopt;
    }
    return bytes;
}

} // namespace

ClipboardEntry entryFromContent(const ClipboardContent& content, qint64 id, qint64 timestamp) {
    ClipboardEntry entry;
    entry.id = id;
    entry.timestamp = timestamp;
    if (!content.kind) {
        return entry;
    }
    entry.kind = *content.kind;
    switch (*content.kind) {
    case ClipboardKind::text:
        entry.text = content.text;
        break;
    case ClipboardKind::files:
        entry.text = content.text;
        entry.files = content.files;
        break;
    case ClipboardKind::image:
        entry.text = imageLabel();
        entry.imageData = content.imagePNG.value_or(QByteArray());
        break;
    }
    entry.dataSize = ClipboardEntry::computeDataSize(entry);
    entry.fingerprint = entry.computeFingerprint();
    return entry;
}

Result<ClipboardContent, ClipboardError> contentFromEntry(const ClipboardEntry& entry) {
    ClipboardContent content;
    content.kind = entry.kind;
    switch (entry.kind) {
    case ClipboardKind::text:
        content.text = entry.text;
        return content;
    case ClipboardKind::files:
        content.files = entry.files;
        content.text = entry.text.isEmpty() ? entry.files.join(u'\n') : entry.text;
        return content;
    case ClipboardKind::image:
        content.text = imageLabel();
        if (entry.imageData && !entry.imageData->isEmpty()) {
            content.imagePNG = *entry.imageData;
            return content;
        }
        if (entry.imagePath && !entry.imagePath->isEmpty()) {
            if (auto bytes = readWholeFile(*entry.imagePath); bytes && !bytes->isEmpty()) {
                content.imagePNG = std::move(*bytes);
                return content;
            }
        }
        return fail(ClipboardError::emptyContent());
    }
    Q_UNREACHABLE();
}

} // namespace orvane::ClipboardConversions
