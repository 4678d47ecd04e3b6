#pragma once

#include <QPlainTextEdit>

namespace orvane {

// The serial log's text: read-only, selectable, monospaced plain text that grows by
// appended deltas (never by re-setting the whole text) and follows the end only while the
// user keeps it scrolled to the bottom. Beyond maximumLines() the oldest lines leave the
// view, replaced by one marker line at the top; the log itself stays whole elsewhere.
//
// Main thread only.
class SerialLogTextView : public QPlainTextEdit {
    Q_OBJECT

public:
    // Within this many pixels of the end the view counts as pinned to the bottom.
    static constexpr int pinnedTolerancePx = 8;
    // Enough for hours of ordinary traffic; a flood beyond it only drops the view's start.
    static constexpr int defaultMaximumLines = 20000;
    static constexpr int sliceLines = 250;
    static const QString droppedMarker;

    explicit SerialLogTextView(QWidget* parent = nullptr);

    // Off: appends never scroll the view.
    void setAutoScroll(bool enabled) { autoScroll_ = enabled; }
    bool autoScroll() const { return autoScroll_; }

    // Whether the user's last scroll left the view showing the end.
    bool isPinnedToBottom() const { return userPinnedToBottom_; }

    // Appends `text` (whole lines, each ending in "\n"); scrolls to the end when the view
    // was pinned before the append. Empty text does nothing. More than sliceLines lines go
    // in over several passes of the event loop, a slice each, so that a burst never holds
    // the window still for long; later deltas queue behind them.
    void appendDelta(const QString& text);
    // Lines received but not yet in the view.
    bool hasPendingLines() const { return !pending_.isEmpty(); }
    // Replaces the whole text and returns to following the end.
    void resetText(const QString& text);
    void scrollToEnd();

    // 0: unbounded. Applies from the next append.
    void setMaximumLines(int lines) { maximumLines_ = lines; }
    int maximumLines() const { return maximumLines_; }
    // Lines dropped from the view's start since the last reset.
    qint64 droppedLines() const { return droppedLines_; }

private:
    void onScrolled();
    void dropOldestLines();
    void insertLines(const QString& text);
    void appendPendingSlice();

    bool autoScroll_ = true;
    bool userPinnedToBottom_ = true;
    int maximumLines_ = defaultMaximumLines;
    qint64 droppedLines_ = 0;
    // Whole lines still to go in, oldest first, and where the next slice starts.
    QString pending_;
    qsizetype pendingFrom_ = 0;
    bool sliceQueued_ = false;
};

} // namespace orvane
