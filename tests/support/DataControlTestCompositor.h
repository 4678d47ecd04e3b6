#pragma once

#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct wl_display;

namespace orvane::test {

// A minimal Wayland compositor in this process, on a thread of its own: a seat and the
// staging data-control manager, enough to run the clipboard backend over a protocol that
// no packaged compositor offers yet. It points this process's XDG_RUNTIME_DIR and
// WAYLAND_DISPLAY at its socket, so clients connect to it as to a desktop's compositor;
// one at a time per process.
class DataControlTestCompositor {
public:
    struct Options {
        bool seat = true;
        // Also list the wlroots manager, as compositors offering both do. Binding it is a
        // protocol error here: a client should prefer the staging one.
        bool wlrManager = false;
    };

    DataControlTestCompositor()
        : DataControlTestCompositor(Options{}) {}
    explicit DataControlTestCompositor(Options options);
    ~DataControlTestCompositor();

    // False when the socket could not be made; nothing runs then.
    bool isListening() const { return thread_.joinable(); }

    // Withdraws every device (sends `finished`), as when the seat goes away; whatever
    // the devices ask afterwards is ignored.
    void finishDevices();

    struct State;

private:
    void post(std::function<void()> task);
    void runTasks();

    QTemporaryDir runtimeDir_;
    std::unique_ptr<State> state_;
    int wakeFd_ = -1;
    std::thread thread_;
    std::mutex tasksMutex_;
    std::vector<std::function<void()>> tasks_; // guarded by tasksMutex_
};

} // namespace orvane::test
