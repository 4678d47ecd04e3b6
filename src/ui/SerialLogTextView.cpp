#include "ui/SerialLogTextView.h"

#include <QFontDatabase>
#include <QMetaObject>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QThread>

namespace orvane {

const QString SerialLogTextView::droppedMarker = QStringLiteral("…较早的日志行已省略…");

SerialLogTextView::SerialLogTextView(QWidget* parent)
    : QPlainTextEdit(parent) {
    setObjectName(QStringLiteral("serialLogText"));
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setUndoRedoEnabled(false); // an undo stack would keep every appended delta a second time
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFrameShape(QFrame::NoFrame);
    setBackgroundVisible(false);
    viewport()->setAutoFillBackground(false);
    setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; }"));

    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(font().pointSizeF() * 0.88);
    mono.setWeight(QFont::Normal);
    setFont(mono);
    document()->setDocumentMargin(2);

    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &SerialLogTextView::onScrolled);
}

void SerialLogTextView::onScrolled() {
    // The scroll bar counts lines; the tolerance is in pixels.
    const QScrollBar* bar = verticalScrollBar();
    const int linesBelow = bar->maximum() - bar->value();
    userPinnedToBottom_ = linesBelow * fontMetrics().lineSpacing() <= pinnedTolerancePx;
}

void SerialLogTextView::appendDelta(const QString& text) {
    Q_ASSERT(QThread::currentThread() == thread());
    if (text.isEmpty()) {
        return;
    }
    if (!pending_.isEmpty()) {
        pending_ += text;
        return;
    }
    if (text.count(QLatin1Char('\n')) <= sliceLines) {
        insertLines(text);
        return;
    }
    pending_ = text;
    pendingFrom_ = 0;
    appendPendingSlice();
}

void SerialLogTextView::appendPendingSlice() {
    if (pending_.isEmpty()) {
        return;
    }
    qsizetype end = pendingFrom_;
    for (int line = 0; line < sliceLines && end < pending_.size(); ++line) {
        const qsizetype lineBreak = pending_.indexOf(QLatin1Char('\n'), end);
        end = lineBreak < 0 ? pending_.size() : lineBreak + 1;
    }
    insertLines(pending_.sliced(pendingFrom_, end - pendingFrom_));
    pendingFrom_ = end;
    if (pendingFrom_ >= pending_.size()) {
        pending_.clear();
        pendingFrom_ = 0;
        return;
    }
    if (!sliceQueued_) {
        // After the events already waiting: painting and input come between two slices.
        sliceQueued_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                sliceQueued_ = false;
                appendPendingSlice();
            },
            Qt::QueuedConnection);
    }
}

void SerialLogTextView::insertLines(const QString& text) {
    const bool follow = autoScroll_ && userPinnedToBottom_;
    QTextDocument* doc = document();
    QTextCursor end(doc);
    end.movePosition(QTextCursor::End);
    // The document holds the lines without the final line break, so that it does not end
    // in an empty line; the break comes back in front of the next delta.
    QString lines = text;
    const bool endsWithBreak = lines.endsWith(QLatin1Char('\n'));
    if (endsWithBreak) {
        lines.chop(1);
    }
    if (!doc->isEmpty()) {
        lines.prepend(QLatin1Char('\n'));
    }
    end.insertText(lines);
    dropOldestLines();
    if (follow) {
        scrollToEnd();
    }
}

void SerialLogTextView::resetText(const QString& text) {
    Q_ASSERT(QThread::currentThread() == thread());
    droppedLines_ = 0;
    pending_.clear();
    pendingFrom_ = 0;
    QString lines = text;
    if (lines.endsWith(QLatin1Char('\n'))) {
        lines.chop(1);
    }
    setPlainText(lines);
    dropOldestLines();
    userPinnedToBottom_ = true;
    if (autoScroll_) {
        scrollToEnd();
    }
}

void SerialLogTextView::scrollToEnd() {
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->maximum());
    userPinnedToBottom_ = true;
}

void SerialLogTextView::dropOldestLines() {
    QTextDocument* doc = document();
    const bool hasMarker = droppedLines_ > 0;
    const int lines = doc->blockCount() - (hasMarker ? 1 : 0);
    if (maximumLines_ <= 0 || lines <= maximumLines_) {
        return;
    }
    // A little more than needed, so that trimming runs once per many appends, yet each
    // trim stays short: removing blocks costs in proportion to their number.
    const int drop = lines - maximumLines_ + maximumLines_ / 50;
    QScrollBar* bar = verticalScrollBar();
    const int valueBefore = bar->value();
    const qreal heightBefore = doc->documentLayout()->documentSize().height();

    // Selected by position: stepping block by block would lay out every dropped block.
    QTextCursor cursor(doc);
    cursor.setPosition(doc->findBlockByNumber(drop + (hasMarker ? 1 : 0)).position(),
                       QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.insertText(droppedMarker + QLatin1Char('\n'));
    droppedLines_ += drop;

    if (!userPinnedToBottom_) {
        // Keep the lines the user is reading where they are.
        const qreal removed = heightBefore - doc->documentLayout()->documentSize().height();
        bar->setValue(std::max(0, valueBefore - int(removed)));
    }
}

} // namespace orvane
