#include "ui/ClipboardImageCache.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImageReader>
#include <QPointer>
#include <QThread>

#include <algorithm>

namespace orvane {

namespace {

// Decodes at most maxSize, keeping the aspect ratio, so a full-screen screenshot costs
// a fraction of its full decoded size while it sits in the history.
QImage loadImage(const std::optional<QString>& path, const std::optional<QByteArray>& bytes,
                 QSize maxSize) {
    QByteArray data;
    QBuffer buffer(&data);
    QImageReader reader;
    if (path) {
        reader.setFileName(*path);
    } else if (bytes) {
        data = *bytes;
        buffer.open(QIODevice::ReadOnly);
        reader.setDevice(&buffer);
    } else {
        return {};
    }
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > maxSize.width() || size.height() > maxSize.height())) {
        reader.setScaledSize(size.scaled(maxSize, Qt::KeepAspectRatio));
    }
    return reader.read();
}

} // namespace

ClipboardImageCache::ClipboardImageCache(int costLimitKb, QObject* parent)
    : QObject(parent)
    , images_(costLimitKb)
    , maxImageSize_(defaultMaxImageSize) {
    // Thumbnails appear in history order; at most two loaders, and never all the cores:
    // decoding a history of screenshots at start must not slow the window's first show.
    pool_.setMaxThreadCount(std::clamp(QThread::idealThreadCount() - 1, 1, 2));
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
    if (entry.imageData) {
        return QStringLiteral("image:") + entry.fingerprintOrCompute();
    }
    return QString::number(entry.id);
}

void ClipboardImageCache::retainOnly(const QSet<QString>& keys) {
    Q_ASSERT(thread() == QThread::currentThread());
    const QList<QString> cachedKeys = images_.keys();
    for (const QString& key : cachedKeys) {
        if (!keys.contains(key)) {
            images_.remove(key);
        }
    }
    failedKeys_.intersect(keys);
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
    pool_.start(
        [this, k, path = entry.imagePath, bytes = entry.imageData, maxSize = maxImageSize_] {
            const QImage image = loadImage(path, bytes, maxSize);
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
