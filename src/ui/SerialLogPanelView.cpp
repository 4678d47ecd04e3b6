#include "ui/SerialLogPanelView.h"

#include "ui/SerialLogTextView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace orvane {

namespace {

QPushButton* makeToolButton(const QString& text, const QString& name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

// The text area's frame: a faint fill with a rounded outline.
class LogFrame : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = palette().color(QPalette::WindowText);
        fill.setAlphaF(0.04f);
        QColor outline = palette().color(QPalette::PlaceholderText);
        outline.setAlphaF(0.2f);
        painter.setPen(QPen(outline, 1));
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }
};

} // namespace

SerialLogPanelView::SerialLogPanelView(int textAreaHeight, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("serialLogPanel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    auto* title = new QLabel(QStringLiteral("串口 / 日志"), this);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    title->setFont(titleFont);
    titleRow->addWidget(title);

    badge_ = new QLabel(QStringLiteral("已暂停"), this);
    badge_->setObjectName(QStringLiteral("pausedBadge"));
    QFont badgeFont = badge_->font();
    badgeFont.setPointSizeF(badgeFont.pointSizeF() * 0.85);
    badge_->setFont(badgeFont);
    badge_->setStyleSheet(QStringLiteral("QLabel { color: #b25e00; background: rgba(255, 149, 0, "
                                         "0.18); border-radius: 4px; padding: 1px 6px; }"));
    badge_->hide();
    titleRow->addWidget(badge_);
    titleRow->addStretch(1);

    pause_ = makeToolButton(QString(), QStringLiteral("pause"), this);
    copy_ = makeToolButton(QStringLiteral("复制"), QStringLiteral("copy"), this);
    copy_->setToolTip(QStringLiteral("复制全部日志到剪贴板"));
    clear_ = makeToolButton(QStringLiteral("清空"), QStringLiteral("clear"), this);
    titleRow->addWidget(pause_);
    titleRow->addWidget(copy_);
    titleRow->addWidget(clear_);
    layout->addLayout(titleRow);

    frame_ = new LogFrame(this);
    frame_->setFixedHeight(textAreaHeight);
    auto* frameLayout = new QVBoxLayout(frame_);
    frameLayout->setContentsMargins(4, 4, 2, 4);
    text_ = new SerialLogTextView(frame_);
    frameLayout->addWidget(text_);
    layout->addWidget(frame_);

    connect(pause_, &QPushButton::clicked, this, [this] { emit pauseRequested(!paused_); });
    connect(copy_, &QPushButton::clicked, this, &SerialLogPanelView::copyRequested);
    connect(clear_, &QPushButton::clicked, this, &SerialLogPanelView::clearRequested);
    setPaused(false);
    setHasLogs(false);
}

void SerialLogPanelView::setPaused(bool paused) {
    paused_ = paused;
    badge_->setVisible(paused);
    pause_->setText(paused ? QStringLiteral("继续") : QStringLiteral("暂停"));
    pause_->setToolTip(paused ? QStringLiteral("恢复写入新日志")
                              : QStringLiteral("暂停写入新日志（串口通信不受影响）"));
}

void SerialLogPanelView::setHasLogs(bool hasLogs) {
    hasLogs_ = hasLogs;
    copy_->setEnabled(hasLogs);
    clear_->setEnabled(hasLogs);
}

} // namespace orvane
