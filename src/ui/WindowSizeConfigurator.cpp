#include "ui/WindowSizeConfigurator.h"

#include <QEvent>
#include <QWidget>

#include <algorithm>

namespace orvane {

WindowSizeConfigurator::WindowSizeConfigurator(QWidget* window)
    : QObject(window)
    , window_(window) {
    window_->installEventFilter(this);
    apply();
}

std::optional<QSize> WindowSizeConfigurator::resizedContent(QSize current,
                                                            bool serialDebugLogEnabled) {
    const int target = targetHeight(serialDebugLogEnabled);
    if (current.height() >= target - 2) {
        return std::nullopt;
    }
    return QSize(std::max(current.width(), idealWidth), target);
}

void WindowSizeConfigurator::setSerialDebugLogEnabled(bool enabled) {
    serialDebugLogEnabled_ = enabled;
    apply();
}

void WindowSizeConfigurator::apply() {
    window_->setMinimumSize(minimumSize);
    if (const auto size = resizedContent(window_->size(), serialDebugLogEnabled_)) {
        window_->resize(*size);
    }
}

bool WindowSizeConfigurator::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::Resize) {
        if (const auto size = resizedContent(window_->size(), serialDebugLogEnabled_)) {
            window_->resize(*size);
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace orvane
