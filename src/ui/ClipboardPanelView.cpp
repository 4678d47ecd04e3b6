#include "ui/ClipboardPanelView.h"

#include "ui/ClipboardHistoryRow.h"
#include "ui/ClipboardImageCache.h"
#include "ui/ClipboardTransferOverlay.h"
#include "ui/SerialStatusBar.h"
#include "ui/ToastBanner.h"

#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

namespace orvane {

namespace {

QLabel* makeTitle(const QString& text, qreal scale, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    font.setBold(true);
    label->setFont(font);
    return label;
}

} // namespace

ClipboardPanelView::ClipboardPanelView(ClipboardImageCache& images, QWidget* parent)
    : QWidget(parent)
    , images_(images) {
    setObjectName(QStringLiteral("clipboardPanel"));
    mainLayout_ = new QVBoxLayout(this);
    mainLayout_->setContentsMargins(16, 14, 16, 14);
    mainLayout_->setSpacing(10);

    auto* header = new QHBoxLayout;
    header->addWidget(makeTitle(QStringLiteral("剪贴板"), 1.35, this));
    header->addStretch(1);
    statusBar_ = new SerialStatusBar(this);
    header->addWidget(statusBar_);
    mainLayout_->addLayout(header);

    auto* section = new QHBoxLayout;
    section->addWidget(makeTitle(QStringLiteral("历史记录"), 1.0, this));
    section->addStretch(1);
    clearAll_ = new QPushButton(QStringLiteral("全部清空"), this);
    clearAll_->setObjectName(QStringLiteral("clearAll"));
    clearAll_->setFocusPolicy(Qt::NoFocus);
    connect(clearAll_, &QPushButton::clicked, this, &ClipboardPanelView::clearAllRequested);
    section->addWidget(clearAll_);
    mainLayout_->addLayout(section);

    scroll_ = new QScrollArea(this);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    rowsHost_ = new QWidget(scroll_);
    rowsLayout_ = new QVBoxLayout(rowsHost_);
    rowsLayout_->setContentsMargins(0, 0, 4, 0);
    rowsLayout_->setSpacing(4);
    emptyLabel_ = new QLabel(QStringLiteral("暂无历史记录"), rowsHost_);
    emptyLabel_->setObjectName(QStringLiteral("emptyHistory"));
    emptyLabel_->setAlignment(Qt::AlignCenter);
    emptyLabel_->setForegroundRole(QPalette::PlaceholderText);
    emptyLabel_->setMinimumHeight(120);
    rowsLayout_->addWidget(emptyLabel_);
    rowsLayout_->addStretch(1);
    scroll_->setWidget(rowsHost_);
    mainLayout_->addWidget(scroll_, 1);

    overlay_ = new ClipboardTransferOverlay(this);
    overlay_->hide();
    connect(overlay_, &ClipboardTransferOverlay::cancelRequested, this,
            &ClipboardPanelView::cancelTransferRequested);
    toast_ = new ToastBanner(this);
    toast_->installEventFilter(this);

    singleClickJob_.setSingleShot(true);
    singleClickJob_.setInterval(singleClickDelay);
    connect(&singleClickJob_, &QTimer::timeout, this, &ClipboardPanelView::onSingleClick);
    rebuildRows();
}

void ClipboardPanelView::setClipboardState(const ClipboardState& state) {
    Q_ASSERT(QThread::currentThread() == thread());
    const bool historyChanged = state.history != state_.history;
    state_ = state;
    if (historyChanged) {
        rebuildRows();
    } else {
        updateHighlights();
    }
}

void ClipboardPanelView::setTransfer(bool transferring, int progress) {
    Q_ASSERT(QThread::currentThread() == thread());
    overlay_->setProgress(progress);
    overlay_->setGeometry(rect());
    overlay_->setVisible(transferring);
    if (transferring) {
        overlay_->raise();
        toast_->raise();
    }
}

void ClipboardPanelView::setPreviewedEntryId(std::optional<qint64> id) {
    previewedId_ = id;
    updateHighlights();
}

void ClipboardPanelView::setSendAvailable(bool available) {
    sendAvailable_ = available;
    for (ClipboardHistoryRow* row : rows_) {
        row->setSendAvailable(available);
    }
}

void ClipboardPanelView::setLogPanel(QWidget* panel) {
    if (logPanel_) {
        mainLayout_->removeWidget(logPanel_);
        logPanel_->deleteLater();
    }
    logPanel_ = panel;
    if (logPanel_) {
        mainLayout_->addWidget(logPanel_);
        logPanel_->setVisible(serialDebugLogEnabled_);
    }
}

void ClipboardPanelView::setSerialDebugLogEnabled(bool enabled) {
    serialDebugLogEnabled_ = enabled;
    if (logPanel_) {
        logPanel_->setVisible(enabled);
    }
}

std::optional<QString> ClipboardPanelView::fileToShow(const ClipboardEntry& entry) {
    for (const QString& path : entry.files) {
        if (path.isEmpty()) {
            continue;
        }
        if (QFileInfo(QFileInfo(path).absolutePath()).isDir()) {
            return path;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

bool ClipboardPanelView::openFileDirectory(const ClipboardEntry& entry) {
    const auto path = fileToShow(entry);
    if (!path) {
        return false;
    }
    if (revealer_) {
        revealer_->reveal(*path);
    } else {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(*path).absolutePath()));
    }
    return true;
}

void ClipboardPanelView::setFileRevealer(std::unique_ptr<FileRevealer> revealer) {
    revealer_ = std::move(revealer);
}

void ClipboardPanelView::hideTransientUI() {
    singleClickJob_.stop();
    emit previewHideRequested();
}

void ClipboardPanelView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    overlay_->setGeometry(rect());
    placeToast();
}

bool ClipboardPanelView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == toast_ && (event->type() == QEvent::Show || event->type() == QEvent::Resize ||
                              event->type() == QEvent::LayoutRequest)) {
        placeToast();
    }
    return QWidget::eventFilter(watched, event);
}

void ClipboardPanelView::placeToast() {
    const QSize size = toast_->sizeHint();
    toast_->setGeometry((width() - size.width()) / 2, height() - size.height() - 24, size.width(),
                        size.height());
}

void ClipboardPanelView::rebuildRows() {
    for (ClipboardHistoryRow* row : rows_) {
        rowsLayout_->removeWidget(row);
        row->deleteLater();
    }
    rows_.clear();
    QSet<QString> imageKeys;
    for (const ClipboardEntry& entry : state_.history) {
        if (entry.kind == ClipboardKind::image) {
            imageKeys.insert(ClipboardImageCache::key(entry));
        }
    }
    images_.retainOnly(imageKeys);
    int position = 0;
    for (const ClipboardEntry& entry : state_.history) {
        auto* row = new ClipboardHistoryRow(entry, images_, rowsHost_);
        row->setSendAvailable(sendAvailable_);
        const qint64 id = entry.id;
        connect(row, &ClipboardHistoryRow::pressed, this,
                [this, row] { onRowPressed(row->entry()); });
        connect(row, &ClipboardHistoryRow::doubleClicked, this,
                [this, row] { onRowDoubleClicked(row->entry()); });
        connect(row, &ClipboardHistoryRow::sendClicked, this,
                [this, id] { emit sendRequested(id); });
        connect(row, &ClipboardHistoryRow::deleteClicked, this,
                [this, id] { emit deleteRequested(id); });
        connect(row, &ClipboardHistoryRow::openFolderClicked, this,
                [this, row] { openFileDirectory(row->entry()); });
        rowsLayout_->insertWidget(position++, row);
        rows_.append(row);
    }
    emptyLabel_->setVisible(rows_.isEmpty());
    clearAll_->setEnabled(!rows_.isEmpty());
    updateHighlights();
}

void ClipboardPanelView::updateHighlights() {
    for (ClipboardHistoryRow* row : rows_) {
        const qint64 id = row->entry().id;
        if (previewedId_ && *previewedId_ == id) {
            row->setHighlight(ClipboardHistoryRow::Highlight::previewed);
        } else if (id == state_.current.id) {
            row->setHighlight(ClipboardHistoryRow::Highlight::current);
        } else {
            row->setHighlight(ClipboardHistoryRow::Highlight::none);
        }
    }
}

void ClipboardPanelView::onRowPressed(const ClipboardEntry& entry) {
    singleClickEntry_ = entry;
    singleClickJob_.start();
}

void ClipboardPanelView::onRowDoubleClicked(const ClipboardEntry& entry) {
    singleClickJob_.stop();
    emit previewHideRequested();
    if (entry.kind != ClipboardKind::text) {
        if (QWidget* focus = window()->focusWidget()) {
            focus->clearFocus();
        }
    }
    emit entryDoubleClicked(entry);
}

void ClipboardPanelView::onSingleClick() {
    ClipboardEntry entry = singleClickEntry_;
    if (entry.kind != ClipboardKind::text) {
        if (QWidget* focus = window()->focusWidget()) {
            focus->clearFocus();
        }
    }
    entry.dataSize = ClipboardEntry::computeDataSize(entry);
    emit previewRequested(entry);
}

} // namespace orvane
