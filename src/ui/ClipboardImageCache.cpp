#include "ui/ClipboardImageCache.h"

#include <QCoreApplication>
#include <QImageReader>
#include <QPointer>
#include <QThread>

namespace orvane {

namespace {

QImage loadImage(const std::optional<QString>& path, const std::optional<QString>& base64) {
    QImage image;
    if (path) {
        QImageReader reader(*path);
        image = reader.read();
    } else if (base64) {
        image.loadFromData(QByteArray::fromBase64(base64->toLatin1()));
    }
    return image;
}

} // namespace

ClipboardImageCache::ClipboardImageCache(int costLimitKb, QObject* parent)
    : QObject(parent)
    , images_(costLimitKb) {
    // Thumbnails appear in history order; two loaders keep up without crowding the UI.
    pool_.setMaxThreadCount(2);
    pool_.setObjectName(QStringLiteral("com.orvane.ui.images"));
}

ClipboardImageCache::~ClipboardImageCache() {
    pool_.waitForDone();
}

ClipboardImageCache& ClipboardImageCache::shared() {
    Q_ASSERT(QCoreApplication::instance());
    static QPointer<ClipboardImageCache> instance;
    if (!instance) {
        instance = new ClipboardImageCache(defaultCostLimitKb, QCoreApplication::instance());
    }
    return *instance;
}

QString ClipboardImageCache::key(const ClipboardEntry& entry) {
    if (entry.imagePath) {
        return *entry.imagePath;
    }
    if (entry.imageDataBase64) {
        return *entry.imageDataBase64;
    }
    return QString::number(entry.id);
}

std::optional<QImage> ClipboardImageCache::cached(const QString& key) const {
    if (const QImage* image = images_.object(key)) {
        return *image;
    }
    return std::nullopt;
}

void ClipboardImageCache::load(const ClipboardEntry& entry) {
    Q_ASSERT(QThread::currentThread() == thread());
    const QString k = key(entry);
    if (failedKeys_.contains(k) || images_.contains(k) || loading_.contains(k)) {
        return;
    }
    loading_.insert(k);
    pool_.start([this, k, path = entry.imagePath, base64 = entry.imageDataBase64] {
        const QImage image = loadImage(path, base64);
        // The destructor waits for this job, so `this` outlives the queued call's posting;
        // Qt drops the call if the cache is gone by the time it would run.
        QMetaObject::invokeMethod(
            this, [this, k, image] { store(k, image); }, Qt::QueuedConnection);
    });
}

void ClipboardImageCache::store(const QString& key, const QImage& image) {
    loading_.remove(key);
    if (image.isNull()) {
        failedKeys_.insert(key);
        emit finished(key, false);
        return;
    }
    const qsizetype kb = image.sizeInBytes() / 1024 + 1;
    images_.insert(key, new QImage(image), int(std::min<qsizetype>(kb, images_.maxCost())));
    emit finished(key, true);
}

} // namespace orvane
