#include "clipboard/ClipboardEntry.h"

#include "clipboard/ClipboardDigest.h"

#include <QFileInfo>

namespace orvane {

namespace {

const QByteArrayView imagePrefix("image\n");

} // namespace

QString ClipboardEntry::fingerprintOf(ClipboardKind kind, const QString& text,
                                      const QStringList& files, QByteArrayView imageBytes,
                                      const QString& imagePath) {
    switch (kind) {
    case ClipboardKind::text:
        return hashBytes((QStringLiteral("text\n") + text).toUtf8());
    case ClipboardKind::files: {
        QStringList parts{QStringLiteral("files")};
        parts += files;
        return hashBytes(parts.join(u'\n').toUtf8());
    }
    case ClipboardKind::image:
        if (!imageBytes.isEmpty()) {
            return hashBytes({imagePrefix, imageBytes});
        }
        if (!imagePath.isEmpty()) {
            if (auto digest = hashFileWithPrefix(imagePrefix, imagePath)) {
                return *digest;
            }
        }
        return hashBytes(imagePrefix);
    }
    Q_UNREACHABLE();
}

QString ClipboardEntry::computeFingerprint() const {
    const QByteArray bytes =
        kind == ClipboardKind::image ? imageData.value_or(QByteArray()) : QByteArray();
    return fingerprintOf(kind, text, files, bytes, imagePath.value_or(QString()));
}

qint64 ClipboardEntry::computeDataSize(const ClipboardEntry& entry) {
    switch (entry.kind) {
    case ClipboardKind::text:
        return entry.text.toUtf8().size();
    case ClipboardKind::files: {
        qint64 total = 0;
        for (const QString& path : entry.files) {
            total += path.toUtf8().size();
        }
        return total;
    }
    case ClipboardKind::image:
        if (entry.imageData) {
            return entry.imageData->size();
        }
        if (entry.imagePath) {
            const QFileInfo info(*entry.imagePath);
            return info.isFile() ? info.size() : 0;
        }
        return 0;
    }
    Q_UNREACHABLE();
}

} // namespace orvane
