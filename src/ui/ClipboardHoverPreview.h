#pragma once

#include "clipboard/ClipboardEntry.h"
#include "ui/ClipboardPreviewLayout.h"

#include <QWidget>

class QFrame;
class QStackedLayout;
class QTextDocument;
class QTextEdit;

namespace orvane {

class ClipboardImageCache;
class ClipboardPreviewContent;

// The preview's borderless tool window: the whole text of an entry in a read-only text
// view, or its picture or file list. It never takes the focus from the window below, so
// showing it does not hide that window. It reports clicks (anywhere but on the scroll
// bar, which stays usable), Escape and the pointer's comings and goings; deciding what
// they mean is the controller's business.
class ClipboardHoverPreview : public QWidget {
    Q_OBJECT

public:
    explicit ClipboardHoverPreview(ClipboardImageCache& images, QWidget* parent = nullptr);

    // Lays the text out for the limits and shows it scrolled to the top; returns the
    // panel size it needs.
    QSize showText(const QString& text, const ClipboardPreviewLayout::Limits& limits);
    // Shows a picture or a file list; the content reports its size through contentChanged.
    void showContent(const ClipboardEntry& entry, QSize maxContent);
    void clear();

    bool isShowingText() const;
    QTextEdit* textView() const { return text_; }
    ClipboardPreviewContent* content() const { return content_; }

signals:
    void clicked();
    void escapePressed();
    void pointerEntered();
    void pointerLeft();
    void contentChanged(QSizeF preferred);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void useDocument(QTextDocument* document);

    QStackedLayout* pages_;
    QWidget* textPage_;
    QTextEdit* text_;
    ClipboardPreviewContent* content_;
    QFrame* outline_ = nullptr;
};

} // namespace orvane
