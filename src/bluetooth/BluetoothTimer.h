#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace orvane {

// A pending one-shot call on the main thread; destroying the handle cancels it.
class BluetoothTimer {
public:
    virtual ~BluetoothTimer() = default;

    using Factory = std::function<std::unique_ptr<BluetoothTimer>(std::chrono::milliseconds delay,
                                                                  std::function<void()> task)>;

    // Runs the task on the calling thread's event loop after the delay.
    static Factory eventLoopFactory();
};

} // namespace orvane
