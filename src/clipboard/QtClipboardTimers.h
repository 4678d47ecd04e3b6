#pragma once

#include "clipboard/ClipboardTimers.h"

#include <QObject>

namespace orvane {

// ClipboardTimers on the Qt event loop of the thread that creates it, with the system
// clock. Timers it starts are its children, so none outlives it.
class QtClipboardTimers : public QObject, public ClipboardTimers {
    Q_OBJECT
public:
    explicit QtClipboardTimers(QObject* parent = nullptr);

    qint64 nowMs() const override;
    std::unique_ptr<Timer> start(std::chrono::milliseconds interval, bool repeating,
                                 std::function<void()> fire) override;
};

} // namespace orvane
