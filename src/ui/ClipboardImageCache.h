#pragma once

#include "clipboard/ClipboardEntry.h"

#include <QCache>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QString>
#include <QThreadPool>

#include <optional>

namespace orvane {

// The images of history entries, loaded once in the background and shared by every view
// (thumbnails now, the larger preview later). A key whose load failed is remembered and
// never tried again while the program runs, so a deleted file costs one attempt only.
//
// Main thread only, except the loads themselves, which run on the cache's own pool and
// hand their result back through a queued call.
class ClipboardImageCache : public QObject {
    Q_OBJECT

public:
    // Decoded images are kept up to this many kilobytes; an evicted image loads again.
    static constexpr int defaultCostLimitKb = 16 * 1024;
    // Images are decoded at most this large (twice a thumbnail's layout width, for
    // high-density screens); a view that needs the full picture loads it itself.
    static constexpr QSize defaultMaxImageSize{640, 640};

    explicit ClipboardImageCache(int costLimitKb = defaultCostLimitKb, QObject* parent = nullptr);
    // Waits for loads still running, so none reports to a destroyed cache.
    ~ClipboardImageCache() override;

    // The program-wide instance, owned by the application object.
    static ClipboardImageCache& shared();

    // The stored image's path, else "image:" and the fingerprint of the bytes in memory,
    // else the decimal id.
    static QString key(const ClipboardEntry& entry);

    // The cached image, if any.
    std::optional<QImage> cached(const QString& key) const;
    bool hasFailed(const QString& key) const { return failedKeys_.contains(key); }

    // Starts loading the entry's image unless it is cached, failed or already loading;
    // finished() follows on the main thread.
    void load(const ClipboardEntry& entry);

    // Drops the images (and remembered failures) of every key but these: the history holds
    // 30 entries, and an image that left it is never shown again.
    void retainOnly(const QSet<QString>& keys);

signals:
    // ok: the image is in the cache now; otherwise the key joined the failed keys.
    void finished(const QString& key, bool ok);

private:
    void store(const QString& key, const QImage& image);

    QThreadPool pool_;
    QCache<QString, QImage> images_;
    QSet<QString> failedKeys_;
    QSet<QString> loading_;
    QSize maxImageSize_;
};

} // namespace orvane
