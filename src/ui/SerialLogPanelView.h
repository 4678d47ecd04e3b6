#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace orvane {

class SerialLogTextView;

// The serial log under the history: a title row with the "已暂停" badge and the pause,
// copy and clear buttons, and the log's text in a framed area of a fixed height. Shows what
// the setters give it and reports the buttons as signals; it owns no log itself.
class SerialLogPanelView : public QWidget {
    Q_OBJECT

public:
    static constexpr int defaultTextAreaHeight = 240;

    explicit SerialLogPanelView(int textAreaHeight = defaultTextAreaHeight,
                                QWidget* parent = nullptr);

    void setPaused(bool paused);
    bool isPaused() const { return paused_; }
    // Copy and clear need something to act on.
    void setHasLogs(bool hasLogs);
    bool hasLogs() const { return hasLogs_; }

    SerialLogTextView* textView() const { return text_; }
    QPushButton* pauseButton() const { return pause_; }
    QPushButton* copyButton() const { return copy_; }
    QPushButton* clearButton() const { return clear_; }
    QLabel* pausedBadge() const { return badge_; }

signals:
    // The user asked to pause (true) or resume (false) writing new lines.
    void pauseRequested(bool paused);
    void copyRequested();
    void clearRequested();

private:
    bool paused_ = false;
    bool hasLogs_ = false;
    QLabel* badge_;
    QPushButton* pause_;
    QPushButton* copy_;
    QPushButton* clear_;
    QWidget* frame_;
    SerialLogTextView* text_;
};

} // namespace orvane
