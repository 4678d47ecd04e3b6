#include "platform/linux/wayland/DataControlDiscovery.h"

#include <cstring>
#include <wayland-client.h>

namespace orvane::DataControlDiscovery {

namespace {

struct Scan {
    std::optional<DataControlGlobals> ext;
    std::optional<DataControlGlobals> wlr;
    std::optional<std::uint32_t> seat;
};

void global(void* data, wl_registry*, std::uint32_t name, const char* interface,
            std::uint32_t version) {
    auto* scan = static_cast<Scan*>(data);
    if (std::strcmp(interface, "ext_data_control_manager_v1") == 0) {
        scan->ext = DataControlGlobals{DataControlProtocol::ext, name, version, 0};
    } else if (std::strcmp(interface, "zwlr_data_control_manager_v1") == 0) {
        scan->wlr = DataControlGlobals{DataControlProtocol::wlr, name, version, 0};
    } else if (std::strcmp(interface, "wl_seat") == 0 && !scan->seat) {
        scan->seat = name;
    }
}

void globalRemove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener registryListener = {global, globalRemove};

} // namespace

QString interfaceName(DataControlProtocol protocol) {
    return protocol == DataControlProtocol::ext ? QStringLiteral("ext_data_control_manager_v1")
                                                : QStringLiteral("zwlr_data_control_manager_v1");
}

std::optional<DataControlGlobals> find(wl_display* display) {
    Scan scan;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &scan);
    const int sent = wl_display_roundtrip(display);
    wl_registry_destroy(registry);
    if (sent < 0 || !scan.seat) {
        return std::nullopt;
    }
    std::optional<DataControlGlobals> found = scan.ext ? scan.ext : scan.wlr;
    if (found) {
        found->seatName = *scan.seat;
    }
    return found;
}

std::optional<DataControlGlobals> probe() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        return std::nullopt;
    }
    std::optional<DataControlGlobals> found = find(display);
    wl_display_disconnect(display);
    return found;
}

} // namespace orvane::DataControlDiscovery
