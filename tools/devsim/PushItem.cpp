#include "PushItem.h"

#include "protocol/TransWire.h"
#include "trans/TransPayload.h"

#include <QFile>
#include <QFileInfo>

namespace orvane::devsim {

PushItem PushItem::text(const QString& text) {
    return {TransWire::dataTypeText, text.toUtf8(), QString(), QStringLiteral("text")};
}

Result<PushItem, QString> PushItem::fromFile(const QString& path, quint16 dataType) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        return fail(QStringLiteral("cannot read ") + path);
    }
    // The transfer header announces sizes in 32 bits.
    if (file.size() > TransPayload::maxFileBytes) {
        return fail(path + QStringLiteral(" is too large to transfer"));
    }
    const QString name = TransPayload::reduceFileName(path);
    const QString kind =
        dataType == TransWire::dataTypeImage ? QStringLiteral("image") : QStringLiteral("file");
    return PushItem{dataType, file.readAll(),
                    dataType == TransWire::dataTypeFile ? name : QString(),
                    kind + QStringLiteral(" ") + name};
}

} // namespace orvane::devsim
