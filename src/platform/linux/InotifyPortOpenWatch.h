#pragma once

#include "serial/SerialPortOpenWatch.h"

#include <thread>

namespace orvane {

// Watches one device node with inotify for IN_OPEN and IN_CLOSE_*; these work on device
// nodes and pseudo-terminal slaves alike. Its thread ("com.orvane.serial.opens") sleeps in
// poll() until the kernel has something to say, so a quiet port costs nothing.
class InotifyPortOpenWatch : public SerialPortOpenWatch {
public:
    static constexpr char threadName[] = "com.orvane.serial.opens";

    InotifyPortOpenWatch();
    ~InotifyPortOpenWatch() override;

    InotifyPortOpenWatch(const InotifyPortOpenWatch&) = delete;
    InotifyPortOpenWatch& operator=(const InotifyPortOpenWatch&) = delete;

    bool start(const QString& path, Callback onEvents) override;

private:
    void run(const Callback& onEvents);

    int inotifyFd_ = -1;
    int stopFd_ = -1; // eventfd: ends the thread's wait
    std::thread thread_;
};

} // namespace orvane
