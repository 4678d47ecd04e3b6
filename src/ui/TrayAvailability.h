#pragma once

#include <functional>

namespace orvane {

// Whether the desktop has a tray host for the program's icon. At login the program may
// start before the panel that hosts the tray, so a host can turn up while it runs.
class TrayAvailability {
public:
    virtual ~TrayAvailability() = default;

    virtual bool isAvailable() const = 0;

    // Called on the main thread once a host appears where there was none; later hosts
    // after that are not reported.
    virtual void setAppearedHandler(std::function<void()> handler) = 0;
};

} // namespace orvane
