#pragma once

#include <QString>
#include <QUuid>

namespace orvane {

enum class ToastKind { success, error, warning };

// The banner reporting the outcome of a send. `id` tells which toast a dismissal timer
// belongs to, so an older timer never removes a newer toast.
struct ToastState {
    QUuid id;
    QString message;
    ToastKind kind = ToastKind::success;

    friend bool operator==(const ToastState&, const ToastState&) = default;
};

} // namespace orvane
