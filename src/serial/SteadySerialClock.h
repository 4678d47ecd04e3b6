#pragma once

#include "serial/SerialClock.h"

#include <condition_variable>
#include <mutex>

namespace orvane {

// The monotonic system clock; sleeps wait on a condition that interrupt() signals.
class SteadySerialClock : public SerialClock {
public:
    TimePoint now() const override;
    bool sleepFor(std::chrono::milliseconds duration) override;
    void interrupt() override;

private:
    std::mutex mutex_;
    std::condition_variable interrupted_;
    bool stopping_ = false;
};

} // namespace orvane
