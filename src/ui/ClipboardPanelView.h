#pragma once

#include "clipboard/ClipboardState.h"
#include "ui/FileRevealer.h"

#include <QList>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <memory>
#include <optional>

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace orvane {

class ClipboardHistoryRow;
class ClipboardImageCache;
class ClipboardTransferOverlay;
class SerialStatusBar;
class ToastBanner;

// The clipboard page: the link status bar, the history with its per-entry actions, the
// serial log below it when enabled, and over everything the transfer overlay and the
// toast. It shows the state it is given through the setters and reports the user's
// requests as signals; it owns no application state itself.
class ClipboardPanelView : public QWidget {
    Q_OBJECT

public:
    // How long a click waits for a second one before it counts as a single click.
    static constexpr std::chrono::milliseconds singleClickDelay{280};

    explicit ClipboardPanelView(ClipboardImageCache& images, QWidget* parent = nullptr);

    // The history newest first; the current entry's row is highlighted.
    void setClipboardState(const ClipboardState& state);
    const ClipboardState& clipboardState() const { return state_; }

    // The overlay shows while transferring, with progress 0..100 (100: the done state).
    void setTransfer(bool transferring, int progress);
    // The row shown in the hover preview (stronger highlight); none clears it.
    void setPreviewedEntryId(std::optional<qint64> id);
    // Without a link to send over (no model yet) the send buttons are disabled.
    void setSendAvailable(bool available);

    // The serial log view sits below the history while the debug log is enabled.
    void setLogPanel(QWidget* panel);
    void setSerialDebugLogEnabled(bool enabled);

    SerialStatusBar* statusBar() const { return statusBar_; }
    ClipboardImageCache& imageCache() const { return images_; }
    ToastBanner* toastBanner() const { return toast_; }
    ClipboardTransferOverlay* transferOverlay() const { return overlay_; }
    QList<ClipboardHistoryRow*> rows() const { return rows_; }
    bool hasPendingSingleClick() const { return singleClickJob_.isActive(); }

    // The entry's first non-empty path when its parent directory exists; nothing otherwise.
    static std::optional<QString> fileToShow(const ClipboardEntry& entry);
    // Shows fileToShow in the file manager; false when there is none.
    bool openFileDirectory(const ClipboardEntry& entry);
    // How a file is shown in the file manager; without one, its directory is opened.
    void setFileRevealer(std::unique_ptr<FileRevealer> revealer);

public slots:
    // The window hides: cancels a pending single click and closes the preview.
    void hideTransientUI();

signals:
    void sendRequested(qint64 id);
    void deleteRequested(qint64 id);
    void clearAllRequested();
    void entryDoubleClicked(const ClipboardEntry& entry);
    void previewRequested(const ClipboardEntry& entry);
    void previewHideRequested();
    void cancelTransferRequested();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuildRows();
    void updateHighlights();
    void onRowPressed(const ClipboardEntry& entry);
    void onRowDoubleClicked(const ClipboardEntry& entry);
    void onSingleClick();
    void placeToast();

    ClipboardImageCache& images_;
    std::unique_ptr<FileRevealer> revealer_;
    ClipboardState state_;
    std::optional<qint64> previewedId_;
    bool sendAvailable_ = true;

    SerialStatusBar* statusBar_;
    QPushButton* clearAll_;
    QScrollArea* scroll_;
    QWidget* rowsHost_;
    QVBoxLayout* rowsLayout_;
    QLabel* emptyLabel_;
    QVBoxLayout* mainLayout_;
    QWidget* logPanel_ = nullptr;
    bool serialDebugLogEnabled_ = false;
    QList<ClipboardHistoryRow*> rows_;
    ClipboardTransferOverlay* overlay_;
    ToastBanner* toast_;

    QTimer singleClickJob_;
    ClipboardEntry singleClickEntry_;
};

} // namespace orvane
