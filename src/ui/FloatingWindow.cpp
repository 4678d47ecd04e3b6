#include "ui/FloatingWindow.h"

#include "ui/WindowSizeConfigurator.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <QWindow>

namespace orvane {

namespace {

Qt::WindowFlags flagsFor(FloatingWindow::Mode mode) {
    return mode == FloatingWindow::Mode::floating
               ? Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
               : Qt::Window;
}

} // namespace

FloatingWindow::FloatingWindow(Mode mode, QWidget* parent)
    : QWidget(parent, flagsFor(mode))
    , mode_(mode)
    , pendingMode_(mode) {
    setWindowTitle(QStringLiteral("Orvane"));
    setObjectName(QStringLiteral("orvaneMainWindow"));
    auto* layout = new QVBoxLayout(this);
    // One pixel for the outline that a frameless window needs to stand out.
    const int frame = mode == Mode::floating ? 1 : 0;
    layout->setContentsMargins(frame, frame, frame, frame);
    layout->setSpacing(0);
    resize(WindowSizeConfigurator::idealWidth, WindowSizeConfigurator::plainHeight);
    sizeConfigurator_ = new WindowSizeConfigurator(this);
}

void FloatingWindow::setMode(Mode mode) {
    pendingMode_ = mode;
    if (!isVisible()) {
        applyMode(mode);
    }
}

void FloatingWindow::applyMode(Mode mode) {
    if (mode == mode_) {
        return;
    }
    mode_ = mode;
    const int frame = mode == Mode::floating ? 1 : 0;
    layout()->setContentsMargins(frame, frame, frame, frame);
    setWindowFlags(flagsFor(mode));
}

void FloatingWindow::setContent(QWidget* content) {
    layout()->addWidget(content);
}

void FloatingWindow::hideWindow() {
    if (!isVisible()) {
        return;
    }
    if (QWidget* focus = focusWidget()) {
        focus->clearFocus();
    }
    hide();
    emit windowHidden();
}

void FloatingWindow::changeEvent(QEvent* event) {
    // A click into another window takes activation away; popups of our own (the port
    // picker's list, menus) do not, so they keep the window open.
    if (event->type() == QEvent::ActivationChange && mode_ == Mode::floating && !isActiveWindow()) {
        hideWindow();
    }
    QWidget::changeEvent(event);
}

void FloatingWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && mode_ == Mode::floating) {
        hideWindow();
        return;
    }
    QWidget::keyPressEvent(event);
}

void FloatingWindow::closeEvent(QCloseEvent* event) {
    // The window is never destroyed, so accepting only hides it; and accepting lets a quit
    // that first closes every window (the session ending) go ahead.
    event->accept();
    if (pendingMode_ == Mode::standalone) {
        emit closeRequested();
        return;
    }
    hideWindow();
}

void FloatingWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (pendingMode_ != mode_) {
        // Later: new window flags may recreate the native window, which is still handling
        // the event that hid it.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!isVisible()) {
                    applyMode(pendingMode_);
                }
            },
            Qt::QueuedConnection);
    }
}

void FloatingWindow::mousePressEvent(QMouseEvent* event) {
    // Without a title bar the background is where the window is dragged from.
    if (mode_ == Mode::floating && event->button() == Qt::LeftButton && windowHandle()) {
        windowHandle()->startSystemMove();
        return;
    }
    QWidget::mousePressEvent(event);
}

void FloatingWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    if (mode_ == Mode::floating) {
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

} // namespace orvane
