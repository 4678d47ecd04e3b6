#include "ui/MainSidebarView.h"

#include "ui/Symbols.h"

#include <QEvent>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

namespace orvane {

MainSidebarView::MainSidebarView(QWidget* parent)
    : QWidget(parent) {
    setFixedWidth(sidebarWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 12, 10, 12);
    layout->setSpacing(8);
    for (const MainSidebarItem item : allMainSidebarItems()) {
        auto* button = new QToolButton(this);
        button->setObjectName(mainSidebarItemRawValue(item));
        button->setFixedSize(36, 36);
        button->setIconSize(QSize(20, 20));
        button->setAutoRaise(true);
        button->setToolTip(mainSidebarItemTitle(item));
        button->setAccessibleName(mainSidebarItemTitle(item));
        button->setCursor(Qt::PointingHandCursor);
        connect(button, &QToolButton::clicked, this, [this, item] { setSelection(item); });
        layout->addWidget(button, 0, Qt::AlignHCenter);
        buttons_.insert(item, button);
    }
    layout->addStretch(1);
    updateButtons();
}

void MainSidebarView::setSelection(MainSidebarItem item) {
    if (item == selection_) {
        return;
    }
    selection_ = item;
    updateButtons();
    emit selectionChanged(item);
}

void MainSidebarView::setItemAvailable(MainSidebarItem item, bool available) {
    buttons_.value(item)->setVisible(available);
}

void MainSidebarView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor shade = palette().color(QPalette::WindowText);
    shade.setAlphaF(0.04f);
    painter.fillRect(rect(), shade);
}

void MainSidebarView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        updateButtons();
    }
    QWidget::changeEvent(event);
}

void MainSidebarView::updateButtons() {
    const QColor accent = palette().color(QPalette::Highlight);
    const QColor secondary = palette().color(QPalette::PlaceholderText);
    for (auto it = buttons_.cbegin(); it != buttons_.cend(); ++it) {
        const bool selected = it.key() == selection_;
        QToolButton* button = it.value();
        button->setIcon(Symbols::tinted(mainSidebarItemSymbol(it.key()), 20,
                                        selected ? accent : secondary, devicePixelRatioF()));
        button->setChecked(selected);
        button->setStyleSheet(selected
                                  ? QStringLiteral("QToolButton { border: none; border-radius: 8px;"
                                                   " background: rgba(%1, %2, %3, 0.14); }")
                                        .arg(accent.red())
                                        .arg(accent.green())
                                        .arg(accent.blue())
                                  : QStringLiteral("QToolButton { border: none; border-radius: 8px;"
                                                   " background: transparent; }"));
    }
}

} // namespace orvane
