#pragma once

#include "clipboard/ClipboardEntry.h"

#include <QImage>
#include <QSize>
#include <QSizeF>
#include <QThreadPool>
#include <QWidget>

class QLabel;
class QScrollArea;
class QStackedLayout;
class QVBoxLayout;

namespace orvane {

class ClipboardImageCache;

// The preview's content for images and file lists. An image is shown fitted into the
// space it is given, with its pixel size below it; a list of files shows each name with
// its folder. Clicks are left to the window around it.
//
// Main thread only; the full-size decode of an image runs on the content's own pool.
class ClipboardPreviewContent : public QWidget {
    Q_OBJECT

public:
    enum class ImagePhase { none, loading, ready, unavailable };

    static constexpr int margin = 12;

    explicit ClipboardPreviewContent(ClipboardImageCache& cache, QWidget* parent = nullptr);
    // Waits for a decode still running, so none reports to a destroyed view.
    ~ClipboardPreviewContent() override;

    // Shows an image or files entry within maxContent; contentChanged follows (at once,
    // and again when an image arrives) with the size the content wants.
    void setEntry(const ClipboardEntry& entry, QSize maxContent);
    void clear();

    ImagePhase imagePhase() const { return phase_; }
    QString caption() const;
    // The image's pixel size as stored (valid only for image entries that could be read).
    QSize pixelSize() const { return pixelSize_; }
    QSize preferredSize() const;

signals:
    void contentChanged(QSizeF preferred);

private:
    void showImage(const ClipboardEntry& entry, QSize maxContent);
    void showFiles(const QStringList& files, QSize maxContent);
    void showPicture(const QImage& image);
    void showUnavailable();
    void onDecoded(quint64 generation, const QImage& image);
    void reportSize();

    ClipboardImageCache& cache_;
    QThreadPool pool_;
    quint64 generation_ = 0;
    ImagePhase phase_ = ImagePhase::none;
    QSize pixelSize_;
    QSize displaySize_;

    QStackedLayout* pages_;
    QWidget* imagePage_;
    QLabel* picture_;
    QLabel* caption_;
    QWidget* unavailablePage_;
    QScrollArea* filesPage_;
    QWidget* filesHost_;
    QVBoxLayout* filesLayout_;
    int filesMaxHeight_ = 0;
};

} // namespace orvane
