#include "platform/linux/ClipboardMimeWriter.h"

#include "platform/linux/JpegImageMimeData.h"

#include <QImage>
#include <QList>
#include <QUrl>

namespace orvane::ClipboardMimeWriter {

namespace {

Offer filesOffer(const QStringList& paths) {
    if (paths.isEmpty()) {
        return {};
    }
    QList<QUrl> urls;
    QByteArray gnomeFiles("copy");
    for (const QString& path : paths) {
        const QUrl url = QUrl::fromLocalFile(path);
        urls.append(url);
        gnomeFiles += '\n' + url.toEncoded();
    }
    auto mime = std::make_unique<QMimeData>();
    mime->setUrls(urls);
    mime->setData(QStringLiteral("x-special/gnome-copied-files"), gnomeFiles);
    mime->setText(paths.join(u'\n'));
    return {std::move(mime), QStringLiteral("text/uri-list")};
}

Result<Offer, ClipboardError> imageOffer(const std::optional<QByteArray>& bytes) {
    if (!bytes || bytes->isEmpty()) {
        return fail(ClipboardError::emptyImage());
    }
    if (bytes->startsWith("\xFF\xD8\xFF")) {
        return Offer{std::make_unique<JpegImageMimeData>(*bytes), QStringLiteral("image/jpeg")};
    }
    auto mime = std::make_unique<QMimeData>();
    if (bytes->startsWith("\x89PNG")) {
        mime->setData(QStringLiteral("image/png"), *bytes);
        return Offer{std::move(mime), QStringLiteral("image/png")};
    }
    const QImage image = QImage::fromData(*bytes);
    if (image.isNull()) {
        return fail(ClipboardError::emptyImage());
    }
    mime->setImageData(image);
    return Offer{std::move(mime), QStringLiteral("application/x-qt-image")};
}

} // namespace

Result<Offer, ClipboardError> offerFor(const ClipboardContent& content) {
    if (!content.kind) {
        return fail(ClipboardError::emptyContent());
    }
    switch (*content.kind) {
    case ClipboardKind::text: {
        auto mime = std::make_unique<QMimeData>();
        mime->setText(content.text);
        return Offer{std::move(mime), QStringLiteral("text/plain")};
    }
    case ClipboardKind::files:
        return filesOffer(content.files);
    case ClipboardKind::image:
        return imageOffer(content.imagePNG);
    }
    Q_UNREACHABLE();
}

} // namespace orvane::ClipboardMimeWriter
