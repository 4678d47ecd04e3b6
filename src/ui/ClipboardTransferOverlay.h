#pragma once

#include <QTimer>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace orvane {

// Covers the panel while a send runs: a spinner, "正在发送…", the progress and a cancel
// button; at 100 % the success mark and "发送成功" until the owner hides it.
class ClipboardTransferOverlay : public QWidget {
    Q_OBJECT

public:
    explicit ClipboardTransferOverlay(QWidget* parent = nullptr);

    int progress() const { return progress_; }
    // Clamped to 0..100.
    void setProgress(int percent);
    bool isDone() const { return progress_ >= 100; }

signals:
    void cancelRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void updateSpinner();

    int progress_ = 0;
    QWidget* card_;
    QStackedWidget* pages_;
    QWidget* spinner_;
    QProgressBar* bar_;
    QLabel* percent_;
    QPushButton* cancel_;
    // Runs only while the overlay is visible and the send is not done, so an idle
    // program wakes for nothing.
    QTimer spinTimer_;
};

} // namespace orvane
