#pragma once

#include "clipboard/ClipboardEntry.h"

#include <QFrame>

class QLabel;
class QPushButton;

namespace orvane {

class ClipboardImageCache;

// One history entry: its preview line, size and time, a thumbnail for images, and the
// send, open-folder (files only) and delete buttons. Clicks on the row itself are
// reported raw; telling a single from a double click is the panel's business.
class ClipboardHistoryRow : public QFrame {
    Q_OBJECT

public:
    enum class Highlight { none, current, previewed };

    static constexpr int thumbnailMinHeight = 48;
    static constexpr int thumbnailMaxHeight = 120;

    ClipboardHistoryRow(const ClipboardEntry& entry, ClipboardImageCache& cache,
                        QWidget* parent = nullptr);

    const ClipboardEntry& entry() const { return entry_; }

    Highlight highlight() const { return highlight_; }
    void setHighlight(Highlight highlight);

    // Without a link to send over, the send button is disabled.
    void setSendAvailable(bool available);

signals:
    void pressed();
    void doubleClicked();
    void sendClicked();
    void openFolderClicked();
    void deleteClicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    ClipboardEntry entry_;
    QString previewLine_;
    QLabel* preview_ = nullptr;
    Highlight highlight_ = Highlight::none;
    QPushButton* sendButton_ = nullptr;
};

} // namespace orvane
