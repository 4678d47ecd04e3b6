#include "ui/WindowSizeConfigurator.h"

#include <QEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace orvane {

WindowSizeConfigurator::WindowSizeConfigurator(QWidget* window)
    : QObject(window)
    , window_(window) {
    window_->installEventFilter(this);
    apply();
}

WindowSizeConfigurator::Heights WindowSizeConfigurator::heightsFor(int workAreaHeight,
                                                                   bool serialDebugLogEnabled) {
    const int target = targetHeight(serialDebugLogEnabled);
    if (workAreaHeight <= 0) {
        return {minimumSize.height(), target};
    }
    return {std::min(int(minimumSize.height()), workAreaHeight), std::min(target, workAreaHeight)};
}

std::optional<QSize> WindowSizeConfigurator::resizedContent(QSize current,
                                                            bool serialDebugLogEnabled,
                                                            int workAreaHeight) {
    const int target = heightsFor(workAreaHeight, serialDebugLogEnabled).target;
    const bool tooHigh = workAreaHeight > 0 && current.height() > workAreaHeight;
    if (current.height() >= target - 2 && !tooHigh) {
        return std::nullopt;
    }
    return QSize(std::max(current.width(), idealWidth), target);
}

void WindowSizeConfigurator::setSerialDebugLogEnabled(bool enabled) {
    serialDebugLogEnabled_ = enabled;
    apply();
}

int WindowSizeConfigurator::workAreaHeight() const {
    const QScreen* screen = window_->screen();
    if (!screen) {
        return 0;
    }
    // The free area holds the title bar and borders too, once the window manager has
    // told us how thick they are.
    const int decoration = window_->frameGeometry().height() - window_->height();
    return screen->availableGeometry().height() - std::max(0, decoration);
}

void WindowSizeConfigurator::apply() {
    const int workArea = workAreaHeight();
    window_->setMinimumSize(minimumSize.width(),
                            heightsFor(workArea, serialDebugLogEnabled_).minimum);
    if (const auto size = resizedContent(window_->size(), serialDebugLogEnabled_, workArea)) {
        window_->resize(*size);
    }
}

void WindowSizeConfigurator::resizeToFit() {
    if (const auto size =
            resizedContent(window_->size(), serialDebugLogEnabled_, workAreaHeight())) {
        window_->resize(*size);
    }
}

void WindowSizeConfigurator::followScreen(QScreen* screen) {
    disconnect(screenArea_);
    if (screen) {
        screenArea_ = connect(screen, &QScreen::availableGeometryChanged, this,
                              &WindowSizeConfigurator::apply);
    }
    apply();
}

bool WindowSizeConfigurator::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_) {
        if (event->type() == QEvent::Resize) {
            resizeToFit();
        } else if (event->type() == QEvent::Show && watchedWindow_ != window_->windowHandle()) {
            // The native window exists from the first show on (and is made anew when the
            // window's flags change); it reports moves between screens, the widget does not.
            watchedWindow_ = window_->windowHandle();
            connect(watchedWindow_, &QWindow::screenChanged, this,
                    &WindowSizeConfigurator::followScreen);
            followScreen(window_->screen());
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace orvane
