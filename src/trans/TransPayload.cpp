#include "trans/TransPayload.h"

#include "common/Utf8.h"
#include "protocol/TransWire.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace orvane::TransPayload {

namespace {

const QString kScreenshotLabel = QStringLiteral("[截图]");

// A readable regular file at `path`. Directories and special files (a FIFO would block
// the read forever) count as not found.
bool isRegularFile(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

// The whole file; fails without reading anything when it is larger than `maxBytes`.
Result<QByteArray, TransPayloadError> readWholeFile(const QString& path, qint64 maxBytes = -1) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return fail(TransPayloadError(FileError{QStringLiteral("open"), path, file.errorString()}));
    }
    if (maxBytes >= 0 && file.size() > maxBytes) {
        return fail(TransPayloadError(TransError::Code::transferTooLarge));
    }
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return fail(TransPayloadError(FileError{QStringLiteral("read"), path, file.errorString()}));
    }
    return data;
}

Result<QByteArray, TransPayloadError> imageBytesWithin(const ClipboardEntry& entry,
                                                       qint64 maxFileBytes) {
    if (entry.imageData && !entry.imageData->isEmpty()) {
        return *entry.imageData;
    }
    if (!entry.imagePath) {
        return fail(TransPayloadError(TransError::Code::emptyPayload));
    }
    const QString path = entry.imagePath->trimmed();
    if (path.isEmpty()) {
        return fail(TransPayloadError(TransError::Code::emptyPayload));
    }
    if (!isRegularFile(path)) {
        return fail(TransPayloadError(TransError::fileNotFound(path)));
    }
    return readWholeFile(path, maxFileBytes);
}

} // namespace

QString reduceFileName(const QString& path) {
    QString name = path.trimmed();
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return name.sliced(name.lastIndexOf(QLatin1Char('/')) + 1);
}

Result<SendJob, TransPayloadError> textJob(const ClipboardEntry& entry) {
    QByteArray payload = entry.text.toUtf8();
    if (payload.isEmpty()) {
        return fail(TransPayloadError(TransError::Code::emptyPayload));
    }
    if (payload.size() > maxTextBytes) {
        return fail(TransPayloadError(TransError::Code::transferTooLarge));
    }
    return SendJob{TransWire::dataTypeText, std::move(payload), QString()};
}

Result<QByteArray, TransPayloadError> imageBytes(const ClipboardEntry& entry) {
    return imageBytesWithin(entry, -1);
}

Result<SendJob, TransPayloadError> imageJob(const ClipboardEntry& entry) {
    // A stored file over the limit is refused before it is read into memory.
    auto bytes = imageBytesWithin(entry, maxImageBytes);
    if (!bytes) {
        return fail(bytes.error());
    }
    if (bytes->size() > maxImageBytes) {
        return fail(TransPayloadError(TransError::Code::transferTooLarge));
    }
    return SendJob{TransWire::dataTypeImage, std::move(bytes).value(), QString()};
}

Result<SendJob, TransPayloadError> fileJob(const ClipboardEntry& entry) {
    if (entry.files.isEmpty()) {
        return fail(TransPayloadError(TransError::Code::filePathMissing));
    }
    const QString path = entry.files.first().trimmed();
    if (path.isEmpty()) {
        return fail(TransPayloadError(TransError::Code::filePathMissing));
    }
    if (!isRegularFile(path)) {
        return fail(TransPayloadError(TransError::fileNotFound(path)));
    }
    // The transfer header announces payload + 52 bytes in 32 bits; a larger file would
    // announce a wrapped, wrong size.
    auto content = readWholeFile(path, maxFileBytes);
    if (!content) {
        return fail(content.error());
    }
    if (content->isEmpty()) {
        return fail(TransPayloadError(TransError::Code::emptyPayload));
    }
    QString name = reduceFileName(path);
    if (name.isEmpty()) {
        return fail(TransPayloadError(TransError::Code::filePathMissing));
    }
    return SendJob{TransWire::dataTypeFile, std::move(content).value(), std::move(name)};
}

Result<SendJob, TransPayloadError> jobFor(const ClipboardEntry& entry) {
    switch (entry.kind) {
    case ClipboardKind::text:
        return textJob(entry);
    case ClipboardKind::files:
        return fileJob(entry);
    case ClipboardKind::image:
        return imageJob(entry);
    }
    return fail(TransPayloadError(TransError::Code::emptyPayload));
}

Result<ClipboardEntry, TransPayloadError>
buildClipboardEntry(const TransHeader& header, const std::optional<PayloadStorage>& storage,
                    ReceivedFileStore& files) {
    ClipboardEntry entry;
    entry.id = 0;
    entry.timestamp = QDateTime::currentMSecsSinceEpoch();

    const auto* memory = storage ? std::get_if<PayloadStorage::Memory>(&storage->value) : nullptr;
    const auto* file = storage ? std::get_if<PayloadStorage::File>(&storage->value) : nullptr;

    switch (header.dataType) {
    case TransWire::dataTypeText:
        if (!memory) {
            break;
        }
        entry.kind = ClipboardKind::text;
        entry.text = decodeUtf8Strict(memory->buffer).value_or(QString());
        entry.dataSize = memory->buffer.size();
        entry.fingerprint = entry.computeFingerprint();
        return entry;
    case TransWire::dataTypeImage: {
        if (!memory) {
            break;
        }
        auto saved = files.saveImage(memory->buffer);
        if (!saved) {
            return fail(TransPayloadError(saved.error()));
        }
        entry.kind = ClipboardKind::image;
        entry.text = kScreenshotLabel;
        entry.imagePath = saved.value();
        entry.dataSize = memory->buffer.size();
        // From the bytes at hand: the file need not be read back for it.
        entry.fingerprint =
            ClipboardEntry::fingerprintOf(entry.kind, entry.text, entry.files, memory->buffer, {});
        return entry;
    }
    case TransWire::dataTypeFile:
        if (!file) {
            break;
        }
        entry.kind = ClipboardKind::files;
        entry.text = file->path;
        entry.files = {file->path};
        entry.dataSize = header.announcedPayloadSize();
        entry.fingerprint = entry.computeFingerprint();
        return entry;
    default:
        return fail(TransPayloadError(TransError::transferFailed(
            QStringLiteral("unsupported data_type=%1").arg(header.dataType))));
    }
    return fail(TransPayloadError(TransError::Code::emptyPayload));
}

} // namespace orvane::TransPayload
