#include "clipboard/ClipboardRecord.h"

#include "clipboard/ClipboardDigest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace orvane {

QString recordFingerprint(const ClipboardRecord& record) {
    if (record.kind == u"image") {
        const QByteArrayView prefix("image\n");
        if (!record.imagePath.isEmpty()) {
            if (auto digest = hashFileWithPrefix(prefix, record.imagePath)) {
                return *digest;
            }
        }
        return hashBytes(prefix);
    }
    if (record.kind == u"files") {
        QStringList parts{QStringLiteral("files")};
        if (!record.filesJSON.isEmpty()) {
            if (auto files = decodeFilesJSON(record.filesJSON)) {
                parts += *files;
            }
        }
        return hashBytes(parts.join(u'\n').toUtf8());
    }
    // Unknown kinds load as text, so they must fingerprint as text too.
    return hashBytes((QStringLiteral("text\n") + record.text).toUtf8());
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
