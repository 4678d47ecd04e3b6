#include "platform/linux/ClipboardMimeReader.h"

#include "platform/linux/JpegImageMimeData.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QUrl>

#include <optional>

namespace orvane::ClipboardMimeReader {

namespace {

const QString uriListFormat = QStringLiteral("text/uri-list");
const QString gnomeFilesFormat = QStringLiteral("x-special/gnome-copied-files");
const QString kdeCutFormat = QStringLiteral("application/x-kde-cutselection");
const QString secretHintFormat = QStringLiteral("x-kde-passwordManagerHint");
const QString pngFormat = QStringLiteral("image/png");
const QString jpegFormat = QStringLiteral("image/jpeg");
const QString qtImageFormat = QStringLiteral("application/x-qt-image");

// A file:// URI that names an existing file or directory, as a local path.
std::optional<QString> existingPathOf(QByteArrayView line) {
    const QByteArray trimmed = line.trimmed().toByteArray();
    if (trimmed.isEmpty() || trimmed.startsWith('#')) {
        return std::nullopt;
    }
    const QUrl url = QUrl::fromEncoded(trimmed, QUrl::StrictMode);
    if (!url.isValid() || !url.isLocalFile()) {
        return std::nullopt;
    }
    const QString path = url.toLocalFile();
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        return std::nullopt;
    }
    return path;
}

// Whether a list of URIs names at least one local file, existing or not.
bool namesLocalFiles(const QList<QByteArray>& lines) {
    for (const QByteArray& line : lines) {
        if (QUrl::fromEncoded(line.trimmed(), QUrl::StrictMode).isLocalFile()) {
            return true;
        }
    }
    return false;
}

QStringList existingPaths(const QList<QByteArray>& lines) {
    QStringList paths;
    for (const QByteArray& line : lines) {
        if (auto path = existingPathOf(line)) {
            paths.append(*path);
        }
    }
    return paths;
}

QList<QByteArray> gnomeUriLines(const QByteArray& data) {
    QList<QByteArray> lines = data.split('\n');
    if (!lines.isEmpty()) {
        lines.removeFirst(); // "copy" or "cut"
    }
    return lines;
}

bool isSecret(const QMimeData& mime) {
    return mime.hasFormat(secretHintFormat) && mime.data(secretHintFormat).trimmed() == "secret";
}

std::optional<QByteArray> encodePNG(const QImage& image) {
    if (image.isNull()) {
        return std::nullopt;
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG") || png.isEmpty()) {
        return std::nullopt;
    }
    return png;
}

std::optional<QByteArray> readImage(const QMimeData& mime, const QStringList& formats) {
    // Our own JPEG is offered as PNG too; reading the PNG back would make it a different
    // entry from the one we wrote.
    if (formats.contains(JpegImageMimeData::originalFormat) && formats.contains(jpegFormat) &&
        mime.data(JpegImageMimeData::originalFormat) == jpegFormat.toLatin1()) {
        QByteArray bytes = mime.data(jpegFormat);
        if (!bytes.isEmpty()) {
            return bytes;
        }
    }
    for (const QString& passedThrough : {pngFormat, jpegFormat}) {
        if (formats.contains(passedThrough)) {
            QByteArray bytes = mime.data(passedThrough);
            if (!bytes.isEmpty()) {
                return bytes;
            }
        }
    }
    for (const QString& format : formats) {
        if (!format.startsWith(u"image/") || format == pngFormat || format == jpegFormat) {
            continue;
        }
        if (auto png = encodePNG(QImage::fromData(mime.data(format)))) {
            return png;
        }
    }
    if (formats.contains(qtImageFormat) || mime.hasImage()) {
        return encodePNG(qvariant_cast<QImage>(mime.imageData()));
    }
    return std::nullopt;
}

} // namespace

QStringList pathsFromUriList(const QByteArray& uriList) {
    return existingPaths(uriList.split('\n'));
}

QStringList pathsFromGnomeCopiedFiles(const QByteArray& data) {
    return existingPaths(gnomeUriLines(data));
}

bool isBareFilename(const QString& text, bool fileManagerFormatOffered) {
    if (!fileManagerFormatOffered) {
        return false;
    }
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        return false;
    }
    for (const QChar c : trimmed) {
        if (c == u'\n' || c == u'\r' || c == u'/' || c == u'\\') {
            return false;
        }
    }
    return true;
}

ClipboardReading read(const QMimeData& mime) {
    ClipboardReading reading;
    if (isSecret(mime)) {
        reading.secret = true;
        return reading;
    }
    ClipboardContent& content = reading.content;
    const QStringList formats = mime.formats();

    bool fileManagerFormatOffered = formats.contains(kdeCutFormat);
    QStringList files;
    if (formats.contains(uriListFormat)) {
        const QList<QByteArray> lines = mime.data(uriListFormat).split('\n');
        fileManagerFormatOffered = fileManagerFormatOffered || namesLocalFiles(lines);
        files = existingPaths(lines);
    }
    if (files.isEmpty() && formats.contains(gnomeFilesFormat)) {
        const QList<QByteArray> lines = gnomeUriLines(mime.data(gnomeFilesFormat));
        fileManagerFormatOffered = fileManagerFormatOffered || namesLocalFiles(lines);
        files = existingPaths(lines);
    }
    if (!files.isEmpty()) {
        content.kind = ClipboardKind::files;
        content.text = files.join(u'\n');
        content.files = files;
        return reading;
    }

    if (mime.hasText()) {
        QString text = mime.text();
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        if (!text.isEmpty() && !isBareFilename(text, fileManagerFormatOffered)) {
            content.kind = ClipboardKind::text;
            content.text = text;
            return reading;
        }
    }

    if (auto image = readImage(mime, formats)) {
        content.kind = ClipboardKind::image;
        content.text = QStringLiteral("[截图]");
        content.imagePNG = std::move(*image);
    }
    return reading;
}

} // namespace orvane::ClipboardMimeReader
