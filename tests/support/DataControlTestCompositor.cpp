#include "support/DataControlTestCompositor.h"

#include "ext-data-control-v1-server-protocol.h"

#include <QtGlobal>

#include <cstdint>
#include <string>
#include <sys/eventfd.h>
#include <unistd.h>
#include <wayland-server.h>

// Defined with the backend's generated client code; the interface tables are the same on
// both sides of a connection.
extern "C" const struct wl_interface zwlr_data_control_manager_v1_interface;

namespace orvane::test {

namespace {

constexpr char socketName[] = "wayland-orvane-test";

struct Source {
    DataControlTestCompositor::State* state;
    wl_resource* resource;
    std::vector<std::string> types;
    bool used = false;
};

struct Device {
    DataControlTestCompositor::State* state;
    wl_resource* resource;
    bool finished = false;
};

// An offer stands for one selection; once the selection changed it yields nothing.
struct Offer {
    DataControlTestCompositor::State* state;
    std::uint64_t selection;
};

} // namespace

struct DataControlTestCompositor::State {
    wl_display* display = nullptr;
    wl_event_loop* loop = nullptr;
    // The display frees only the event sources that were removed from it.
    wl_event_source* wake = nullptr;
    std::vector<Device*> devices;
    Source* selection = nullptr;
    std::uint64_t selectionSerial = 0;
    bool broadcastDue = false;
    bool stopping = false;

    void sendSelection(Device& device);
    void selectionChanged(Source* source);
};

namespace {

using State = DataControlTestCompositor::State;

void destroyResource(wl_client*, wl_resource* resource) {
    wl_resource_destroy(resource);
}

// Offers ----------------------------------------------------------------------------------

void offerReceive(wl_client*, wl_resource* resource, const char* mimeType, int32_t fd) {
    const auto* offer = static_cast<Offer*>(wl_resource_get_user_data(resource));
    State* state = offer->state;
    if (state->selection && offer->selection == state->selectionSerial) {
        ext_data_control_source_v1_send_send(state->selection->resource, mimeType, fd);
    }
    // The event carries a duplicate; ours goes, or the reader would never see the end.
    ::close(fd);
}

const struct ext_data_control_offer_v1_interface offerImplementation = {offerReceive,
                                                                        destroyResource};

void destroyOffer(wl_resource* resource) {
    delete static_cast<Offer*>(wl_resource_get_user_data(resource));
}

// Sources ---------------------------------------------------------------------------------

void sourceOffer(wl_client*, wl_resource* resource, const char* mimeType) {
    auto* source = static_cast<Source*>(wl_resource_get_user_data(resource));
    if (source->used) {
        wl_resource_post_error(resource, EXT_DATA_CONTROL_SOURCE_V1_ERROR_INVALID_OFFER,
                               "offer after set_selection");
        return;
    }
    source->types.emplace_back(mimeType);
}

const struct ext_data_control_source_v1_interface sourceImplementation = {sourceOffer,
                                                                          destroyResource};

void destroySource(wl_resource* resource) {
    auto* source = static_cast<Source*>(wl_resource_get_user_data(resource));
    if (source->state->selection == source) {
        source->state->selectionChanged(nullptr);
    }
    delete source;
}

// Devices ---------------------------------------------------------------------------------

void setSelection(wl_client*, wl_resource* resource, wl_resource* sourceResource, bool primary) {
    auto* device = static_cast<Device*>(wl_resource_get_user_data(resource));
    auto* source =
        sourceResource ? static_cast<Source*>(wl_resource_get_user_data(sourceResource)) : nullptr;
    if (device->finished) {
        return;
    }
    if (source && source->used) {
        wl_resource_post_error(resource, EXT_DATA_CONTROL_DEVICE_V1_ERROR_USED_SOURCE,
                               "source already used");
        return;
    }
    if (source) {
        source->used = true;
    }
    if (primary) {
        // Nothing here reads the primary selection: its source is replaced at once.
        if (source) {
            ext_data_control_source_v1_send_cancelled(source->resource);
        }
        return;
    }
    State* state = device->state;
    if (state->selection && state->selection != source) {
        ext_data_control_source_v1_send_cancelled(state->selection->resource);
    }
    state->selectionChanged(source);
}

void deviceSetSelection(wl_client* client, wl_resource* resource, wl_resource* source) {
    setSelection(client, resource, source, false);
}

void deviceSetPrimarySelection(wl_client* client, wl_resource* resource, wl_resource* source) {
    setSelection(client, resource, source, true);
}

const struct ext_data_control_device_v1_interface deviceImplementation = {
    deviceSetSelection, destroyResource, deviceSetPrimarySelection};

void destroyDevice(wl_resource* resource) {
    auto* device = static_cast<Device*>(wl_resource_get_user_data(resource));
    std::erase(device->state->devices, device);
    delete device;
}

// The manager and the seat ----------------------------------------------------------------

void createDataSource(wl_client* client, wl_resource* manager, uint32_t id) {
    auto* state = static_cast<State*>(wl_resource_get_user_data(manager));
    wl_resource* resource = wl_resource_create(client, &ext_data_control_source_v1_interface,
                                               wl_resource_get_version(manager), id);
    if (!resource) {
        wl_client_post_no_memory(client);
        return;
    }
    wl_resource_set_implementation(resource, &sourceImplementation, new Source{state, resource, {}},
                                   destroySource);
}

void getDataDevice(wl_client* client, wl_resource* manager, uint32_t id, wl_resource*) {
    auto* state = static_cast<State*>(wl_resource_get_user_data(manager));
    wl_resource* resource = wl_resource_create(client, &ext_data_control_device_v1_interface,
                                               wl_resource_get_version(manager), id);
    if (!resource) {
        wl_client_post_no_memory(client);
        return;
    }
    auto* device = new Device{state, resource};
    wl_resource_set_implementation(resource, &deviceImplementation, device, destroyDevice);
    state->devices.push_back(device);
    // A new device learns the clipboard as it is.
    state->sendSelection(*device);
}

const struct ext_data_control_manager_v1_interface managerImplementation = {
    createDataSource, getDataDevice, destroyResource};

void bindManager(wl_client* client, void* data, uint32_t version, uint32_t id) {
    wl_resource* resource =
        wl_resource_create(client, &ext_data_control_manager_v1_interface, int(version), id);
    if (!resource) {
        wl_client_post_no_memory(client);
        return;
    }
    wl_resource_set_implementation(resource, &managerImplementation, data, nullptr);
}

void bindWlrManager(wl_client* client, void*, uint32_t, uint32_t) {
    wl_client_post_implementation_error(client, "the wlroots manager is listed, not served");
}

void seatGetDevice(wl_client*, wl_resource*, uint32_t) {}

const struct wl_seat_interface seatImplementation = {seatGetDevice, seatGetDevice, seatGetDevice,
                                                     destroyResource};

void bindSeat(wl_client* client, void*, uint32_t version, uint32_t id) {
    wl_resource* resource = wl_resource_create(client, &wl_seat_interface, int(version), id);
    if (!resource) {
        wl_client_post_no_memory(client);
        return;
    }
    wl_resource_set_implementation(resource, &seatImplementation, nullptr, nullptr);
    wl_seat_send_capabilities(resource, 0);
}

void broadcast(void* data) {
    auto* state = static_cast<State*>(data);
    state->broadcastDue = false;
    for (Device* device : state->devices) {
        state->sendSelection(*device);
    }
}

} // namespace

void DataControlTestCompositor::State::sendSelection(Device& device) {
    if (device.finished) {
        return;
    }
    if (!selection) {
        ext_data_control_device_v1_send_selection(device.resource, nullptr);
        return;
    }
    wl_resource* offer = wl_resource_create(wl_resource_get_client(device.resource),
                                            &ext_data_control_offer_v1_interface,
                                            wl_resource_get_version(device.resource), 0);
    if (!offer) {
        wl_client_post_no_memory(wl_resource_get_client(device.resource));
        return;
    }
    wl_resource_set_implementation(offer, &offerImplementation, new Offer{this, selectionSerial},
                                   destroyOffer);
    ext_data_control_device_v1_send_data_offer(device.resource, offer);
    for (const std::string& type : selection->types) {
        ext_data_control_offer_v1_send_offer(offer, type.c_str());
    }
    ext_data_control_device_v1_send_selection(device.resource, offer);
}

// Every device hears of the change once the current request is done: a source may go
// while its client disconnects, when that client's devices must not get new objects.
void DataControlTestCompositor::State::selectionChanged(Source* source) {
    selection = source;
    ++selectionSerial;
    if (!broadcastDue && !stopping) {
        broadcastDue = true;
        wl_event_loop_add_idle(loop, broadcast, this);
    }
}

DataControlTestCompositor::DataControlTestCompositor(Options options)
    : state_(std::make_unique<State>()) {
    state_->display = wl_display_create();
    state_->loop = wl_display_get_event_loop(state_->display);
    qputenv("XDG_RUNTIME_DIR", runtimeDir_.path().toLocal8Bit());
    if (!runtimeDir_.isValid() || wl_display_add_socket(state_->display, socketName) != 0) {
        return;
    }
    qputenv("WAYLAND_DISPLAY", socketName);
    if (options.seat) {
        wl_global_create(state_->display, &wl_seat_interface, 1, nullptr, bindSeat);
    }
    if (options.wlrManager) {
        wl_global_create(state_->display, &zwlr_data_control_manager_v1_interface, 2, nullptr,
                         bindWlrManager);
    }
    wl_global_create(state_->display, &ext_data_control_manager_v1_interface, 1, state_.get(),
                     bindManager);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const auto wake = [](int fd, uint32_t, void* data) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(fd, &count, sizeof count);
        static_cast<DataControlTestCompositor*>(data)->runTasks();
        return 0;
    };
    state_->wake = wl_event_loop_add_fd(state_->loop, wakeFd_, WL_EVENT_READABLE, wake, this);
    thread_ = std::thread([this] {
        while (!state_->stopping) {
            wl_event_loop_dispatch(state_->loop, -1);
            wl_display_flush_clients(state_->display);
        }
    });
}

DataControlTestCompositor::~DataControlTestCompositor() {
    if (thread_.joinable()) {
        post([this] { state_->stopping = true; });
        thread_.join();
    }
    state_->stopping = true;
    if (state_->wake) {
        wl_event_source_remove(state_->wake);
    }
    wl_display_destroy_clients(state_->display);
    wl_display_destroy(state_->display);
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
}

void DataControlTestCompositor::finishDevices() {
    post([this] {
        for (Device* device : state_->devices) {
            if (!device->finished) {
                device->finished = true;
                ext_data_control_device_v1_send_finished(device->resource);
            }
        }
    });
}

void DataControlTestCompositor::post(std::function<void()> task) {
    {
        const std::lock_guard lock(tasksMutex_);
        tasks_.push_back(std::move(task));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void DataControlTestCompositor::runTasks() {
    std::vector<std::function<void()>> tasks;
    {
        const std::lock_guard lock(tasksMutex_);
        tasks.swap(tasks_);
    }
    for (auto& task : tasks) {
        task();
    }
}

} // namespace orvane::test
