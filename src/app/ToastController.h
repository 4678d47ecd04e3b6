#pragma once

#include "app/ModelTimers.h"
#include "app/ToastState.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <optional>

namespace orvane {

// The one banner at a time that reports how an action ended: a new one replaces the one
// shown, and each goes by itself after its time (longer for a success). Main thread.
class ToastController : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds successTime{3500};
    static constexpr std::chrono::milliseconds otherTime{2500};

    explicit ToastController(ModelTimers& timers, QObject* parent = nullptr);
    ~ToastController() override;

    void show(const QString& message, ToastKind kind);
    const std::optional<ToastState>& current() const { return toast_; }

signals:
    void changed();

private:
    ModelTimers& timers_;
    std::optional<ToastState> toast_;
    std::optional<ModelTimers::Id> dismissTimer_;
};

} // namespace orvane
