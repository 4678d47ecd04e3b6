#include "platform/linux/wayland/DataControlFormats.h"

#include "platform/linux/ClipboardMimeReader.h"
#include "platform/linux/ClipboardMimeWriter.h"
#include "platform/linux/JpegImageMimeData.h"

#include <QBuffer>
#include <QImage>

namespace orvane::DataControlFormats {

namespace {

const QByteArray secretHint = QByteArrayLiteral("x-kde-passwordManagerHint");
const QByteArray uriList = QByteArrayLiteral("text/uri-list");
const QByteArray gnomeFiles = QByteArrayLiteral("x-special/gnome-copied-files");
const QByteArray kdeCut = QByteArrayLiteral("application/x-kde-cutselection");
const QByteArray textPlain = QByteArrayLiteral("text/plain");
const QByteArray textUtf8 = QByteArrayLiteral("text/plain;charset=utf-8");
const QByteArray png = QByteArrayLiteral("image/png");
const QByteArray jpeg = QByteArrayLiteral("image/jpeg");
// Text as X11 programs name it, for readers that ask by those names.
const QList<QByteArray> textAliases = {textUtf8, textPlain, QByteArrayLiteral("UTF8_STRING"),
                                       QByteArrayLiteral("TEXT"), QByteArrayLiteral("STRING")};

bool isText(const QByteArray& type) {
    return type == textUtf8 || type == textPlain || type == "UTF8_STRING";
}

std::optional<QByteArray> firstOffered(const QList<QByteArray>& offered,
                                       const QList<QByteArray>& preferred) {
    for (const QByteArray& type : preferred) {
        if (offered.contains(type)) {
            return type;
        }
    }
    return std::nullopt;
}

QByteArray encodePNG(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (image.isNull() || !image.save(&buffer, "PNG")) {
        return {};
    }
    return bytes;
}

} // namespace

ReadPlan::ReadPlan(QList<QByteArray> offered)
    : offered_(std::move(offered)) {
    // The hint first: a secret is not to be read at all.
    for (const QByteArray& type : {secretHint, uriList, gnomeFiles}) {
        if (offered_.contains(type)) {
            pending_.append(type);
        }
    }
    if (auto text =
            firstOffered(offered_, {textUtf8, QByteArrayLiteral("UTF8_STRING"), textPlain})) {
        pending_.append(*text);
    }
    if (auto image = firstOffered(offered_, {png, jpeg})) {
        pending_.append(*image);
    } else {
        for (const QByteArray& type : offered_) {
            if (type.startsWith("image/")) {
                pending_.append(type);
                break;
            }
        }
    }
    reading_ = readSoFar();
}

std::optional<QByteArray> ReadPlan::next() {
    if (decided_ || pending_.isEmpty()) {
        return std::nullopt;
    }
    return pending_.first();
}

void ReadPlan::received(const QByteArray& mimeType, std::optional<QByteArray> bytes) {
    pending_.removeOne(mimeType);
    if (bytes) {
        read_.insert(mimeType, *bytes);
    }
    reading_ = readSoFar();
    decided_ = reading_.secret || reading_.content.kind.has_value();
}

ClipboardReading ReadPlan::readSoFar() const {
    QMimeData mime;
    for (auto it = read_.cbegin(); it != read_.cend(); ++it) {
        mime.setData(QString::fromLatin1(isText(it.key()) ? textPlain : it.key()), it.value());
    }
    if (offered_.contains(kdeCut)) {
        mime.setData(QString::fromLatin1(kdeCut), QByteArray());
    }
    return ClipboardMimeReader::read(mime);
}

Result<QList<OfferedFormat>, ClipboardError> offerFor(const ClipboardContent& content) {
    auto offer = ClipboardMimeWriter::offerFor(content);
    if (!offer) {
        return fail(offer.error());
    }
    QList<OfferedFormat> formats;
    if (!offer->mime) {
        return formats;
    }
    const QMimeData& mime = *offer->mime;
    const bool jpegOffer = qobject_cast<const JpegImageMimeData*>(&mime) != nullptr;
    for (const QString& format : mime.formats()) {
        const QByteArray type = format.toLatin1();
        if (jpegOffer && type == png) {
            formats.append({type, mime.data(jpeg), true});
        } else if (type == "application/x-qt-image") {
            const QByteArray encoded = encodePNG(qvariant_cast<QImage>(mime.imageData()));
            if (encoded.isEmpty()) {
                return fail(ClipboardError::emptyImage());
            }
            formats.append({png, encoded});
        } else if (type == textPlain) {
            const QByteArray text = mime.text().toUtf8();
            for (const QByteArray& alias : textAliases) {
                formats.append({alias, text});
            }
        } else {
            formats.append({type, mime.data(format)});
        }
    }
    formats.append(OfferedFormat{ownSourceMarker, {}});
    return formats;
}

ClipboardReading readBack(const QList<OfferedFormat>& formats) {
    QMimeData mime;
    for (const OfferedFormat& format : formats) {
        if (!format.pngFromJpeg) {
            mime.setData(QString::fromLatin1(isText(format.mimeType) ? textPlain : format.mimeType),
                         format.bytes);
        }
    }
    return ClipboardMimeReader::read(mime);
}

QByteArray pngFromJpeg(const QByteArray& jpegBytes) {
    return encodePNG(QImage::fromData(jpegBytes, "JPEG"));
}

} // namespace orvane::DataControlFormats
