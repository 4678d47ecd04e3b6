#include "clipboard/ClipboardRecord.h"

#include "clipboard/ClipboardEntry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace orvane {

QString recordFingerprint(const ClipboardRecord& record) {
    // Unknown kinds load as text, so they must fingerprint as text too.
    ClipboardKind kind = ClipboardKind::text;
    QStringList files;
    if (record.kind == u"image") {
        kind = ClipboardKind::image;
    } else if (record.kind == u"files") {
        kind = ClipboardKind::files;
        if (!record.filesJSON.isEmpty()) {
            files = decodeFilesJSON(record.filesJSON).value_or(QStringList());
        }
    }
    return ClipboardEntry::fingerprintOf(kind, record.text, files, {}, record.imagePath);
}

QString encodeFilesJSON(const QStringList& files) {
    if (files.isEmpty()) {
        return {};
    }
    return QString::fromUtf8(
        QJsonDocument(QJsonArray::fromStringList(files)).toJson(QJsonDocument::Compact));
}

std::optional<QStringList> decodeFilesJSON(const QString& json) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) {
        return std::nullopt;
    }
    const QJsonArray array = document.array();
    QStringList files;
    files.reserve(array.size());
    for (const QJsonValue& value : array) {
        if (!value.isString()) {
            return std::nullopt;
        }
        files.append(value.toString());
    }
    return files;
}

} // namespace orvane
