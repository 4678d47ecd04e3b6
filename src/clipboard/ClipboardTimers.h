#pragma once

#include <QtGlobal>

#include <chrono>
#include <functional>
#include <memory>

namespace orvane {

// Time for the clipboard manager: the wall clock for time stamps and timers on the
// owner's thread. Injected so that the manager's rules run against a fake clock in tests.
class ClipboardTimers {
public:
    // A running timer. Destroying the handle stops it; that is allowed from inside its
    // own callback.
    class Timer {
    public:
        virtual ~Timer() = default;
    };

    virtual ~ClipboardTimers() = default;

    // Milliseconds since 1970-01-01 UTC.
    virtual qint64 nowMs() const = 0;

    // Calls `fire` on the calling thread after `interval`, once or, with `repeating`,
    // every `interval` until the handle is destroyed.
    virtual std::unique_ptr<Timer> start(std::chrono::milliseconds interval, bool repeating,
                                         std::function<void()> fire) = 0;
};

} // namespace orvane
