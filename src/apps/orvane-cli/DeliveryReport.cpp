#include "apps/orvane-cli/DeliveryReport.h"

#include "clipboard/ClipboardKind.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace orvane::DeliveryReport {

namespace {

// The stored path of an image or the first received file; empty for a text.
QString storedPath(const ClipboardEntry& entry) {
    switch (entry.kind) {
    case ClipboardKind::image:
        return entry.imagePath.value_or(QString());
    case ClipboardKind::files:
        return entry.files.isEmpty() ? QString() : entry.files.first();
    case ClipboardKind::text:
        break;
    }
    return QString();
}

} // namespace

QByteArray jsonLine(const ClipboardEntry& entry) {
    return QJsonDocument(jsonObject(entry)).toJson(QJsonDocument::Compact) + '\n';
}

QJsonObject jsonObject(const ClipboardEntry& entry) {
    QJsonObject object;
    object.insert(QStringLiteral("kind"), clipboardKindRawValue(entry.kind));
    object.insert(QStringLiteral("size"), entry.dataSize);
    object.insert(QStringLiteral("time"),
                  QDateTime::fromMSecsSinceEpoch(entry.timestamp).toString(Qt::ISODateWithMs));
    if (entry.kind == ClipboardKind::text) {
        object.insert(QStringLiteral("text"), entry.text);
    } else {
        object.insert(QStringLiteral("path"), storedPath(entry));
        if (entry.files.size() > 1) {
            object.insert(QStringLiteral("paths"), QJsonArray::fromStringList(entry.files));
        }
    }
    return object;
}

QByteArray textLine(const ClipboardEntry& entry) {
    const QString detail = entry.kind == ClipboardKind::text ? entry.text : storedPath(entry);
    return QStringLiteral("%1 %2 B: %3\n")
        .arg(clipboardKindRawValue(entry.kind))
        .arg(entry.dataSize)
        .arg(detail)
        .toUtf8();
}

} // namespace orvane::DeliveryReport
