#pragma once

#include <chrono>

namespace orvane {

// Time as the serial connection logic sees it: what time it is, and waiting. Injected so
// that reconnect rules (back-off, settle delays, health checks) run against a fake clock
// in tests.
class SerialClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~SerialClock() = default;

    virtual TimePoint now() const = 0;

    // Waits `duration`. Returns false, at once or early, once interrupt() was called: the
    // owner is shutting down and the waiting logic should give up.
    virtual bool sleepFor(std::chrono::milliseconds duration) = 0;

    // Ends every current and later sleepFor(). Any thread.
    virtual void interrupt() = 0;
};

} // namespace orvane
