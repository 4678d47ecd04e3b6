#include "ui/ClipboardHoverPreview.h"

#include "ui/ClipboardPreviewContent.h"

#include <QAbstractTextDocumentLayout>
#include <QFrame>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStackedLayout>
#include <QTextDocument>
#include <QTextEdit>
#include <QVBoxLayout>

#include <cmath>

namespace orvane {

ClipboardHoverPreview::ClipboardHoverPreview(ClipboardImageCache& images, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus) {
    setObjectName(QStringLiteral("clipboardHoverPreview"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    resize(320, 200);

    pages_ = new QStackedLayout(this);
    pages_->setContentsMargins(0, 0, 0, 0);
    // The controller decides the size; the pages' minimum sizes must not override it.
    pages_->setSizeConstraint(QLayout::SetNoConstraint);

    textPage_ = new QWidget(this);
    auto* textLayout = new QVBoxLayout(textPage_);
    const int padding = ClipboardPreviewLayout::textPadding;
    textLayout->setContentsMargins(padding, padding, padding, padding);
    text_ = new QTextEdit(textPage_);
    text_->setObjectName(QStringLiteral("previewText"));
    text_->setReadOnly(true);
    text_->setMinimumSize(1, 1);
    text_->setFrameShape(QFrame::NoFrame);
    text_->setFocusPolicy(Qt::NoFocus);
    text_->setTextInteractionFlags(Qt::NoTextInteraction);
    text_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    text_->setLineWrapMode(QTextEdit::WidgetWidth);
    text_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    text_->viewport()->installEventFilter(this);
    textLayout->addWidget(text_);
    pages_->addWidget(textPage_);

    content_ = new ClipboardPreviewContent(images, this);
    connect(content_, &ClipboardPreviewContent::contentChanged, this,
            &ClipboardHoverPreview::contentChanged);
    pages_->addWidget(content_);

    // Without a compositor there is no shadow, so a hairline over everything keeps the
    // panel apart from the window it covers.
    outline_ = new QFrame(this);
    outline_->setFrameStyle(QFrame::Box | QFrame::Plain);
    outline_->setLineWidth(1);
    outline_->setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette outlinePalette = outline_->palette();
    outlinePalette.setColor(QPalette::WindowText, palette().color(QPalette::Mid));
    outline_->setPalette(outlinePalette);
}

QSize ClipboardHoverPreview::showText(const QString& text,
                                      const ClipboardPreviewLayout::Limits& limits) {
    content_->clear();
    // Measured in a document of its own: the text view re-lays out its document at its
    // current width whenever that document reports a size.
    auto* document = new QTextDocument(this);
    document->setDefaultFont(text_->font());
    document->setDocumentMargin(0);
    QTextOption option = document->defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    document->setDefaultTextOption(option);
    document->setPlainText(text);
    document->setTextWidth(ClipboardPreviewLayout::textLayoutWidth(limits));
    const QSize used(int(std::ceil(document->idealWidth())),
                     int(std::ceil(document->documentLayout()->documentSize().height())));
    useDocument(document);
    const bool scrolls = ClipboardPreviewLayout::textScrolls(used.height(), limits);
    text_->setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    pages_->setCurrentWidget(textPage_);
    text_->verticalScrollBar()->setValue(0);
    return ClipboardPreviewLayout::textPanelSize(
        used, text_->verticalScrollBar()->sizeHint().width(), limits);
}

void ClipboardHoverPreview::useDocument(QTextDocument* document) {
    // The text view deletes the document it made itself; the ones made here are ours.
    QTextDocument* previous = text_->document();
    const bool ours = previous->parent() == this;
    text_->setDocument(document);
    if (ours) {
        delete previous;
    }
}

void ClipboardHoverPreview::showContent(const ClipboardEntry& entry, QSize maxContent) {
    text_->clear();
    pages_->setCurrentWidget(content_);
    content_->setEntry(entry, maxContent);
}

void ClipboardHoverPreview::clear() {
    text_->clear();
    content_->clear();
    pages_->setCurrentWidget(content_);
}

bool ClipboardHoverPreview::isShowingText() const {
    return pages_->currentWidget() == textPage_;
}

bool ClipboardHoverPreview::eventFilter(QObject* watched, QEvent* event) {
    if (watched == text_->viewport() && event->type() == QEvent::MouseButtonPress) {
        emit clicked();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void ClipboardHoverPreview::mousePressEvent(QMouseEvent* event) {
    event->accept();
    emit clicked();
}

void ClipboardHoverPreview::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        emit escapePressed();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ClipboardHoverPreview::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    emit pointerEntered();
}

void ClipboardHoverPreview::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    emit pointerLeft();
}

void ClipboardHoverPreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
}

void ClipboardHoverPreview::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!outline_) {
        return;
    }
    outline_->setGeometry(rect());
    outline_->raise();
}

} // namespace orvane
