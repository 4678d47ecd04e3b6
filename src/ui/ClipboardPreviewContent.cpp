#include "ui/ClipboardPreviewContent.h"

#include "ui/ClipboardImageCache.h"
#include "ui/ClipboardImagePreviewMetrics.h"
#include "ui/Symbols.h"

#include <QBuffer>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

constexpr int captionSpacing = 6;
constexpr int fileIconSize = 24;

// Reads the picture's header (or, with a target size, decodes it at that size) from
// the stored file or the bytes in memory. The size is the one shown, after EXIF rotation.
class ImageSource {
public:
    explicit ImageSource(const ClipboardEntry& entry)
        : path_(entry.imagePath) {
        if (!path_ && entry.imageData) {
            data_ = *entry.imageData;
        }
    }

    QSize pixelSize() {
        QBuffer buffer(&data_);
        QImageReader reader;
        open(reader, buffer);
        reader.setAutoTransform(true);
        QSize size = reader.size();
        if (reader.transformation() & QImageIOHandler::TransformationRotate90) {
            size.transpose();
        }
        return size;
    }

    QImage decode(QSize target) {
        QBuffer buffer(&data_);
        QImageReader reader;
        open(reader, buffer);
        reader.setAutoTransform(true);
        // Decoded at (about) the size shown where the format allows, so a huge picture
        // never sits in memory at full size.
        const QSize stored = reader.size();
        if (stored.isValid() && target.isValid()) {
            QSize box = target;
            if (reader.transformation() & QImageIOHandler::TransformationRotate90) {
                box.transpose();
            }
            if (stored.width() > box.width() || stored.height() > box.height()) {
                reader.setScaledSize(stored.scaled(box, Qt::KeepAspectRatio));
            }
        }
        QImage image = reader.read();
        if (!image.isNull() && image.size() != target && target.isValid()) {
            image = image.scaled(target, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        }
        return image;
    }

private:
    void open(QImageReader& reader, QBuffer& buffer) {
        if (path_) {
            reader.setFileName(*path_);
        } else {
            buffer.open(QIODevice::ReadOnly);
            reader.setDevice(&buffer);
        }
    }

    std::optional<QString> path_;
    QByteArray data_;
};

QLabel* makeCaption(QWidget* parent) {
    auto* label = new QLabel(parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

ClipboardPreviewContent::ClipboardPreviewContent(ClipboardImageCache& cache, QWidget* parent)
    : QWidget(parent)
    , cache_(cache) {
    pool_.setMaxThreadCount(1);
    pool_.setObjectName(QStringLiteral("com.orvane.ui.preview"));

    pages_ = new QStackedLayout(this);

    imagePage_ = new QWidget(this);
    auto* imageLayout = new QVBoxLayout(imagePage_);
    imageLayout->setContentsMargins(margin, margin, margin, margin);
    imageLayout->setSpacing(captionSpacing);
    picture_ = new QLabel(imagePage_);
    picture_->setObjectName(QStringLiteral("previewPicture"));
    picture_->setAlignment(Qt::AlignCenter);
    caption_ = makeCaption(imagePage_);
    caption_->setObjectName(QStringLiteral("previewCaption"));
    imageLayout->addWidget(picture_, 1);
    imageLayout->addWidget(caption_);
    pages_->addWidget(imagePage_);

    unavailablePage_ = new QWidget(this);
    auto* unavailableLayout = new QVBoxLayout(unavailablePage_);
    unavailableLayout->setContentsMargins(margin, margin, margin, margin);
    auto* symbol = new QLabel(unavailablePage_);
    symbol->setPixmap(Symbols::icon(QStringLiteral("photo")).pixmap(40, 40));
    symbol->setAlignment(Qt::AlignCenter);
    auto* unavailableText = makeCaption(unavailablePage_);
    unavailableText->setText(QStringLiteral("无法加载截图"));
    unavailableLayout->addStretch(1);
    unavailableLayout->addWidget(symbol);
    unavailableLayout->addWidget(unavailableText);
    unavailableLayout->addStretch(1);
    pages_->addWidget(unavailablePage_);

    filesPage_ = new QScrollArea(this);
    filesPage_->setFrameShape(QFrame::NoFrame);
    filesPage_->setWidgetResizable(true);
    filesPage_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    filesPage_->viewport()->setAutoFillBackground(false);
    filesHost_ = new QWidget(filesPage_);
    filesHost_->setAutoFillBackground(false);
    filesLayout_ = new QVBoxLayout(filesHost_);
    filesLayout_->setContentsMargins(margin, margin, margin, margin);
    filesLayout_->setSpacing(8);
    filesPage_->setWidget(filesHost_);
    pages_->addWidget(filesPage_);
}

ClipboardPreviewContent::~ClipboardPreviewContent() {
    pool_.waitForDone();
}

void ClipboardPreviewContent::setEntry(const ClipboardEntry& entry, QSize maxContent) {
    Q_ASSERT(QThread::currentThread() == thread());
    ++generation_;
    phase_ = ImagePhase::none;
    pixelSize_ = {};
    if (entry.kind == ClipboardKind::image) {
        showImage(entry, maxContent);
    } else {
        showFiles(entry.files, maxContent);
    }
    reportSize();
}

void ClipboardPreviewContent::clear() {
    ++generation_;
    phase_ = ImagePhase::none;
    picture_->clear();
    caption_->clear();
}

QString ClipboardPreviewContent::caption() const {
    return caption_->text();
}

void ClipboardPreviewContent::showImage(const ClipboardEntry& entry, QSize maxContent) {
    const QString key = ClipboardImageCache::key(entry);
    ImageSource source(entry);
    pixelSize_ = cache_.hasFailed(key) ? QSize() : source.pixelSize();
    if (!pixelSize_.isValid() || pixelSize_.isEmpty()) {
        showUnavailable();
        return;
    }
    caption_->setText(QStringLiteral("%1 × %2").arg(pixelSize_.width()).arg(pixelSize_.height()));
    // The caption takes its line off the image's box, so both always fit the panel.
    const int captionHeight = caption_->sizeHint().height() + captionSpacing;
    const auto metrics = ClipboardImagePreviewMetrics::make(
        pixelSize_, QSizeF(maxContent.width(), maxContent.height() - captionHeight));
    displaySize_ = metrics.display.toSize();
    picture_->setFixedSize(displaySize_);
    pages_->setCurrentWidget(imagePage_);

    // The history's small copy stands in until the full picture is decoded.
    const auto cached = cache_.cached(key);
    if (cached) {
        showPicture(*cached);
    } else {
        picture_->clear();
    }
    const qreal ratio = devicePixelRatioF();
    const QSize target(int(std::ceil(displaySize_.width() * ratio)),
                       int(std::ceil(displaySize_.height() * ratio)));
    if (cached && cached->width() >= target.width() && cached->height() >= target.height()) {
        phase_ = ImagePhase::ready;
        return;
    }
    phase_ = ImagePhase::loading;
    const quint64 generation = generation_;
    pool_.start([this, generation, source, target]() mutable {
        const QImage image = source.decode(target);
        // The destructor waits for this job; Qt drops the call if the view is gone.
        QMetaObject::invokeMethod(
            this, [this, generation, image] { onDecoded(generation, image); },
            Qt::QueuedConnection);
    });
}

void ClipboardPreviewContent::onDecoded(quint64 generation, const QImage& image) {
    if (generation != generation_) {
        return;
    }
    if (image.isNull()) {
        showUnavailable();
    } else {
        showPicture(image);
        phase_ = ImagePhase::ready;
    }
    reportSize();
}

void ClipboardPreviewContent::showPicture(const QImage& image) {
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap = QPixmap::fromImage(
        image.scaled(displaySize_ * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(ratio);
    picture_->setPixmap(pixmap);
}

void ClipboardPreviewContent::showUnavailable() {
    phase_ = ImagePhase::unavailable;
    picture_->clear();
    caption_->clear();
    pages_->setCurrentWidget(unavailablePage_);
}

void ClipboardPreviewContent::showFiles(const QStringList& files, QSize maxContent) {
    while (QLayoutItem* item = filesLayout_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const int textWidth = maxContent.width() - 2 * margin - fileIconSize - 10 -
                          filesPage_->verticalScrollBar()->sizeHint().width();
    QFileIconProvider icons;
    for (const QString& path : files) {
        const QFileInfo info(path);
        auto* row = new QWidget(filesHost_);
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->setSpacing(10);
        auto* icon = new QLabel(row);
        icon->setPixmap(icons.icon(info).pixmap(fileIconSize, fileIconSize));
        rowLayout->addWidget(icon, 0, Qt::AlignTop);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(1);
        auto* name = new QLabel(row);
        QFont bold = name->font();
        bold.setBold(true);
        name->setFont(bold);
        name->setText(name->fontMetrics().elidedText(info.fileName(), Qt::ElideMiddle, textWidth));
        name->setToolTip(path);
        auto* folder = makeCaption(row);
        folder->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        folder->setText(
            folder->fontMetrics().elidedText(info.absolutePath(), Qt::ElideMiddle, textWidth));
        texts->addWidget(name);
        texts->addWidget(folder);
        rowLayout->addLayout(texts, 1);
        filesLayout_->addWidget(row);
    }
    filesLayout_->addStretch(1);
    filesMaxHeight_ = maxContent.height();
    pages_->setCurrentWidget(filesPage_);
}

QSize ClipboardPreviewContent::preferredSize() const {
    QWidget* page = pages_->currentWidget();
    if (page == filesPage_) {
        const QSize inner = filesHost_->sizeHint();
        const bool scrolls = inner.height() > filesMaxHeight_;
        const int bar = scrolls ? filesPage_->verticalScrollBar()->sizeHint().width() : 0;
        return {inner.width() + bar, std::min(inner.height(), filesMaxHeight_)};
    }
    if (page == imagePage_) {
        const QSize captionSize = caption_->sizeHint();
        return {std::max(displaySize_.width(), captionSize.width()) + 2 * margin,
                displaySize_.height() + captionSpacing + captionSize.height() + 2 * margin};
    }
    return unavailablePage_->sizeHint().expandedTo(QSize(220, 140));
}

void ClipboardPreviewContent::reportSize() {
    emit contentChanged(QSizeF(preferredSize()));
}

} // namespace orvane
