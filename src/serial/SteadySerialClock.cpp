#include "serial/SteadySerialClock.h"

namespace orvane {

SerialClock::TimePoint SteadySerialClock::now() const {
    return std::chrono::steady_clock::now();
}

bool SteadySerialClock::sleepFor(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    return !interrupted_.wait_for(lock, duration, [this] { return stopping_; });
}

void SteadySerialClock::interrupt() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    interrupted_.notify_all();
}

} // namespace orvane
