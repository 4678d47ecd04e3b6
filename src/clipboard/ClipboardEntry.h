#pragma once

#include "clipboard/ClipboardKind.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

namespace orvane {

// The clipboard history never holds more entries than this, in memory or stored.
inline constexpr int historyCapacity = 30;

// One item of the clipboard history in memory.
struct ClipboardEntry {
    qint64 id = 0; // row id once stored; a locally counted id before that
    ClipboardKind kind = ClipboardKind::text;
    QString text;      // the text; for files the paths joined by "\n"; for an image "[截图]"
    QStringList files; // absolute paths, only for files
    // The image's bytes (PNG, or as they came); images captured locally. Shared by copies
    // of the entry, never encoded or decoded again on the way.
    std::optional<QByteArray> imageData;
    std::optional<QString> imagePath; // stored image file; images loaded or received
    qint64 dataSize = 0;
    qint64 timestamp = 0; // milliseconds since 1970-01-01 UTC
    // computeFingerprint() as of when the entry was made, taken from the bytes at hand
    // then; empty until somebody computed it. Kept so that recognising the same content
    // again never reads or hashes an image a second time (its file may be gone by then).
    QString fingerprint;

    // Lower-case hex SHA-256 that recognises the same content again. The same image
    // has the same fingerprint whether held in memory or as a file.
    QString computeFingerprint() const;
    // The kept fingerprint, computed only when there is none.
    QString fingerprintOrCompute() const {
        return fingerprint.isEmpty() ? computeFingerprint() : fingerprint;
    }
    // The one fingerprint rule. An image counts by its bytes when there are any, else by
    // the contents of its file, else as an image without content.
    static QString fingerprintOf(ClipboardKind kind, const QString& text, const QStringList& files,
                                 QByteArrayView imageBytes, const QString& imagePath);

    // The size rule: UTF-8 bytes of a text, UTF-8 bytes of the path names of files,
    // bytes (or the file's size) of an image. Ignores entry.dataSize.
    static qint64 computeDataSize(const ClipboardEntry& entry);

    friend bool operator==(const ClipboardEntry&, const ClipboardEntry&) = default;
};

} // namespace orvane
