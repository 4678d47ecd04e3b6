#include "platform/linux/JpegImageMimeData.h"

#include <QBuffer>
#include <QImage>
#include <QThread>

namespace orvane {

namespace {

const QString jpegFormat = QStringLiteral("image/jpeg");
const QString pngFormat = QStringLiteral("image/png");

} // namespace

const QString JpegImageMimeData::originalFormat = QStringLiteral("application/x-orvane-original");

JpegImageMimeData::JpegImageMimeData(QByteArray jpeg)
    : jpeg_(std::move(jpeg)) {}

QStringList JpegImageMimeData::formats() const {
    return {jpegFormat, pngFormat, originalFormat};
}

bool JpegImageMimeData::hasFormat(const QString& mimeType) const {
    return formats().contains(mimeType);
}

QVariant JpegImageMimeData::retrieveData(const QString& mimeType, QMetaType type) const {
    // The clipboard answers other programs from the GUI thread; the cache is not locked.
    Q_ASSERT(QThread::currentThread() == thread());
    Q_UNUSED(type);
    if (mimeType == jpegFormat) {
        return jpeg_;
    }
    if (mimeType == originalFormat) {
        return jpegFormat.toLatin1();
    }
    if (mimeType == pngFormat) {
        if (png_.isEmpty()) {
            QBuffer buffer(&png_);
            buffer.open(QIODevice::WriteOnly);
            if (!QImage::fromData(jpeg_, "JPEG").save(&buffer, "PNG")) {
                png_.clear();
            }
        }
        return png_;
    }
    return {};
}

} // namespace orvane
