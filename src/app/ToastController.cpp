#include "app/ToastController.h"

#include <QThread>
#include <QUuid>

namespace orvane {

ToastController::ToastController(ModelTimers& timers, QObject* parent)
    : QObject(parent)
    , timers_(timers) {}

ToastController::~ToastController() {
    if (dismissTimer_) {
        timers_.cancel(*dismissTimer_);
    }
}

void ToastController::show(const QString& message, ToastKind kind) {
    Q_ASSERT(thread() == QThread::currentThread());
    const QUuid id = QUuid::createUuid();
    toast_ = ToastState{id, message, kind};
    emit changed();
    if (dismissTimer_) {
        timers_.cancel(*dismissTimer_);
    }
    dismissTimer_ = timers_.after(kind == ToastKind::success ? successTime : otherTime, [this, id] {
        dismissTimer_.reset();
        // A newer toast has its own timer.
        if (toast_ && toast_->id == id) {
            toast_.reset();
            emit changed();
        }
    });
}

} // namespace orvane
