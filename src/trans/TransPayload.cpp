#include "trans/TransPayload.h"

#include "common/SystemErrorText.h"
#include "common/Utf8.h"
#include "protocol/TransWire.h"

#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane::TransPayload {

namespace {

const QString kScreenshotLabel = QStringLiteral("[截图]");

// The whole regular file at `path`; fails without reading anything when it is larger than
// `maxBytes`. What is at the path is judged after it was opened, on the open descriptor, so
// that nothing put there meanwhile is read: the open does not wait (a FIFO without a writer
// would hold it, a device might), and directories and special files count as not found.
Result<QByteArray, TransPayloadError> readWholeFile(const QString& path, qint64 maxBytes = -1) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR || error == ENXIO || error == ENODEV) {
            return fail(TransPayloadError(TransError::fileNotFound(path)));
        }
        return fail(
            TransPayloadError(FileError{QStringLiteral("open"), path, systemErrorText(error)}));
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return fail(TransPayloadError(TransError::fileNotFound(path)));
    }
    if (maxBytes >= 0 && status.st_size > maxBytes) {
        ::close(fd);
        return fail(TransPayloadError(TransError::Code::transferTooLarge));
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(TransPayloadError(FileError{QStringLiteral("open"), path, file.errorString()}));
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
