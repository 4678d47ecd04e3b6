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
    static const QString droppedMarker;

    explicit SerialLogTextView(QWidget* parent = nullptr);

    // Off: appends never scroll the view.
    void setAutoScroll(bool enabled) { autoScroll_ = enabled; }
    bool autoScroll() const { return autoScroll_; }

    // Whether the user's last scroll left the view showing the end.
    bool isPinnedToBottom() const { return userPinnedToBottom_; }

    // Appends `text` (whole lines, each ending in "\n"); scrolls to the end when the view
    // was pinned before the append. Empty text does nothing.
    void appendDelta(const QString& text);
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

    bool autoScroll_ = true;
    bool userPinnedToBottom_ = true;
    int maximumLines_ = defaultMaximumLines;
    qint64 droppedLines_ = 0;
};

} // namespace orvane
