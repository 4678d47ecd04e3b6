#pragma once

#include <QString>

#include <functional>

namespace orvane {

// Tells when any process opens or closes the device node behind a port, so that who else
// has the port open is looked up when that may have changed instead of on a timer. The
// events do not say who: our own opens are reported too.
class SerialPortOpenWatch {
public:
    // What happened since the last report; several events may come as one.
    struct Events {
        bool opened = false;
        bool closed = false;
        // The node went away (device removed, pseudo-terminal closed) or can no longer be
        // watched: nothing more will be reported. A node under the same path later is
        // another node, which needs a new watch.
        bool gone = false;
    };
    using Callback = std::function<void(const Events&)>;

    virtual ~SerialPortOpenWatch() = default;

    // Starts watching the node `path` names, following symbolic links. `onEvents` is called
    // on a thread of the watch's own until the watch is destroyed; the destructor waits for
    // a call under way. False when the node cannot be watched; call at most once.
    virtual bool start(const QString& path, Callback onEvents) = 0;
};

} // namespace orvane
