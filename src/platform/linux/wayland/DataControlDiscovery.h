#pragma once

#include <QString>

#include <cstdint>
#include <optional>

struct wl_display;

namespace orvane {

// The two protocols that let a client read and set the clipboard without focus. Their
// requests and events are the same; only the names differ.
enum class DataControlProtocol { ext, wlr };

// The registry's answer: which data-control manager to bind and the seat to control.
struct DataControlGlobals {
    DataControlProtocol protocol = DataControlProtocol::ext;
    std::uint32_t managerName = 0;
    std::uint32_t managerVersion = 0;
    std::uint32_t seatName = 0;
};

namespace DataControlDiscovery {

// The manager's interface name, as the compositor lists it.
QString interfaceName(DataControlProtocol protocol);

// Lists the display's globals (one round trip) and picks the staging protocol over the
// wlroots one, and the first seat. Nothing when either is missing.
std::optional<DataControlGlobals> find(wl_display* display);

// find() on a connection of its own to the compositor that WAYLAND_DISPLAY names,
// closed again before returning. Nothing without a compositor.
std::optional<DataControlGlobals> probe();

} // namespace DataControlDiscovery

} // namespace orvane
