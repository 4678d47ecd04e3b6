#include "ui/ToastBanner.h"

#include "ui/Symbols.h"

#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

#include <algorithm>

namespace orvane {

namespace {

constexpr int maxTextWidth = 360;

QString symbolFor(ToastBanner::Kind kind) {
    switch (kind) {
    case ToastBanner::Kind::success:
        return QStringLiteral("checkmark.circle.fill");
    case ToastBanner::Kind::error:
        return QStringLiteral("xmark.circle.fill");
    case ToastBanner::Kind::warning:
        return QStringLiteral("exclamationmark.triangle.fill");
    }
    return {};
}

} // namespace

ToastBanner::ToastBanner(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("toast"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 10, 16, 10);
    layout->setSpacing(8);
    icon_ = new QLabel(this);
    layout->addWidget(icon_);
    text_ = new QLabel(this);
    text_->setWordWrap(true);
    text_->setMaximumWidth(maxTextWidth);
    layout->addWidget(text_);
    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(QColor(0, 0, 0, int(0.18 * 255)));
    shadow->setBlurRadius(18);
    shadow->setOffset(0, 3);
    setGraphicsEffect(shadow);
    hide();
}

void ToastBanner::showToast(const QString& message, Kind kind) {
    kind_ = kind;
    text_->setText(message);
    // A wrapping label asks for a narrow box of its own choosing; a message that fits on
    // one line must stay on one line, a longer one wraps at the widest.
    text_->setMinimumWidth(
        std::min(text_->fontMetrics().horizontalAdvance(message) + 1, maxTextWidth));
    icon_->setPixmap(Symbols::icon(symbolFor(kind)).pixmap(18, 18));
    adjustSize();
    show();
    raise();
}

void ToastBanner::clearToast() {
    text_->clear();
    hide();
}

QString ToastBanner::message() const {
    return text_->text();
}

void ToastBanner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor background = palette().color(QPalette::Button);
    background.setAlphaF(0.96f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(background);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
}

} // namespace orvane
