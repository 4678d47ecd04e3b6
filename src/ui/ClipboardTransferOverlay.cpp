#include "ui/ClipboardTransferOverlay.h"

#include "ui/Symbols.h"

#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace orvane {

namespace {

// A turning arc; its angle advances with every tick of the overlay's timer.
class Spinner : public QWidget {
public:
    explicit Spinner(QWidget* parent)
        : QWidget(parent) {
        setFixedSize(28, 28);
    }
    void advance() {
        angle_ = (angle_ + 30) % 360;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPen pen(palette().color(QPalette::Highlight), 3, Qt::SolidLine, Qt::RoundCap);
        painter.setPen(pen);
        painter.drawArc(QRectF(3, 3, 22, 22), -angle_ * 16, 270 * 16);
    }

private:
    int angle_ = 0;
};

} // namespace

ClipboardTransferOverlay::ClipboardTransferOverlay(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("transferOverlay"));
    auto* outer = new QVBoxLayout(this);
    card_ = new QWidget(this);
    card_->setObjectName(QStringLiteral("transferCard"));
    card_->setFixedWidth(280);
    outer->addWidget(card_, 0, Qt::AlignCenter);

    pages_ = new QStackedWidget(card_);
    auto* cardLayout = new QVBoxLayout(card_);
    cardLayout->setContentsMargins(20, 20, 20, 20);
    cardLayout->addWidget(pages_);

    auto* running = new QWidget(pages_);
    auto* runningLayout = new QVBoxLayout(running);
    runningLayout->setSpacing(10);
    spinner_ = new Spinner(running);
    runningLayout->addWidget(spinner_, 0, Qt::AlignHCenter);
    auto* title = new QLabel(QStringLiteral("正在发送…"), running);
    title->setAlignment(Qt::AlignCenter);
    runningLayout->addWidget(title);
    bar_ = new QProgressBar(running);
    bar_->setRange(0, 100);
    bar_->setTextVisible(false);
    runningLayout->addWidget(bar_);
    percent_ = new QLabel(QStringLiteral("0%"), running);
    percent_->setObjectName(QStringLiteral("percent"));
    percent_->setAlignment(Qt::AlignCenter);
    runningLayout->addWidget(percent_);
    cancel_ = new QPushButton(QStringLiteral("取消发送"), running);
    cancel_->setObjectName(QStringLiteral("cancelSend"));
    connect(cancel_, &QPushButton::clicked, this, &ClipboardTransferOverlay::cancelRequested);
    runningLayout->addWidget(cancel_, 0, Qt::AlignHCenter);
    pages_->addWidget(running);

    auto* done = new QWidget(pages_);
    auto* doneLayout = new QVBoxLayout(done);
    doneLayout->setSpacing(10);
    auto* mark = new QLabel(done);
    mark->setPixmap(Symbols::icon(QStringLiteral("checkmark.circle.fill")).pixmap(40, 40));
    mark->setAlignment(Qt::AlignCenter);
    doneLayout->addStretch(1);
    doneLayout->addWidget(mark);
    auto* doneText = new QLabel(QStringLiteral("发送成功"), done);
    doneText->setAlignment(Qt::AlignCenter);
    doneLayout->addWidget(doneText);
    doneLayout->addStretch(1);
    pages_->addWidget(done);

    spinTimer_.setInterval(80);
    connect(&spinTimer_, &QTimer::timeout, this,
            [this] { static_cast<Spinner*>(spinner_)->advance(); });
}

void ClipboardTransferOverlay::setProgress(int percent) {
    progress_ = std::clamp(percent, 0, 100);
    bar_->setValue(progress_);
    percent_->setText(QString::number(progress_) + QLatin1Char('%'));
    pages_->setCurrentIndex(isDone() ? 1 : 0);
    updateSpinner();
}

void ClipboardTransferOverlay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor dim = palette().color(QPalette::Window);
    dim.setAlphaF(0.72f);
    painter.fillRect(rect(), dim);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(palette().color(QPalette::Mid));
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRoundedRect(QRectF(card_->geometry()).adjusted(-0.5, -0.5, 0.5, 0.5), 12, 12);
}

void ClipboardTransferOverlay::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    updateSpinner();
}

void ClipboardTransferOverlay::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    updateSpinner();
}

void ClipboardTransferOverlay::updateSpinner() {
    if (isVisible() && !isDone()) {
        spinTimer_.start();
    } else {
        spinTimer_.stop();
    }
}

} // namespace orvane
