#include "bluetooth/BluetoothTimer.h"

#include <QTimer>

namespace orvane {

namespace {

class EventLoopTimer final : public BluetoothTimer {
public:
    EventLoopTimer(std::chrono::milliseconds delay, std::function<void()> task) {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [task = std::move(task)] { task(); });
        timer_.start(delay);
    }

private:
    QTimer timer_;
};

} // namespace

BluetoothTimer::Factory BluetoothTimer::eventLoopFactory() {
    return [](std::chrono::milliseconds delay, std::function<void()> task) {
        return std::make_unique<EventLoopTimer>(delay, std::move(task));
    };
}

} // namespace orvane
