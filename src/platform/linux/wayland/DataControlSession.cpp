#include "platform/linux/wayland/DataControlSession.h"

#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <algorithm>
#include <wayland-client.h>

namespace orvane {

namespace {

// The generated API of each protocol under one set of names. The two differ only in
// their prefixes, so one implementation serves both.
struct ExtApi {
    using Manager = ext_data_control_manager_v1;
    using Device = ext_data_control_device_v1;
    using Offer = ext_data_control_offer_v1;
    using Source = ext_data_control_source_v1;
    using DeviceListener = ext_data_control_device_v1_listener;
    using OfferListener = ext_data_control_offer_v1_listener;
    using SourceListener = ext_data_control_source_v1_listener;
    static constexpr const wl_interface* managerInterface = &ext_data_control_manager_v1_interface;
    static constexpr std::uint32_t highestVersion = 1;
    static constexpr auto getDevice = ext_data_control_manager_v1_get_data_device;
    static constexpr auto createSource = ext_data_control_manager_v1_create_data_source;
    static constexpr auto destroyManager = ext_data_control_manager_v1_destroy;
    static constexpr auto addDeviceListener = ext_data_control_device_v1_add_listener;
    static constexpr auto setSelection = ext_data_control_device_v1_set_selection;
    static constexpr auto destroyDevice = ext_data_control_device_v1_destroy;
    static constexpr auto addOfferListener = ext_data_control_offer_v1_add_listener;
    static constexpr auto receive = ext_data_control_offer_v1_receive;
    static constexpr auto destroyOffer = ext_data_control_offer_v1_destroy;
    static constexpr auto addSourceListener = ext_data_control_source_v1_add_listener;
    static constexpr auto offer = ext_data_control_source_v1_offer;
    static constexpr auto destroySource = ext_data_control_source_v1_destroy;
};

struct WlrApi {
    using Manager = zwlr_data_control_manager_v1;
    using Device = zwlr_data_control_device_v1;
    using Offer = zwlr_data_control_offer_v1;
    using Source = zwlr_data_control_source_v1;
    using DeviceListener = zwlr_data_control_device_v1_listener;
    using OfferListener = zwlr_data_control_offer_v1_listener;
    using SourceListener = zwlr_data_control_source_v1_listener;
    static constexpr const wl_interface* managerInterface = &zwlr_data_control_manager_v1_interface;
    // Version 2 adds the primary selection, whose offers must then be released.
    static constexpr std::uint32_t highestVersion = 2;
    static constexpr auto getDevice = zwlr_data_control_manager_v1_get_data_device;
    static constexpr auto createSource = zwlr_data_control_manager_v1_create_data_source;
    static constexpr auto destroyManager = zwlr_data_control_manager_v1_destroy;
    static constexpr auto addDeviceListener = zwlr_data_control_device_v1_add_listener;
    static constexpr auto setSelection = zwlr_data_control_device_v1_set_selection;
    static constexpr auto destroyDevice = zwlr_data_control_device_v1_destroy;
    static constexpr auto addOfferListener = zwlr_data_control_offer_v1_add_listener;
    static constexpr auto receive = zwlr_data_control_offer_v1_receive;
    static constexpr auto destroyOffer = zwlr_data_control_offer_v1_destroy;
    static constexpr auto addSourceListener = zwlr_data_control_source_v1_add_listener;
    static constexpr auto offer = zwlr_data_control_source_v1_offer;
    static constexpr auto destroySource = zwlr_data_control_source_v1_destroy;
};

template <typename Api>
class SessionOf final : public DataControlSession {
public:
    SessionOf(wl_display* display, const DataControlGlobals& globals, Handler& handler)
        : handler_(handler)
        , registry_(wl_display_get_registry(display)) {
        manager_ = static_cast<typename Api::Manager*>(
            wl_registry_bind(registry_, globals.managerName, Api::managerInterface,
                             std::min(globals.managerVersion, Api::highestVersion)));
        seat_ = static_cast<wl_seat*>(
            wl_registry_bind(registry_, globals.seatName, &wl_seat_interface, 1));
        device_ = Api::getDevice(manager_, seat_);
        Api::addDeviceListener(device_, &deviceListener, this);
    }

    ~SessionOf() override {
        if (device_) {
            Api::destroyDevice(device_);
        }
        Api::destroyManager(manager_);
        wl_seat_destroy(seat_);
        wl_registry_destroy(registry_);
    }

    void receive(Offer* offer, const QByteArray& mimeType, int fd) override {
        Api::receive(typed(offer), mimeType.constData(), fd);
    }

    void destroyOffer(Offer* offer) override { Api::destroyOffer(typed(offer)); }

    Source* setSelection(const QList<QByteArray>& mimeTypes) override {
        typename Api::Source* source = Api::createSource(manager_);
        Api::addSourceListener(source, &sourceListener, this);
        for (const QByteArray& type : mimeTypes) {
            Api::offer(source, type.constData());
        }
        if (device_) {
            Api::setSelection(device_, source);
        }
        return proxy(source);
    }

    void destroySource(Source* source) override {
        Api::destroySource(reinterpret_cast<typename Api::Source*>(source));
    }

private:
    static typename Api::Offer* typed(Offer* offer) {
        return reinterpret_cast<typename Api::Offer*>(offer);
    }
    template <typename T>
    static wl_proxy* proxy(T* object) {
        return reinterpret_cast<wl_proxy*>(object);
    }
    static SessionOf* self(void* data) { return static_cast<SessionOf*>(data); }

    static void dataOffer(void* data, typename Api::Device*, typename Api::Offer* offer) {
        Api::addOfferListener(offer, &offerListener, data);
        self(data)->handler_.offerCreated(proxy(offer));
    }
    static void selection(void* data, typename Api::Device*, typename Api::Offer* offer) {
        self(data)->handler_.selectionChanged(proxy(offer));
    }
    static void finished(void* data, typename Api::Device*) {
        SessionOf* session = self(data);
        Api::destroyDevice(session->device_);
        session->device_ = nullptr;
        session->handler_.deviceFinished();
    }
    static void primarySelection(void* data, typename Api::Device*, typename Api::Offer* offer) {
        self(data)->handler_.primarySelectionChanged(proxy(offer));
    }
    static void offerType(void* data, typename Api::Offer* offer, const char* mimeType) {
        self(data)->handler_.offerType(proxy(offer), mimeType);
    }
    static void send(void* data, typename Api::Source* source, const char* mimeType,
                     std::int32_t fd) {
        self(data)->handler_.sendRequested(proxy(source), mimeType, fd);
    }
    static void cancelled(void* data, typename Api::Source* source) {
        self(data)->handler_.sourceCancelled(proxy(source));
    }

    static constexpr typename Api::DeviceListener deviceListener = {dataOffer, selection, finished,
                                                                    primarySelection};
    static constexpr typename Api::OfferListener offerListener = {offerType};
    static constexpr typename Api::SourceListener sourceListener = {send, cancelled};

    Handler& handler_;
    wl_registry* registry_;
    typename Api::Manager* manager_ = nullptr;
    wl_seat* seat_ = nullptr;
    typename Api::Device* device_ = nullptr;
};

} // namespace

std::unique_ptr<DataControlSession> DataControlSession::create(wl_display* display,
                                                               const DataControlGlobals& globals,
                                                               Handler& handler) {
    if (globals.protocol == DataControlProtocol::ext) {
        return std::make_unique<SessionOf<ExtApi>>(display, globals, handler);
    }
    return std::make_unique<SessionOf<WlrApi>>(display, globals, handler);
}

} // namespace orvane
