#include "clipboard/ClipboardEntry.h"

#include "clipboard/ClipboardDigest.h"
#include "clipboard/StrictBase64.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonValue>

#include <limits>

namespace orvane {

namespace {

const QByteArrayView imagePrefix("image\n");

// A JSON number that is an exact 64-bit integer. toInteger() answers its default for
// anything fractional or out of range, so two different defaults expose that case.
std::optional<qint64> integerOf(const QJsonValue& value) {
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const qint64 low = value.toInteger(std::numeric_limits<qint64>::min());
    const qint64 high = value.toInteger(std::numeric_limits<qint64>::max());
    if (low != high) {
        return std::nullopt;
    }
    return low;
}

// A key that may be missing; null counts as missing. Nothing inside the outer optional
// means the key is present with the wrong type.
std::optional<std::optional<QString>> optionalStringOf(const QJsonObject& json, QStringView key) {
    const QJsonValue value = json.value(key);
    if (value.isUndefined() || value.isNull()) {
        return std::optional<QString>();
    }
    if (!value.isString()) {
        return std::nullopt;
    }
    return std::optional<QString>(value.toString());
}

} // namespace

QString ClipboardEntry::fingerprint() const {
    switch (kind) {
    case ClipboardKind::text:
        return hashBytes((QStringLiteral("text\n") + text).toUtf8());
    case ClipboardKind::files: {
        QStringList parts{QStringLiteral("files")};
        parts += files;
        return hashBytes(parts.join(u'\n').toUtf8());
    }
    case ClipboardKind::image:
        if (imageDataBase64) {
            const std::optional<QByteArray> bytes = decodeBase64Strict(*imageDataBase64);
            if (bytes && !bytes->isEmpty()) {
                return hashBytes({imagePrefix, *bytes});
            }
        }
        if (imagePath && !imagePath->isEmpty()) {
            if (auto digest = hashFileWithPrefix(imagePrefix, *imagePath)) {
                return *digest;
            }
        }
        return hashBytes(imagePrefix);
    }
    Q_UNREACHABLE();
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
        if (entry.imageDataBase64) {
            if (auto bytes = decodeBase64Strict(*entry.imageDataBase64)) {
                return bytes->size();
            }
        }
        if (entry.imagePath) {
            const QFileInfo info(*entry.imagePath);
            return info.isFile() ? info.size() : 0;
        }
        return 0;
    }
    Q_UNREACHABLE();
}

QJsonObject ClipboardEntry::toJson() const {
    QJsonObject json{
        {QStringLiteral("id"), id},
        {QStringLiteral("kind"), clipboardKindRawValue(kind)},
        {QStringLiteral("text"), text},
        {QStringLiteral("files"), QJsonArray::fromStringList(files)},
        {QStringLiteral("dataSize"), dataSize},
        {QStringLiteral("timestamp"), timestamp},
    };
    if (imageDataBase64) {
        json.insert(QStringLiteral("imageDataBase64"), *imageDataBase64);
    }
    if (imagePath) {
        json.insert(QStringLiteral("imagePath"), *imagePath);
    }
    return json;
}

std::optional<ClipboardEntry> ClipboardEntry::fromJson(const QJsonObject& json) {
    const auto id = integerOf(json.value(u"id"));
    const auto dataSize = integerOf(json.value(u"dataSize"));
    const auto timestamp = integerOf(json.value(u"timestamp"));
    const QJsonValue kindValue = json.value(u"kind");
    const QJsonValue textValue = json.value(u"text");
    const QJsonValue filesValue = json.value(u"files");
    if (!id || !dataSize || !timestamp || !kindValue.isString() || !textValue.isString() ||
        !filesValue.isArray()) {
        return std::nullopt;
    }
    const auto kind = clipboardKindFromRawValue(kindValue.toString());
    if (!kind) {
        return std::nullopt;
    }
    QStringList files;
    for (const QJsonValue& value : filesValue.toArray()) {
        if (!value.isString()) {
            return std::nullopt;
        }
        files.append(value.toString());
    }
    const auto imageDataBase64 = optionalStringOf(json, u"imageDataBase64");
    const auto imagePath = optionalStringOf(json, u"imagePath");
    if (!imageDataBase64 || !imagePath) {
        return std::nullopt;
    }

    ClipboardEntry entry;
    entry.id = *id;
    entry.kind = *kind;
    entry.text = textValue.toString();
    entry.files = files;
    entry.imageDataBase64 = *imageDataBase64;
    entry.imagePath = *imagePath;
    entry.dataSize = *dataSize;
    entry.timestamp = *timestamp;
    return entry;
}

} // namespace orvane
