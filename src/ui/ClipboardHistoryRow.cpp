#include "ui/ClipboardHistoryRow.h"

#include "ui/ClipboardFormatting.h"
#include "ui/ClipboardImageThumbnail.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace orvane {

namespace {

QPushButton* makeButton(const QString& text, const QString& help, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setToolTip(help);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::NoFocus);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

} // namespace

ClipboardHistoryRow::ClipboardHistoryRow(const ClipboardEntry& entry, ClipboardImageCache& cache,
                                         QWidget* parent)
    : QFrame(parent)
    , entry_(entry) {
    setObjectName(QStringLiteral("historyRow"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(10, 8, 10, 8);
    outer->setSpacing(6);

    auto* top = new QHBoxLayout;
    top->setSpacing(6);
    preview_ = new QLabel(this);
    preview_->setObjectName(QStringLiteral("preview"));
    // One line only, elided to the room it gets: a long text would otherwise make a very
    // tall row.
    const QString full = ClipboardFormatting::preview(entry);
    // Eliding needs no more than a line's worth; a text of megabytes on one line would
    // otherwise be measured whole on every relayout.
    previewLine_ = full.section(QLatin1Char('\n'), 0, 0).left(1000);
    preview_->setText(previewLine_);
    preview_->setToolTip(full.left(500));
    preview_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    top->addWidget(preview_, 1);

    sendButton_ =
        makeButton(QStringLiteral("发送"), QStringLiteral("通过 TRANS 发送到 Target"), this);
    sendButton_->setObjectName(QStringLiteral("send"));
    connect(sendButton_, &QPushButton::clicked, this, &ClipboardHistoryRow::sendClicked);
    top->addWidget(sendButton_);
    if (entry.kind == ClipboardKind::files) {
        auto* open = makeButton(QStringLiteral("打开目录"),
                                QStringLiteral("在文件管理器中打开文件所在目录"), this);
        open->setObjectName(QStringLiteral("openFolder"));
        connect(open, &QPushButton::clicked, this, &ClipboardHistoryRow::openFolderClicked);
        top->addWidget(open);
    }
    auto* remove = makeButton(QStringLiteral("删除"), QStringLiteral("删除"), this);
    remove->setObjectName(QStringLiteral("delete"));
    connect(remove, &QPushButton::clicked, this, &ClipboardHistoryRow::deleteClicked);
    top->addWidget(remove);
    outer->addLayout(top);

    if (entry.kind == ClipboardKind::image) {
        outer->addWidget(new ClipboardImageThumbnail(entry, thumbnailMinHeight, thumbnailMaxHeight,
                                                     cache, this));
    }

    auto* meta =
        new QLabel(ClipboardFormatting::formatDataSize(entry.dataSize) + QStringLiteral("  ·  ") +
                       ClipboardFormatting::formatTime(entry.timestamp),
                   this);
    meta->setObjectName(QStringLiteral("meta"));
    QFont small = meta->font();
    small.setPointSizeF(small.pointSizeF() * 0.88);
    meta->setFont(small);
    meta->setForegroundRole(QPalette::PlaceholderText);
    outer->addWidget(meta);
}

void ClipboardHistoryRow::setHighlight(Highlight highlight) {
    if (highlight != highlight_) {
        highlight_ = highlight;
        update();
    }
}

void ClipboardHistoryRow::setSendAvailable(bool available) {
    sendButton_->setEnabled(available);
}

void ClipboardHistoryRow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        emit pressed();
    }
    QFrame::mousePressEvent(event);
}

void ClipboardHistoryRow::mouseDoubleClickEvent(QMouseEvent* event) {
    // Not passed on: the base class would treat it as one more press, which would start a
    // new single click right after the double click.
    if (event->button() == Qt::LeftButton) {
        emit doubleClicked();
        event->accept();
        return;
    }
    QFrame::mouseDoubleClickEvent(event);
}

void ClipboardHistoryRow::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    // The layout has already given the label its new width.
    preview_->setText(
        preview_->fontMetrics().elidedText(previewLine_, Qt::ElideRight, preview_->width()));
}

void ClipboardHistoryRow::paintEvent(QPaintEvent* event) {
    if (highlight_ != Highlight::none) {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor accent = palette().color(QPalette::Highlight);
        accent.setAlphaF(highlight_ == Highlight::previewed ? 0.16f : 0.08f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(accent);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 8, 8);
    }
    QFrame::paintEvent(event);
}

} // namespace orvane
