#pragma once

#include "platform/linux/wayland/DataControlDiscovery.h"

#include <QByteArray>
#include <QList>

#include <memory>

struct wl_display;
struct wl_proxy;

namespace orvane {

// The data-control objects of one connection (manager, seat, device and the offers and
// sources they make), behind one interface whichever of the two protocols the compositor
// speaks. Offers and sources are named by their proxies. Every call and every handler call
// happens on the thread that dispatches the connection.
class DataControlSession {
public:
    using Offer = wl_proxy;
    using Source = wl_proxy;

    class Handler {
    public:
        virtual ~Handler() = default;
        // A new offer, announced before the selection event that names it.
        virtual void offerCreated(Offer* offer) = 0;
        virtual void offerType(Offer* offer, const char* mimeType) = 0;
        // The clipboard now holds `offer`'s data; null: the clipboard is empty.
        virtual void selectionChanged(Offer* offer) = 0;
        // The primary selection (not watched) now holds `offer`, possibly null.
        virtual void primarySelectionChanged(Offer* offer) = 0;
        // The compositor withdrew the device; nothing more will arrive.
        virtual void deviceFinished() = 0;
        // A reader wants `source`'s data as `mimeType` written to `fd`, which the
        // handler now owns.
        virtual void sendRequested(Source* source, const char* mimeType, int fd) = 0;
        // `source` is no longer the clipboard's.
        virtual void sourceCancelled(Source* source) = 0;
    };

    virtual ~DataControlSession() = default;

    // Binds the manager and seat named by `globals` and gets the seat's device; the first
    // events arrive with the next dispatch.
    static std::unique_ptr<DataControlSession>
    create(wl_display* display, const DataControlGlobals& globals, Handler& handler);

    virtual void receive(Offer* offer, const QByteArray& mimeType, int fd) = 0;
    virtual void destroyOffer(Offer* offer) = 0;
    // A new source offering `mimeTypes`, made the clipboard's selection.
    virtual Source* setSelection(const QList<QByteArray>& mimeTypes) = 0;
    virtual void destroySource(Source* source) = 0;
};

} // namespace orvane
