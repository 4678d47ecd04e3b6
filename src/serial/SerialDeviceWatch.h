#pragma once

namespace orvane {

// Tells the hot-plug thread that the set of device nodes may have changed. The watch says
// only "look again", never what changed: the watcher rescans and compares.
class SerialDeviceWatch {
public:
    enum class Wait {
        changed,  // something happened in a watched directory
        timedOut, // nothing within the time-out
        woken,    // wake() was called
    };

    virtual ~SerialDeviceWatch() = default;

    // Starts watching. False when the facility cannot be set up; calling it again on an
    // open watch returns true. Called on the watching thread.
    virtual bool open() = 0;

    // Blocks at most `timeoutMs`, or until a change or wake() when it is negative. Called on
    // the watching thread, after open().
    virtual Wait waitForChange(int timeoutMs) = 0;

    // Makes the current or the next waitForChange return `woken`. Any thread.
    virtual void wake() = 0;
};

} // namespace orvane
