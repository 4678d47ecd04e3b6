#include "platform/linux/StatusNotifierItemAdaptor.h"

namespace orvane {

StatusNotifierItemAdaptor::StatusNotifierItemAdaptor(QObject* object, PointHandler activated,
                                                     PointHandler contextMenu)
    : QDBusAbstractAdaptor(object)
    , activated_(std::move(activated))
    , contextMenu_(std::move(contextMenu)) {
    toolTip_.title = title();
}

void StatusNotifierItemAdaptor::setIcon(StatusNotifierPixmaps pixmaps) {
    pixmaps_ = std::move(pixmaps);
    toolTip_.pixmaps = pixmaps_;
    emit NewIcon();
}

void StatusNotifierItemAdaptor::setToolTip(const QString& text) {
    toolTip_.title = text;
    emit NewToolTip();
}

void StatusNotifierItemAdaptor::Activate(int x, int y) {
    if (activated_) {
        activated_(QPoint(x, y));
    }
}

void StatusNotifierItemAdaptor::SecondaryActivate(int x, int y) {
    Activate(x, y);
}

void StatusNotifierItemAdaptor::ContextMenu(int x, int y) {
    if (contextMenu_) {
        contextMenu_(QPoint(x, y));
    }
}

void StatusNotifierItemAdaptor::Scroll(int, const QString&) {}

} // namespace orvane
