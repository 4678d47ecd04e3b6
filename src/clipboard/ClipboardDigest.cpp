#include "clipboard/ClipboardDigest.h"

#include <QCryptographicHash>
#include <QFile>

namespace orvane {

namespace {

QString hexOf(const QCryptographicHash& hash) {
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace

QString hashBytes(std::initializer_list<QByteArrayView> parts) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (QByteArrayView part : parts) {
        hash.addData(part);
    }
    return hexOf(hash);
}

std::optional<QString> hashFileWithPrefix(QByteArrayView prefix, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(prefix);
    constexpr qint64 chunkSize = 256 * 1024;
    QByteArray buffer(chunkSize, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        const qint64 n = file.read(buffer.data(), chunkSize);
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        hash.addData(QByteArrayView(buffer.constData(), n));
        total += n;
    }
    if (total == 0) {
        return std::nullopt;
    }
    return hexOf(hash);
}

} // namespace orvane
