#pragma once

#include "clipboard/ClipboardKind.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace orvane {

// One item of the clipboard history in memory.
struct ClipboardEntry {
    qint64 id = 0; // row id once stored; a locally counted id before that
    ClipboardKind kind = ClipboardKind::text;
    QString text;      // the text; for files the paths joined by "\n"; for an image "[截图]"
    QStringList files; // absolute paths, only for files
    std::optional<QString> imageDataBase64; // standard Base64; images captured locally
    std::optional<QString> imagePath;       // stored image file; images loaded or received
    qint64 dataSize = 0;
    qint64 timestamp = 0; // milliseconds since 1970-01-01 UTC

    // Lower-case hex SHA-256 that recognises the same content again. The same image
    // has the same fingerprint whether held as Base64 or as a file.
    QString fingerprint() const;

    // The size rule: UTF-8 bytes of a text, UTF-8 bytes of the path names of files,
    // decoded bytes (or the file's size) of an image. Ignores entry.dataSize.
    static qint64 computeDataSize(const ClipboardEntry& entry);

    // JSON with the keys "id", "kind", "text", "files", "imageDataBase64", "imagePath",
    // "dataSize", "timestamp"; the two optional keys are written only when present.
    QJsonObject toJson() const;
    // Nothing when a required key is missing or has the wrong type.
    static std::optional<ClipboardEntry> fromJson(const QJsonObject& json);

    friend bool operator==(const ClipboardEntry&, const ClipboardEntry&) = default;
};

} // namespace orvane
