#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace orvane {

// One-shot timers on the main thread for the application model: toasts and the pause after
// a send. Tests give the model a clock they advance themselves.
class ModelTimers {
public:
    using Id = std::uint64_t;

    virtual ~ModelTimers() = default;
    // Runs `job` on the main thread once `delay` has passed, unless cancelled first.
    virtual Id after(std::chrono::milliseconds delay, std::function<void()> job) = 0;
    // Harmless for a timer that has fired or was cancelled.
    virtual void cancel(Id id) = 0;

    // Timers of the main thread's event loop.
    static std::unique_ptr<ModelTimers> eventLoop();
};

} // namespace orvane
